#pragma once

#include <stdexcept>
#include <string>

namespace vorncom {

// Root of every exception the library raises internally. Families derive directly from it and
// carry their exact user- or developer-facing text (UTF-8). Exceptions never cross the exported
// boundary: the interface layer turns them into result codes.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Declares a family `Name` deriving directly from vorncom::Exception.
#define VORNCOM_EXCEPTION(Name)                                                  \
  class Name : public ::vorncom::Exception {                                     \
   public:                                                                       \
    explicit Name(const std::string& message) : ::vorncom::Exception(message) {} \
  }

// Raised by Variant conversions and array access on values of the wrong shape.
VORNCOM_EXCEPTION(EVariantError);

}  // namespace vorncom

#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/exception.h"

namespace vorncom {

// A digest that could not be computed: the crypto library failed, or a file could not be read.
VORNCOM_EXCEPTION(EDigestError);

// An incremental SHA-256. Update any number of times, then Final once; the object is spent after.
// Throws EDigestError when the crypto library fails.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(std::span<const std::byte> bytes);
  void Update(std::string_view bytes);
  // 64 lowercase hex digits.
  std::string Final();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
  bool finished_ = false;
};

// The SHA-256 of a file's bytes, read in bounded pieces. Throws EDigestError when the file cannot
// be opened or read.
std::string Sha256OfFile(const std::string& path);

}  // namespace vorncom

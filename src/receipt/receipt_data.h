#pragma once

#include <string>

#include "common/variant.h"

namespace vorncom::receipt {

// What one receipt prints: copies of the library values it reads.
struct ReceiptData {
  Variant protocol_data = Variant::Array(1, 14);  // elements 1..8 and 14 are printed
  Variant footer = Variant::Array(1, 12);         // 4 rows x 3 columns
  std::string institution_name = "o Vorn";        // with its article
  std::string institution_logo;                   // logo bitmap path, may be empty
  std::string images_folder;                      // ends with '/', may be empty
};

}  // namespace vorncom::receipt

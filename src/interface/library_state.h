#pragma once

#include <cstdint>
#include <string>

#include "common/variant.h"

namespace vorncom::iface {

// The library-wide values kept from load to unload. Exports are called from the host's
// user-interface thread one at a time, so nothing here is locked.
struct LibraryState {
  // Settings stored by the Define* exports.
  std::string server_name;
  int32_t server_port = 0;
  bool fixed_server = false;
  std::string config_file;  // at most 255 characters
  std::string institution_name = "o Vorn";
  std::string institution_logo;
  std::string help_file;
  Variant protocol_data = Variant::Array(1, 14);
  Variant receipt_footer = Variant::Array(1, 12);

  // Values the exports and the transfer window keep between calls.
  bool sent_state_known = false;
  bool package_sent = false;
  std::string last_host;
  int32_t last_port = 0;
  Variant packet_size;
  bool window_active = false;  // at most one live transfer window
};

// The one instance, created at load.
LibraryState& State();

// Load-time start-up: folders, configuration folder, defaults. Never throws: a missing
// installation registry value leaves the installation folders (and the default help file) empty.
void Startup();

// The default receipt footer: twelve lines, 4, 7, 8, 10 and 11 empty strings.
Variant DefaultReceiptFooter();

// Longest text a length-prefixed argument can carry.
inline constexpr size_t kMaxTextLength = 255;

}  // namespace vorncom::iface

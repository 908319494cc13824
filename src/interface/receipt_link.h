#pragma once

namespace vorncom::iface {

// The receipt runner the library registers at start-up: previews the receipt of the protocol
// data, footer and institution settings held in the library state. While it runs without a live
// transfer window, the call counts as the active window.
void RunLibraryReceipt();

}  // namespace vorncom::iface

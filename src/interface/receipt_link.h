#pragma once

#include <functional>

#include "receipt/receipt_data.h"

namespace vorncom::iface {

// Previews the receipt of the protocol data, footer and institution settings held in the library
// state. While it runs without a live transfer window, the call counts as the active window.
void RunLibraryReceipt();

// What shows a receipt: receipt::PrintComReceipt, unless a test puts another presenter in its
// place (an empty one restores the library's own).
using ReceiptPresenter = std::function<void(const receipt::ReceiptData& data)>;
void SetReceiptPresenter(ReceiptPresenter presenter);

}  // namespace vorncom::iface

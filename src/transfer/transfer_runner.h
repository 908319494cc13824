#pragma once

#include <cstdint>

#include "transfer/transfer_context.h"

namespace vorncom::transfer {

// Runs one export's operation with `context` and returns its result code. A send or receive shows
// the transfer window modally when a display can be used; without one (or unattended with no
// QT_QPA_PLATFORM) the window is never shown, the flow runs directly and closing it ends the
// call. The status query never shows the window. The caller sees to it that one window lives at
// a time.
ResultCode RunTransfer(const TransferRequest& request, TransferContext& context);

// Whether the flows would show the window now.
bool WindowShown();

}  // namespace vorncom::transfer

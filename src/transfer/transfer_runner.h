#pragma once

#include <cstdint>

#include "interface/transfer_gateway.h"

namespace vorncom::transfer {

// Runs one export's operation in a transfer window and returns its result code. A send or
// receive shows the window modally when a display can be used; without one (or with
// VORNCOM_UNATTENDED=1 and no QT_QPA_PLATFORM) the window is never shown, the flow runs
// directly and closing it ends the call. The status query never shows the window. At most one
// window lives at a time: a call while one is alive returns 25.
uint8_t RunTransfer(const iface::TransferRequest& request);

// Makes RunTransfer the library's transfer runner (called once at library start-up).
void RegisterTransferWindow();

// Whether the flows would show the window now.
bool WindowShown();

}  // namespace vorncom::transfer

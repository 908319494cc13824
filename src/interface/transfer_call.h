#pragma once

#include "common/result_code.h"

#include "transfer/transfer_context.h"

namespace vorncom::iface {

// Runs `request` in a transfer with the library's settings, its FileSent check and its receipt,
// and keeps what the transfer leaves (last endpoint, packet size, protocol data) in the library
// state, also when the transfer fails. One transfer window lives at a time: 25 while one does.
ResultCode RunTransferCall(const transfer::TransferRequest& request);

}  // namespace vorncom::iface

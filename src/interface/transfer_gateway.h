#pragma once

#include <cstdint>
#include <string>

#include "common/variant.h"

namespace vorncom::iface {

// What an export hands to the transfer window for one call.
struct TransferRequest {
  enum class Operation : uint8_t { kReceive = 0, kSend = 1, kStatus = 5 };
  Operation operation = Operation::kSend;
  std::string file_name;  // send: package path; receive: name on the server
  bool close_after_send = false;
  Variant client_info;        // receive: the 14-element client information
  std::string form_type;      // status query
  std::string form_version;   // status query
  uint8_t* status = nullptr;  // status query: receives the form's status when one is defined
};

// The transfer window registers itself here; it runs one operation and returns the result code.
using TransferRunner = uint8_t (*)(const TransferRequest& request);
void SetTransferRunner(TransferRunner runner);
// Code 25 when no transfer window is linked into the library.
uint8_t RunTransferWindow(const TransferRequest& request);

// The receipt registers itself here: steps 2..6 of printing a receipt (window, printer check,
// preview) for the protocol data now held in the library state.
using ReceiptRunner = void (*)();
void SetReceiptRunner(ReceiptRunner runner);
// Does nothing when no receipt is linked into the library.
void RunReceipt();

}  // namespace vorncom::iface

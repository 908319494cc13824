#pragma once

#include <cstdint>

#include "common/variant.h"
#include "transfer/transfer_run.h"

namespace vorncom::transfer {

// Sending a form package: the FileSent check, the header check, the upload in packets, the
// server's validation and protocolation, the local protocol record and the receipt.
class SendFlow {
 public:
  explicit SendFlow(TransferRun& run) : run_(run) {}
  // Leaves the result code in the run; the window closes where the send ends it.
  void Run();

 private:
  // The checks before connecting; false when the send ends there.
  bool CheckPackage();
  ResultCode SendPackets();
  void Finish();
  // Ends the send with `code` after a failed protocolation step.
  void ProtocolationFailed(ResultCode code, std::string_view where, const std::string& cause);

  TransferRun& run_;
};

// Throws unless `data`, as Protocolate left it, is a new protocol record: a 14-element array with
// a protocol number, other than `before`.
void CheckProtocolData(const Variant& data, const Variant& before);

}  // namespace vorncom::transfer

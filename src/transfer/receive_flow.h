#pragma once

#include <cstdint>

#include "transfer/transfer_run.h"

namespace vorncom::transfer {

// Receiving a file the server holds for the client: the download in packets into the host
// folder, the size check, the server's protocolation and, when asked, erasing the server's copy.
class ReceiveFlow {
 public:
  explicit ReceiveFlow(TransferRun& run) : run_(run) {}
  // Leaves the result code in the run; the window closes where the receive ends it.
  void Run();

 private:
  ResultCode ReceivePackets();
  // The packets after GetFile into `out`; returns the code.
  ResultCode CopyPackets(std::ofstream& out);
  void Finish();
  void ValidationFailed();

  TransferRun& run_;
};

}  // namespace vorncom::transfer

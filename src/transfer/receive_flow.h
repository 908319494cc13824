#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

#include "transfer/link_recovery.h"
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
  // The packets after GetFile into `out`, the file at `temp_path`; returns the code. A version-2
  // download whose link broke goes on over a new connection from the bytes it kept.
  ResultCode CopyPackets(std::ofstream& out, const std::string& temp_path);
  // GetFile of the name and client information the host asked for; leaves the name the server
  // gave in `name` and the client information in the run.
  int32_t AskFile(std::string& name);
  // On a new connection: GetFile again, then ResumeDownload from the `kept` bytes when the file
  // is the same size, else starts `out` over. False when the server now gives another file.
  bool TakeUp(std::ofstream& out, const std::string& temp_path, int64_t& kept);
  void Finish();
  void ValidationFailed();

  TransferRun& run_;
  std::string requested_name_;
  Variant requested_info_;
  std::optional<LinkRecovery> recovery_;
};

}  // namespace vorncom::transfer

#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

#include "common/variant.h"
#include "journal/send_journal.h"
#include "transfer/link_recovery.h"
#include "transfer/packet_pipeline.h"
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
  // The journal, and in it an earlier send of this package that did not end.
  void OpenJournal();
  // Moves the journal's send on, on the server connected to now.
  void Record(journal::SendState state, const std::string& protocol_number = {});
  // An earlier send in doubt: true when the server registered it, its protocol data then held.
  bool FoundEarlierRegistration();
  ResultCode SendPackets();
  // Cancel during the upload or a pause between attempts: code 2, the connection dropped.
  ResultCode Cancelled();
  // A version-2 server: the upload can be resumed after the link broke.
  bool Resumable() { return recovery_.has_value(); }
  // Starts the resumable upload, or takes it up again on a new connection: the byte from which
  // the server wants the rest. An upload the server no longer knows starts over.
  int64_t StartOrResume();
  static constexpr int kResumeAsks = 4;
  static constexpr std::chrono::milliseconds kResumeAskPause{250};
  // Lets the window's events in for `pause`, less when the user cancels.
  void Wait(std::chrono::milliseconds pause);
  // Sends the file from `offset` on; kStopped on Cancel.
  PipelineEnd Upload(int64_t offset);
  // On a new connection after ValidFile or Protocolate lost its link: the server holds the
  // whole upload again when it returns.
  void ResumeWhole();
  void Finish();
  // ValidFile, again on a new connection while the link breaks; false when the send ended.
  bool Validate();
  // Protocolate, or on a new connection the registration the lost reply would have told of;
  // false when the send ended.
  bool ProtocolateRemotely(Variant& protocol_data);
  void ValidationRefused();
  // The protocol record into the package, the receipt.
  void Stamp();
  // Ends the send with `code` after a failed protocolation step.
  void ProtocolationFailed(ResultCode code, std::string_view where, const std::string& cause);

  TransferRun& run_;
  std::ifstream file_;
  std::string sha256_;
  std::string upload_id_;
  std::optional<LinkRecovery> recovery_;
  // Where the journal's send stands; abandoned also means "none".
  journal::SendState journal_state_ = journal::SendState::kAbandoned;
  bool in_doubt_ = false;  // an earlier send may have been registered
};

// Throws unless `data`, as Protocolate left it, is a new protocol record: a 14-element array with
// a protocol number, other than `before`.
void CheckProtocolData(const Variant& data, const Variant& before);

}  // namespace vorncom::transfer

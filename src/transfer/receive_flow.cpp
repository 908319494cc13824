#include "transfer/receive_flow.h"

#include <fstream>
#include <memory>
#include <new>
#include <vector>

#include "common/atomic_file.h"
#include "common/environment.h"
#include "common/exception.h"
#include "common/file_names.h"
#include "common/messages.h"
#include "rpc/errors.h"
#include "transfer/packet_pipeline.h"

namespace vorncom::transfer {

void ReceiveFlow::Run() {
  auto element = [this](int32_t i) {
    try {
      return run_.client_info.At(i).ToString();
    } catch (const std::exception&) {
      return std::string();
    }
  };
  run_.requester_name = element(11);
  run_.requester_id = element(9);
  run_.form_name = element(6);
  run_.form_type = element(5);
  run_.form_version = element(7);
  run_.view.SetRequester(run_.requester_name, run_.requester_id, run_.form_name);
  run_.view.SetTimerEnabled(true);
  run_.cancel_requested = false;
  run_.journal = std::make_unique<TransferJournal>(std::string(kJournalReceive), run_.file_name);
  run_.result_code = run_.ConnectAndMove(Flow::kReceive, [this] { return ReceivePackets(); });
  run_.view.SetTimerEnabled(false);
  switch (run_.result_code) {
    case ResultCode::kSuccess:
      Finish();
      break;
    case ResultCode::kTransferFailed:
    case ResultCode::kFileMissing:  // nothing to fetch
      run_.Abandon();
      break;
    default:
      break;  // the refusal closed the window already, or it stays open for the user
  }
  run_.ConnectionEnded();
}

void ReceiveFlow::ValidationFailed() {
  run_.Status(msg::Format(msg::kValidatingFile, {msg::kRecebido}));
  run_.Disconnect();
  run_.transferring = false;
  run_.Error(msg::Format(msg::kValidationFailed, {msg::kRecebido, run_.Institution()}));
  run_.view.CloseWindow();
}

void ReceiveFlow::Finish() {
  TransferView& view = run_.view;
  view.SetStepMaximum(2);
  run_.Status(msg::Format(msg::kValidatingFile, {msg::kRecebido}));
  if (env::GetFileSize(run_.LocalFilePath()) != run_.file_size) {
    run_.result_code = ResultCode::kTransferredFileInvalid;
    ValidationFailed();
    return;
  }
  view.SetStepPosition(1);
  rpc::ReceptionServer& server = run_.connector.Server();
  try {
    run_.Status(msg::Format(msg::kProtocolating, {msg::kRemotamente, msg::kDownload}));
    server.Protocolate(run_.client_info);
    view.SetStepPosition(2);
  } catch (const std::exception& e) {
    run_.failure_detail = e.what();
    run_.result_code = ResultCode::kRemoteProtocolFailed;
    const std::string text =
        msg::Format(msg::kProtocolateFailed, {msg::kRemotamente, msg::kDownload});
    run_.Status(text);
    run_.Disconnect();
    run_.transferring = false;
    run_.ErrorWithDetails(text, msg::Format(msg::kProtocolateFailedDetails, {e.what()}));
    return;
  }
  try {
    if (run_.EraseRequested()) {
      Variant name(run_.file_name);
      server.EraseFile(name);
    }
  } catch (const std::exception&) {
    // The file is here and protocolated; a copy left on the server is the server's to clean.
  }
  run_.Disconnect();
  view.CloseWindow();
}

ResultCode ReceiveFlow::ReceivePackets() {
  const std::string& institution = run_.Institution();
  auto failed = [&](std::string_view why) {
    run_.Error(msg::Format(msg::kReceiveFailed, {institution, why}));
    run_.transferring = false;
    return ResultCode::kTransferFailed;
  };
  run_.Status(std::string(msg::kStartingTransmission));
  if (run_.connector.Server().ProtocolVersion() >= 2) {
    recovery_.emplace(run_, run_.MakeConnectRequest(rpc::Operation::kReceive));
  }
  requested_name_ = run_.file_name;
  requested_info_ = run_.client_info;
  for (;;) {
    try {
      run_.file_size = AskFile(run_.file_name);
      break;
    } catch (const std::exception& e) {
      run_.failure_detail = e.what();
      if (recovery_ && IsLinkFailure(e) && recovery_->Reconnect(e, ResultCode::kTransferFailed))
        continue;
      if (run_.cancel_requested) {
        run_.transferring = false;
        return ResultCode::kCancelled;
      }
      return failed(msg::kStartProblems);
    }
  }
  if (run_.file_size == 0) {
    run_.transferring = false;
    return ResultCode::kFileMissing;
  }
  // No size a file can have: the download cannot begin.
  if (run_.file_size < 0) return failed(msg::kStartProblems);
  run_.StartProgress(run_.file_size);

  // The server names the local file; a name that would leave the base folder is refused.
  if (!IsBareFileName(run_.file_name)) return failed(msg::kSaveProblems);
  // The download goes to a file beside the target and replaces it only once complete, so a
  // failed or cancelled download leaves an earlier file of that name as it was.
  std::unique_ptr<AtomicFile> target;
  std::ofstream out;
  try {
    target = std::make_unique<AtomicFile>(run_.LocalFilePath());
    out.open(target->temp_path(), std::ios::binary | std::ios::trunc);
    if (!out) throw Exception("cannot create");
  } catch (const std::exception&) {
    run_.transferring = false;
    return ResultCode::kTransferFailed;
  }
  ResultCode code = CopyPackets(out, target->temp_path());
  if (run_.cancel_requested) code = ResultCode::kCancelled;
  out.close();
  run_.transferring = false;
  if (code == ResultCode::kTransferredFileInvalid) ValidationFailed();
  if (code == ResultCode::kSuccess) {
    try {
      if (out.fail()) throw Exception("close failed");
      target->Commit();
    } catch (const std::exception&) {
      run_.Error(msg::Format(msg::kReceiveFailed, {institution, msg::kSaveProblems}));
      code = ResultCode::kTransferFailed;
    }
  }
  return code;
}

ResultCode ReceiveFlow::CopyPackets(std::ofstream& out, const std::string& temp_path) {
  const std::string& institution = run_.Institution();
  const int32_t packet_size = run_.connector.PacketSize();
  try {
    AllocatePacket(packet_size);  // a size no buffer can have ends the download here
  } catch (const std::bad_alloc&) {
    run_.Error(msg::Format(msg::kReceiveFailed, {institution, msg::kNoMemoryToReceive}));
    return ResultCode::kTransferFailed;
  }
  run_.Status(std::string(msg::kReceivingData));
  int64_t kept = 0;  // bytes in `out`
  PipelineEnd end = PipelineEnd::kComplete;
  for (bool resume = false;;) {
    try {
      if (resume && !TakeUp(out, temp_path, kept)) {
        run_.Error(msg::Format(msg::kReceiveFailed, {institution, msg::kReceiveProblems}));
        return ResultCode::kTransferFailed;
      }
      rpc::ReceptionServer& server = run_.connector.Server();
      PacketWindow window(packet_size, server.ProtocolVersion(), server.RoundTrip());
      end = DownloadPackets(server, out, kept, run_.file_size, packet_size, window,
                            [this, &kept](int64_t done) {
                              kept = done;
                              run_.ShowProgress(static_cast<int32_t>(done));
                              return !run_.cancel_requested;
                            });
      break;
    } catch (const rpc::ERemoteCallError& e) {
      run_.failure_detail = e.what();
      if (recovery_ && IsLinkFailure(e) && recovery_->Reconnect(e, ResultCode::kTransferFailed)) {
        resume = true;
        continue;
      }
      if (run_.cancel_requested) return ResultCode::kCancelled;
      run_.Error(msg::Format(msg::kReceiveFailed, {institution, msg::kReceiveProblems}));
      return ResultCode::kTransferFailed;
    } catch (const std::exception&) {
      run_.Error(msg::Format(msg::kReceiveFailed, {institution, msg::kSaveProblems}));
      return ResultCode::kTransferFailed;
    }
  }
  // A download that ended short is judged by the size check that follows.
  return end == PipelineEnd::kOversized ? ResultCode::kTransferredFileInvalid
                                        : ResultCode::kSuccess;
}

int32_t ReceiveFlow::AskFile(std::string& name) {
  Variant asked(requested_name_);
  Variant info = requested_info_;
  const int32_t size = run_.connector.Server().GetFile(asked, info);
  run_.client_info = std::move(info);
  name = asked.ToString();
  return size;
}

bool ReceiveFlow::TakeUp(std::ofstream& out, const std::string& temp_path, int64_t& kept) {
  std::string name;
  const int32_t size = AskFile(name);
  // Another file under the name asked for is no continuation of this one.
  if (name != run_.file_name || size <= 0) return false;
  if (size == run_.file_size) {
    if (kept > 0) run_.connector.Server().ResumeDownload(static_cast<double>(kept));
    return true;
  }
  // The server's file changed: what was kept belongs to another version of it.
  out.close();
  out.open(temp_path, std::ios::binary | std::ios::trunc);
  if (!out) throw Exception("cannot create");
  kept = 0;
  run_.file_size = size;
  run_.StartProgress(size);
  return true;
}

}  // namespace vorncom::transfer

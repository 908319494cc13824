#include "transfer/send_flow.h"

#include <fstream>
#include <new>
#include <thread>
#include <vector>

#include "common/environment.h"
#include "common/exception.h"
#include "common/message_dialog.h"
#include "common/messages.h"
#include "common/sha256.h"
#include "package/control_files.h"
#include "package/failure_codes.h"
#include "package/protocol_manager.h"
#include "package/validation_manager.h"
#include "rpc/errors.h"

namespace vorncom::transfer {
namespace {

// Blanks and control characters only, as a trim would leave nothing.
bool IsBlank(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

// What the header check was doing when it failed with `code`.
std::string_view HeaderStep(ResultCode code) {
  switch (code) {
    case ResultCode::kWorkFolderFailed:
      return msg::kCreateTempFolder;
    case ResultCode::kHeaderNotExtracted:
      return msg::kExtractHeader;
    default:
      return msg::kProcessHeader;
  }
}

}  // namespace

void CheckProtocolData(const Variant& data, const Variant& before) {
  bool numbered = false;
  try {
    numbered = data.IsArray() && data.LowerBound() == 1 &&
               data.UpperBound() == package::pd::kCount &&
               !IsBlank(data.At(package::pd::kProtocolNumber).ToString());
  } catch (const std::exception&) {
    numbered = false;
  }
  // Data left as it was is no protocol either, whatever it held before.
  if (!numbered || data == before) throw Exception(std::string(msg::kNoProtocolNumber));
}

void SendFlow::Run() {
  if (!CheckPackage()) return;
  run_.view.SetTimerEnabled(true);
  run_.cancel_requested = false;
  run_.file_size = env::GetFileSize(run_.file_name);
  // Before connecting: a resumable upload names its content when it starts.
  sha256_ = Sha256OfFile(run_.file_name);
  OpenJournal();
  run_.StartProgress(run_.file_size);
  bool registered_before = false;
  run_.result_code = run_.ConnectAndMove(Flow::kSend, [&] {
    registered_before = in_doubt_ && FoundEarlierRegistration();
    return registered_before ? ResultCode::kSuccess : SendPackets();
  });
  run_.view.SetTimerEnabled(false);
  if (run_.result_code == ResultCode::kSuccess) {
    if (registered_before) {
      run_.view.SetStepMaximum(3);
      run_.view.SetStepPosition(2);
      Stamp();
    } else {
      Finish();
    }
  } else if (run_.result_code == ResultCode::kTransferFailed) {
    run_.Abandon();
  }
  // A send given up before its registration call leaves nothing to ask about later.
  if (run_.result_code != ResultCode::kSuccess &&
      journal_state_ == journal::SendState::kUploading) {
    Record(journal::SendState::kAbandoned);
  }
  run_.ConnectionEnded();
  // Any other code has had its say: the window stays open until the user closes it, or the
  // refusal closed it already.
}

void SendFlow::OpenJournal() {
  run_.journal =
      std::make_unique<TransferJournal>(std::string(kJournalSend), FileNamePart(run_.file_name));
  run_.journal->SetPackage(sha256_, run_.file_size, run_.file_name);
  const std::optional<journal::SendRecord> open = run_.journal->FindOpen();
  if (!open) return;
  run_.journal->Adopt(*open);
  journal_state_ = open->state;
  upload_id_ = open->upload_id;
  in_doubt_ = open->state == journal::SendState::kProtocolating ||
              open->state == journal::SendState::kRegistered;
}

void SendFlow::Record(journal::SendState state, const std::string& protocol_number) {
  if (!run_.journal) return;
  run_.journal->Move(state, run_.ServerText(), upload_id_, protocol_number);
  journal_state_ = state;
}

bool SendFlow::FoundEarlierRegistration() {
  Variant& protocol_data = run_.context.results.protocol_data;
  const Variant before = protocol_data;
  try {
    rpc::ReceptionServer& server = run_.connector.Server();
    if (server.ProtocolVersion() >= 2) {
      run_.Status(msg::Format(msg::kProtocolating, {msg::kRemotamente, msg::kEnvio}));
      std::optional<Variant> found = server.FindRegistration(upload_id_, sha256_, run_.file_size,
                                                             FileNamePart(run_.file_name));
      if (found) {
        protocol_data = std::move(*found);
        CheckProtocolData(protocol_data, before);
        Record(journal::SendState::kRegistered,
               protocol_data.At(package::pd::kProtocolNumber).ToString());
        return true;
      }
    }
  } catch (const std::exception& e) {
    // Not knowing is no answer: the send goes on as a new one, and the server's own
    // deduplication keeps it from being registered twice.
    protocol_data = before;
    run_.failure_detail = e.what();
  }
  // Registered by the journal's word but not found now: the send that follows is one of its own
  // (a registered send can only be stamped).
  if (journal_state_ == journal::SendState::kRegistered) {
    if (run_.journal) run_.journal->Forget();
    journal_state_ = journal::SendState::kAbandoned;
  }
  return false;
}

bool SendFlow::CheckPackage() {
  TransferView& view = run_.view;
  run_.result_code = run_.context.file_sent(run_.file_name, run_.context.results.protocol_data);
  switch (run_.result_code) {
    case ResultCode::kAlreadySent:
      if (MostrarMensagem(std::string(msg::kAlreadySentViewReceipt), MessageKind::kConfirmation,
                          buttons::kYes | buttons::kNo) == results::kYes) {
        view.EnableReceipt(true);
        run_.context.show_receipt(run_.context.results.protocol_data);
      } else {
        view.CloseWindow();
      }
      return false;
    case ResultCode::kWorkFolderFailed:
    case ResultCode::kProtocolNotExtracted:
    case ResultCode::kProtocolNotSearched:
    case ResultCode::kProtocolUnreadable:
      view.CloseWindow();
      return false;
    default:
      break;
  }
  package::TValidationManager validation;
  validation.set_package_file_name(FileNamePart(run_.file_name));
  validation.set_package_path(run_.file_name);
  try {
    validation.ExtractHeader();
  } catch (const std::exception& e) {
    const ResultCode code = package::ResultCodeFor(e, package::FailedStep::kHeaderCheck);
    if (code == ResultCode::kUnexpectedFailure) throw;
    run_.result_code = code;
    run_.Error(msg::Format(msg::kErrorDoing, {HeaderStep(code)}));
    view.CloseWindow();
    return false;
  }
  if (!validation.ValidateHeader(1)) {
    run_.result_code = ResultCode::kPackageInvalid;
    view.CloseWindow();
    return false;
  }
  const package::HeaderValues& header = validation.header();
  run_.requester_name = header.requester_name;
  run_.requester_id = header.requester_id;
  run_.form_name = header.request_name;
  run_.form_type = header.request_type;
  run_.form_version = header.request_version;
  view.SetRequester(run_.requester_name, run_.requester_id,
                    run_.form_name + " - " + run_.form_version);
  return true;
}

ResultCode SendFlow::SendPackets() {
  const std::string& institution = run_.Institution();
  auto failed = [&](std::string_view why) {
    run_.Error(msg::Format(msg::kSendFailed, {institution, why}));
    run_.transferring = false;
    return ResultCode::kTransferFailed;
  };
  if (run_.connector.Server().ProtocolVersion() >= 2) {
    recovery_.emplace(run_, run_.MakeConnectRequest(rpc::Operation::kSend));
  }
  run_.Status(std::string(msg::kStartingTransmission));
  int64_t offset = 0;
  for (;;) {
    try {
      if (Resumable()) {
        offset = StartOrResume();
      } else {
        run_.connector.Server().SendFile(Variant(FileNamePart(run_.file_name)));
      }
      break;
    } catch (const std::exception& e) {
      run_.failure_detail = e.what();
      if (Resumable() && IsLinkFailure(e) && recovery_->Reconnect(e, ResultCode::kTransferFailed))
        continue;
      if (run_.cancel_requested) return Cancelled();
      return failed(msg::kStartProblems);
    }
  }
  file_.open(run_.file_name, std::ios::binary);
  if (!file_) throw Exception(msg::Format(msg::kCannotOpenFile, {run_.file_name}));
  try {
    AllocatePacket(run_.connector.PacketSize());  // a size no buffer can have ends the upload
  } catch (const std::bad_alloc&) {
    return failed(msg::kNoMemoryToSend);
  }
  run_.Status(std::string(msg::kSendingData));
  PipelineEnd end = PipelineEnd::kComplete;
  for (bool resume = false;;) {
    try {
      if (resume) offset = StartOrResume();
      end = Upload(offset);
      break;
    } catch (const std::exception& e) {
      run_.failure_detail = e.what();
      if (Resumable() && IsLinkFailure(e) && recovery_->Reconnect(e, ResultCode::kTransferFailed)) {
        resume = true;
        continue;
      }
      if (run_.cancel_requested) return Cancelled();
      run_.view.SetStatus("");
      return failed(msg::kSendProblems);
    }
  }
  run_.transferring = false;
  if (end == PipelineEnd::kStopped || run_.cancel_requested) return Cancelled();
  return ResultCode::kSuccess;
}

ResultCode SendFlow::Cancelled() {
  // Calls may still be in flight: the upload ends with its connection.
  run_.Disconnect();
  run_.transferring = false;
  return ResultCode::kCancelled;
}

void SendFlow::Wait(std::chrono::milliseconds pause) {
  const auto deadline = std::chrono::steady_clock::now() + pause;
  while (std::chrono::steady_clock::now() < deadline && !run_.cancel_requested) {
    run_.view.ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int64_t SendFlow::StartOrResume() {
  rpc::ReceptionServer& server = run_.connector.Server();
  const std::string name = FileNamePart(run_.file_name);
  if (!upload_id_.empty()) {
    double held = -1;
    // The server may still hold the upload in the session that broke; it closes that one when
    // asked, so a refusal is asked again after a moment before the upload starts over (another
    // server of the list, an expired or discarded upload).
    for (int ask = 0; ask < kResumeAsks && held < 0; ++ask) {
      try {
        if (ask > 0) Wait(kResumeAskPause * ask);
        held = server.ResumeUpload(upload_id_);
      } catch (const rpc::EServerError&) {
        held = -1;
      }
    }
    if (held >= 0 && held <= run_.file_size && held == static_cast<double>(int64_t(held))) {
      Record(journal::SendState::kUploading);
      return static_cast<int64_t>(held);
    }
  }
  upload_id_ = server.StartUpload(name, run_.file_size, sha256_);
  // An earlier send in doubt that this server did not know ends here: this one replaces it.
  if (journal_state_ != journal::SendState::kUploading &&
      journal_state_ != journal::SendState::kProtocolating) {
    if (run_.journal) run_.journal->Forget();
  }
  Record(journal::SendState::kUploading);
  return 0;
}

PipelineEnd SendFlow::Upload(int64_t offset) {
  rpc::ReceptionServer& server = run_.connector.Server();
  const int32_t packet_size = run_.connector.PacketSize();
  PacketWindow window(packet_size, server.ProtocolVersion(), server.RoundTrip());
  // A file that ends on a packet boundary has nothing left to send once the server holds it all.
  if (offset >= run_.file_size && offset > 0) return PipelineEnd::kComplete;
  return UploadPackets(server, file_, offset, packet_size, window, [this](int64_t done) {
    run_.ShowProgress(static_cast<int32_t>(done));
    return !run_.cancel_requested;
  });
}

void SendFlow::ResumeWhole() {
  const int64_t offset = StartOrResume();
  if (offset < run_.file_size && Upload(offset) == PipelineEnd::kStopped) {
    throw Exception(std::string(msg::kSendAborted));
  }
}

void SendFlow::ProtocolationFailed(ResultCode code, std::string_view where,
                                   const std::string& cause) {
  run_.result_code = code;
  const std::string text = msg::Format(msg::kProtocolateFailed, {where, msg::kEnvio});
  run_.Status(text);
  run_.Disconnect();
  run_.transferring = false;
  run_.ErrorWithDetails(text, msg::Format(msg::kProtocolateFailedDetails, {cause}));
}

void SendFlow::ValidationRefused() {
  run_.result_code = ResultCode::kTransferredFileInvalid;
  run_.Status(msg::Format(msg::kValidatingFile, {msg::kEnviado}));
  run_.Disconnect();
  run_.transferring = false;
  run_.Error(msg::Format(msg::kValidationFailed, {msg::kEnviado, run_.Institution()}));
  run_.view.CloseWindow();
}

bool SendFlow::Validate() {
  run_.Status(msg::Format(msg::kValidatingFile, {msg::kEnviado}));
  bool valid = false;
  for (bool resume = false;;) {
    try {
      if (resume) ResumeWhole();
      valid = run_.connector.Server().ValidFile(Variant(int32_t{0}));
      break;
    } catch (const std::exception& e) {
      run_.failure_detail = e.what();
      if (Resumable() && IsLinkFailure(e) && recovery_->Reconnect(e, ResultCode::kTransferFailed)) {
        resume = true;
        continue;
      }
      run_.result_code = ResultCode::kTransferFailed;
      run_.Status(msg::Format(msg::kErrorDoing, {msg::kSendTheFile}));
      run_.Disconnect();
      run_.transferring = false;
      run_.ErrorWithDetails(msg::Format(msg::kSendFailed, {run_.Institution(), msg::kSendProblems}),
                            msg::Format(msg::kProtocolateFailedDetails, {e.what()}));
      return false;
    }
  }
  if (!valid) ValidationRefused();
  return valid;
}

bool SendFlow::ProtocolateRemotely(Variant& protocol_data) {
  const Variant before = protocol_data;
  run_.Status(msg::Format(msg::kProtocolating, {msg::kRemotamente, msg::kEnvio}));
  for (bool lost = false;;) {
    try {
      rpc::ReceptionServer* server = &run_.connector.Server();
      if (lost) {
        // The reply was lost: the server may have registered the upload, and must not twice.
        std::optional<Variant> found = server->FindRegistration(upload_id_, sha256_, run_.file_size,
                                                                FileNamePart(run_.file_name));
        if (found) {
          protocol_data = std::move(*found);
          CheckProtocolData(protocol_data, before);
          Record(journal::SendState::kRegistered,
                 protocol_data.At(package::pd::kProtocolNumber).ToString());
          return true;
        }
        ResumeWhole();
        server = &run_.connector.Server();
        if (!server->ValidFile(Variant(int32_t{0}))) {
          protocol_data = before;
          ValidationRefused();
          return false;
        }
      }
      // Durable before the call: a reply that never arrives can be asked about later.
      Record(journal::SendState::kProtocolating);
      server->Protocolate(protocol_data);
      CheckProtocolData(protocol_data, before);
      Record(journal::SendState::kRegistered,
             protocol_data.At(package::pd::kProtocolNumber).ToString());
      return true;
    } catch (const std::exception& e) {
      run_.failure_detail = e.what();
      // The package is stamped only with a protocol the server really gave.
      protocol_data = before;
      if (Resumable() && IsLinkFailure(e) &&
          recovery_->Reconnect(e, ResultCode::kRemoteProtocolFailed)) {
        lost = true;
        continue;
      }
      ProtocolationFailed(ResultCode::kRemoteProtocolFailed, msg::kRemotamente, e.what());
      return false;
    }
  }
}

void SendFlow::Finish() {
  TransferView& view = run_.view;
  view.SetStepMaximum(3);
  if (!Validate()) return;
  view.SetStepPosition(1);

  if (!ProtocolateRemotely(run_.context.results.protocol_data)) return;
  view.SetStepPosition(2);
  Stamp();
}

void SendFlow::Stamp() {
  TransferView& view = run_.view;
  Variant& protocol_data = run_.context.results.protocol_data;
  run_.Status(msg::Format(msg::kProtocolating, {msg::kLocalmente, msg::kEnvio}));
  package::TVornComProtocolManager protocol_manager;
  protocol_manager.set_protocol_data(protocol_data);
  protocol_manager.set_package_path(run_.file_name);
  try {
    protocol_manager.RecordProtocol(1, 1);
  } catch (const std::exception& e) {
    const ResultCode code = package::ResultCodeFor(e, package::FailedStep::kLocalProtocolation);
    if (code == ResultCode::kUnexpectedFailure) throw;
    ProtocolationFailed(code, msg::kLocalmente, e.what());
    return;
  }
  Record(journal::SendState::kStamped, protocol_data.At(package::pd::kProtocolNumber).ToString());
  view.SetStepPosition(3);
  run_.Status(std::string(msg::kFileSentOk));
  view.SetStepPosition(0);
  view.EnableReceipt(true);
  run_.Disconnect();
  if (run_.close_after_send) {
    view.CloseWindow();
  } else {
    run_.context.show_receipt(protocol_data);
  }
}

}  // namespace vorncom::transfer

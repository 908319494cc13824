#include "transfer/send_flow.h"

#include <fstream>
#include <new>
#include <vector>

#include "common/environment.h"
#include "common/exception.h"
#include "common/message_dialog.h"
#include "common/messages.h"
#include "package/control_files.h"
#include "package/failure_codes.h"
#include "package/protocol_manager.h"
#include "package/validation_manager.h"
#include "rpc/errors.h"
#include "transfer/packet_pipeline.h"

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
  run_.StartProgress(run_.file_size);
  run_.result_code = run_.ConnectAndMove(Flow::kSend, [this] { return SendPackets(); });
  run_.view.SetTimerEnabled(false);
  if (run_.result_code == ResultCode::kSuccess) {
    Finish();
  } else if (run_.result_code == ResultCode::kTransferFailed) {
    run_.Abandon();
  }
  // Any other code has had its say: the window stays open until the user closes it, or the
  // refusal closed it already.
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
  rpc::ReceptionServer& server = run_.connector.Server();
  auto failed = [&](std::string_view why) {
    run_.Error(msg::Format(msg::kSendFailed, {institution, why}));
    run_.transferring = false;
    return ResultCode::kTransferFailed;
  };
  run_.Status(std::string(msg::kStartingTransmission));
  try {
    server.SendFile(Variant(FileNamePart(run_.file_name)));
  } catch (const std::exception&) {
    return failed(msg::kStartProblems);
  }
  std::ifstream file(run_.file_name, std::ios::binary);
  if (!file) throw Exception(msg::Format(msg::kCannotOpenFile, {run_.file_name}));
  const int32_t packet_size = run_.connector.PacketSize();
  try {
    AllocatePacket(packet_size);  // a size no buffer can have ends the upload here
  } catch (const std::bad_alloc&) {
    return failed(msg::kNoMemoryToSend);
  }
  run_.Status(std::string(msg::kSendingData));
  PacketWindow window(packet_size, server.ProtocolVersion(), server.RoundTrip());
  PipelineEnd end = PipelineEnd::kComplete;
  try {
    end = UploadPackets(server, file, 0, packet_size, window, [this](int64_t done) {
      run_.ShowProgress(static_cast<int32_t>(done));
      return !run_.cancel_requested;
    });
  } catch (const std::exception&) {
    run_.view.SetStatus("");
    return failed(msg::kSendProblems);
  }
  run_.transferring = false;
  if (end == PipelineEnd::kStopped || run_.cancel_requested) {
    // Calls may still be in flight: the upload ends with its connection.
    run_.Disconnect();
    return ResultCode::kCancelled;
  }
  return ResultCode::kSuccess;
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

void SendFlow::Finish() {
  TransferView& view = run_.view;
  const std::string& institution = run_.Institution();
  view.SetStepMaximum(3);
  run_.Status(msg::Format(msg::kValidatingFile, {msg::kEnviado}));
  bool valid = false;
  try {
    valid = run_.connector.Server().ValidFile(Variant(int32_t{0}));
  } catch (const std::exception& e) {
    run_.result_code = ResultCode::kTransferFailed;
    run_.Status(msg::Format(msg::kErrorDoing, {msg::kSendTheFile}));
    run_.Disconnect();
    run_.transferring = false;
    run_.ErrorWithDetails(msg::Format(msg::kSendFailed, {institution, msg::kSendProblems}),
                          msg::Format(msg::kProtocolateFailedDetails, {e.what()}));
    return;
  }
  if (!valid) {
    run_.result_code = ResultCode::kTransferredFileInvalid;
    run_.Status(msg::Format(msg::kValidatingFile, {msg::kEnviado}));
    run_.Disconnect();
    run_.transferring = false;
    run_.Error(msg::Format(msg::kValidationFailed, {msg::kEnviado, institution}));
    view.CloseWindow();
    return;
  }
  view.SetStepPosition(1);

  Variant& protocol_data = run_.context.results.protocol_data;
  const Variant before = protocol_data;
  try {
    run_.Status(msg::Format(msg::kProtocolating, {msg::kRemotamente, msg::kEnvio}));
    run_.connector.Server().Protocolate(protocol_data);
    CheckProtocolData(protocol_data, before);
    view.SetStepPosition(2);
  } catch (const std::exception& e) {
    // The package is stamped only with a protocol the server really gave.
    protocol_data = before;
    ProtocolationFailed(ResultCode::kRemoteProtocolFailed, msg::kRemotamente, e.what());
    return;
  }

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

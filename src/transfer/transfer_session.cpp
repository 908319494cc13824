#include "transfer/transfer_session.h"

#include "common/message_dialog.h"
#include "common/messages.h"
#include "package/failure_codes.h"
#include "transfer/progress_text.h"
#include "transfer/receive_flow.h"
#include "transfer/send_flow.h"
#include "transfer/status_query.h"

namespace vorncom::transfer {

using Op = TransferRequest::Operation;

TransferSession::TransferSession(TransferView& view, TransferContext& context,
                                 ServerFactory factory)
    : run_(view, context, std::move(factory)) {}

void TransferSession::SetRequest(const TransferRequest& request) {
  run_.operation = request.operation;
  run_.file_name = request.file_name;
  run_.close_after_send = request.close_after_send;
  run_.client_info = request.client_info;
  if (request.operation == Op::kStatus) {
    run_.form_type = request.form_type;
    run_.form_version = request.form_version;
  }
}

void TransferSession::Start() {
  try {
    if (run_.operation == Op::kSend) {
      SendFlow(run_).Run();
    } else if (run_.operation == Op::kReceive) {
      ReceiveFlow(run_).Run();
    }
  } catch (const std::exception& e) {
    AppException(package::ResultCodeFor(e, package::FailedStep::kUnexpected), e.what());
  } catch (...) {
    AppException(ResultCode::kUnexpectedFailure, std::string(msg::kUnknownError));
  }
  run_.view.SetTimerEnabled(false);
}

ResultCode TransferSession::RunStatusQuery(uint8_t* status) {
  return QueryFormStatus(run_, status);
}

void TransferSession::AppException(ResultCode code, const std::string& message) {
  // A failure that escapes a flow is never reported as success, also when the flow had not
  // set a code yet.
  run_.result_code = code;
  if (run_.operation == Op::kSend || run_.operation == Op::kReceive) {
    const std::string& institution = run_.Institution();
    run_.ErrorWithDetails(
        msg::Format(
            msg::kCommunicationFailed,
            {institution, run_.operation == Op::kSend ? msg::kSendAborted : msg::kReceiveAborted}),
        msg::Format(msg::kCommunicationFailedDetails,
                    {institution, institution, institution, message}));
  }
  run_.transferring = false;
  run_.view.CloseWindow();
}

void TransferSession::CancelClick() {
  run_.cancel_requested = true;
  if (run_.operation == Op::kReceive) {
    run_.view.SetStatus(std::string(msg::kReceiveCancelled));
    if (run_.EraseRequested() && run_.connector.Connected()) {
      try {
        // Packets still in flight are answered before any other call.
        rpc::ReceptionServer& server = run_.connector.Server();
        Variant scratch;
        while (server.Posted() > 0) server.CollectGetDataPacket(scratch);
        Variant name(run_.file_name);
        server.EraseFile(name);
      } catch (const std::exception&) {
        // Cancelling goes on; the server keeps its copy.
      }
    }
  }
  run_.transferring = false;
  run_.view.CloseWindow();
}

void TransferSession::ReceiptClick() {
  run_.context.show_receipt(run_.context.results.protocol_data);
}

void TransferSession::TimerTick() {
  if (run_.progress_ended) return;
  TransferView& view = run_.view;
  const int32_t delta = run_.bytes_done - run_.bytes_at_last_tick;
  if (delta == 0) {
    view.SetRemainingTime("??:??:??");
    view.ProcessMessages();
    return;
  }
  view.SetRemainingTime(FormatRemainingTime(SecondsLeft(run_.bytes_total, run_.bytes_done, delta)));
  view.ProcessMessages();
  view.SetRate(FormatRate(delta));
  view.ProcessMessages();
  run_.bytes_at_last_tick = run_.bytes_done;
}

}  // namespace vorncom::transfer

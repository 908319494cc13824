#include "transfer/transfer_run.h"

#include <new>

#include "common/environment.h"
#include "common/message_dialog.h"
#include "common/messages.h"
#include "transfer/progress_text.h"

namespace vorncom::transfer {

TransferRun::TransferRun(TransferView& view_in, TransferContext& context_in, ServerFactory factory)
    : view(view_in),
      context(context_in),
      connector(context_in.settings, context_in.results, view_in, std::move(factory)) {}

void TransferRun::Status(const std::string& text) {
  view.SetStatus(text);
  view.ProcessMessages();
}

void TransferRun::Warning(const std::string& text) {
  MostrarMensagem(text, MessageKind::kWarning, buttons::kOk);
}

void TransferRun::Error(const std::string& text) {
  MostrarMensagem(text, MessageKind::kError, buttons::kOk);
}

void TransferRun::ErrorWithDetails(const std::string& text, const std::string& details) {
  MostrarMensagemDetalhes(text, MessageKind::kError, buttons::kOk, 0, details);
}

ConnectRequest TransferRun::MakeConnectRequest(rpc::Operation op) const {
  ConnectRequest request;
  request.operation = op;
  request.form_type = form_type;
  request.form_version = form_version;
  request.file_name = FileNamePart(file_name);
  request.file_size = file_size;
  return request;
}

ResultCode TransferRun::Refuse(ConnectOutcome outcome, Flow flow, const std::string& form_label) {
  const OutcomeRule rule = RuleFor(outcome, flow);
  if (rule.disconnect) Disconnect();
  ShowNotice(rule.notice, flow, rule.show_status, Institution(), form_label, view,
             connector.SecureFailure(), connector.ProxyFailure());
  if (rule.close_window) {
    Disconnect();
    view.CloseWindow();
  }
  return rule.result_code;
}

ResultCode TransferRun::ConnectAndMove(Flow flow, const std::function<ResultCode()>& move) {
  const rpc::Operation op = flow == Flow::kSend ? rpc::Operation::kSend : rpc::Operation::kReceive;
  const ConnectOutcome outcome = connector.Connect(MakeConnectRequest(op));
  if (outcome != ConnectOutcome::kAvailable) return Refuse(outcome, flow, FormLabel());
  transferring = true;
  try {
    connector.ReplicateConfiguration();
  } catch (const std::exception&) {
    view.SetStatus("");
    Error(msg::Format(flow == Flow::kSend ? msg::kSendFailed : msg::kReceiveFailed,
                      {Institution(), msg::kConfigUpdateFailed}));
    transferring = false;
    view.CloseWindow();
    return ResultCode::kConfigurationNotUpdated;
  }
  ConnectionOpened();
  view.EnableCancel(true);
  moving_since = Now();
  const ResultCode code = move();
  view.EnableCancel(false);
  if (code == ResultCode::kSuccess && bytes_done == bytes_total) EndProgress();
  return code;
}

std::string TransferRun::ServerText() const {
  return context.results.last_host + ":" + std::to_string(context.results.last_port);
}

void TransferRun::ConnectionOpened() {
  if (journal) journal->ConnectionOpened(ServerText(), connector.SecureProtocol(), bytes_done);
}

void TransferRun::ConnectionEnded() {
  if (journal) journal->ConnectionEnded(bytes_done, result_code, failure_detail);
}

void TransferRun::Abandon() {
  Disconnect();
  transferring = false;
  view.CloseWindow();
}

void TransferRun::StartProgress(int32_t total) {
  bytes_done = 0;
  bytes_at_last_tick = 0;
  bytes_total = total;
  progress_ended = false;
  view.SetProgress(0, bytes_total, 0);
}

void TransferRun::ShowProgress(int32_t done) {
  view.SetProgress(done, bytes_total, ProgressPercent(done, bytes_total));
  bytes_done = done;
  // Letting the window's events in after every packet would cost more than the packets: a few
  // times in a second is enough for the timer, the buttons and the close box.
  const auto now = std::chrono::steady_clock::now();
  if (now - events_let_in >= kEventInterval || done == bytes_total) {
    events_let_in = now;
    view.ProcessMessages();
  }
}

void TransferRun::EndProgress() {
  view.SetTimerEnabled(false);
  progress_ended = true;
  const std::chrono::duration<double> elapsed = Now() - moving_since;
  view.SetRemainingTime(FormatRemainingTime(0));
  view.SetRate(FormatAverageRate(bytes_done, elapsed.count()));
}

std::chrono::steady_clock::time_point TransferRun::Now() const {
  return context.clock ? context.clock() : std::chrono::steady_clock::now();
}

bool TransferRun::EraseRequested() const {
  try {
    const Variant& flag = client_info.At(14);
    return flag.type() == Variant::Type::kBoolean && flag.ToBoolean();
  } catch (const std::exception&) {
    return false;
  }
}

std::string TransferRun::LocalFilePath() const { return env::BaseFolder() + file_name; }

Variant AllocatePacket(int32_t size) {
  if (size <= 0) throw std::bad_alloc();
  ByteArray buffer;
  buffer.lower_bound = 1;
  buffer.bytes.resize(static_cast<size_t>(size));
  return Variant(std::move(buffer));
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace vorncom::transfer

#include "transfer/connect_outcome.h"

#include <array>

#include "common/message_dialog.h"
#include "common/messages.h"

namespace vorncom::transfer {
namespace {

using O = ConnectOutcome;
using N = Notice;
using R = ResultCode;

// One row per outcome; the three rules are the send's, the receive's and the status query's.
// Every flow shows the same notice: only the result codes, and which refusals concern a
// direction, differ. The status query has no window to close.
struct Row {
  ConnectOutcome outcome;
  std::array<ResultCode, 3> codes;  // send, receive, status query
  Notice notice;
  bool show_status;
  bool disconnect;
  bool close_window;
};

constexpr ResultCode kNoRefusal = R::kSuccess;

constexpr std::array kRows{
    Row{O::kNotAccepting,
        {R::kNotAcceptingConnections, R::kNotAcceptingConnections, R::kNotAcceptingConnections},
        N::kNotAccepting,
        true,
        true,
        true},
    Row{O::kFormNotServed,
        {R::kFormNotServed, R::kFormNotServed, kNoRefusal},
        N::kFormNotServed,
        true,
        true,
        true},
    Row{O::kServerStatus11,
        {R::kFormNotServedNow, R::kFormNotServedNow, kNoRefusal},
        N::kFormNotServed,
        true,
        true,
        false},
    Row{O::kSettingsNotLoadable,
        {R::kServerSettingsNotLoaded, R::kServerSettingsNotLoaded, R::kServerSettingsNotLoaded},
        N::kSettingsNotLoadable,
        true,
        false,
        true},
    Row{O::kNoConnection,
        {R::kNoConnection, R::kNoConnection, R::kNoConnection},
        N::kNoConnection,
        false,
        false,
        true},
    Row{O::kNoSockets,
        {R::kNoSocketSupport, R::kNoSocketSupport, R::kNoSocketSupport},
        N::kNoSockets,
        false,
        false,
        true},
    Row{O::kCongested,
        {R::kServerCongested, R::kServerCongested, R::kServerCongested},
        N::kCongested,
        true,
        true,
        false},
    Row{O::kServerStatus12,
        {R::kFormAvailabilityUnknown, R::kFormAvailabilityUnknown, R::kFormStatusUnknown},
        N::kAvailabilityUnknown,
        true,
        true,
        false},
};

// A server that refuses one direction refuses nothing of the other: a send told "sends no files"
// has nothing to move, and neither has the status query.
OutcomeRule DirectionRule(ConnectOutcome outcome, Flow flow) {
  const bool refused = (outcome == O::kNotReceiving && flow == Flow::kSend) ||
                       (outcome == O::kNotSending && flow == Flow::kReceive);
  if (!refused) return {};
  return {flow == Flow::kSend ? R::kServerNotReceiving : R::kServerNotSending, N::kNotServing, true,
          true, true};
}

void Status(TransferView& view, const std::string& text) {
  view.SetStatus(text);
  view.ProcessMessages();
}

}  // namespace

ConnectOutcome OutcomeOfServerStatus(int32_t status, ConnectOutcome current) {
  switch (status) {
    case 5:
    case 6:
    case 9:
      return O::kAvailable;
    case 1:
      return O::kNotReceiving;
    case 2:
      return O::kNotSending;
    case 7:
    case 8:
      return O::kFormNotServed;
    case 10:
      return O::kServerStatus10;
    case 11:
      return O::kServerStatus11;
    case 12:
      return O::kServerStatus12;
    default:
      return current;
  }
}

OutcomeRule RuleFor(ConnectOutcome outcome, Flow flow) {
  if (outcome == O::kNotReceiving || outcome == O::kNotSending) return DirectionRule(outcome, flow);
  // Status 10 gives the send and receive nothing to move; the status query drops the connection
  // and reports a status of its own (the flow writes it).
  if (outcome == O::kServerStatus10) {
    OutcomeRule rule;
    rule.disconnect = flow == Flow::kStatusQuery;
    return rule;
  }
  for (const Row& row : kRows) {
    if (row.outcome != outcome) continue;
    const ResultCode code = row.codes[static_cast<size_t>(flow)];
    if (code == kNoRefusal) return {};
    const bool window = flow != Flow::kStatusQuery;
    return {code, row.notice, row.show_status, row.disconnect, row.close_window && window};
  }
  return {};
}

void ShowNotice(Notice notice, Flow flow, bool show_status, const std::string& institution,
                const std::string& form_label, TransferView& view,
                const std::string& secure_failure, const std::string& proxy_failure) {
  const bool sending = flow == Flow::kSend;
  std::string text;
  std::string details;
  MessageKind kind = MessageKind::kWarning;
  switch (notice) {
    case N::kNone:
      return;
    case N::kNotAccepting:
      text = msg::kNotAccepting;
      details = msg::Format(msg::kNotAcceptingDetails, {institution});
      break;
    case N::kNotServing:
      text = msg::Format(msg::kServerNotServing,
                         {institution, sending ? msg::kRecebendo : msg::kEnviando, msg::kArquivos});
      break;
    case N::kFormNotServed:
      text = msg::Format(msg::kFormNotServed,
                         {form_label, sending ? msg::kRecebido : msg::kEnviado, institution});
      break;
    case N::kSettingsNotLoadable:
      text = msg::kLoadServerSettingsFailed;
      kind = MessageKind::kError;
      break;
    case N::kNoConnection:
      text = msg::Format(msg::kConnectionFailed, {institution});
      details =
          !proxy_failure.empty()
              ? msg::Format(msg::kProxyFailedDetails, {proxy_failure, institution})
          : !secure_failure.empty()
              ? msg::Format(msg::kSecureConnectionFailedDetails, {secure_failure, institution})
              : msg::Format(msg::kConnectionFailedDetails, {institution, institution, institution});
      kind = MessageKind::kError;
      break;
    case N::kNoSockets:
      text = msg::kNoWinsock2;
      details = msg::Format(msg::kNoWinsock2Details, {institution});
      kind = MessageKind::kError;
      break;
    case N::kCongested:
      text = msg::kServerCongested;
      break;
    case N::kAvailabilityUnknown:
      text = msg::Format(msg::kAvailabilityUnknown, {form_label});
      break;
  }
  if (show_status) Status(view, text);
  if (details.empty()) {
    MostrarMensagem(text, kind, buttons::kOk);
  } else {
    MostrarMensagemDetalhes(text, kind, buttons::kOk, 0, details);
  }
}

}  // namespace vorncom::transfer

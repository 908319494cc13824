#pragma once

#include <cstdint>
#include <string>

#include "common/result_code.h"
#include "transfer/transfer_view.h"

namespace vorncom::transfer {

// How connecting to a reception server ended, before any flow acts on it.
enum class ConnectOutcome : uint8_t {
  kAvailable,            // the server serves the request: the flow moves its data
  kNotAccepting,         // AcceptingConnections said no
  kNotSending,           // server status 2: it sends no files
  kNotReceiving,         // server status 1: it takes no files
  kFormNotServed,        // server statuses 7 and 8: the form is not taken or given
  kSettingsNotLoadable,  // the server definition or the server list could not be used
  kNoConnection,         // no server of the list could be reached
  kNoSockets,            // the system's socket support is too old
  kCongested,            // the server said it is busy
  kServerStatus10,
  kServerStatus11,
  kServerStatus12,
};

// The outcome a CheckServerStatus result decides; a status that decides nothing leaves `current`.
ConnectOutcome OutcomeOfServerStatus(int32_t status, ConnectOutcome current);

enum class Flow : uint8_t { kSend, kReceive, kStatusQuery };

// The message a flow shows for an outcome.
enum class Notice : uint8_t {
  kNone,
  kNotAccepting,
  kNotServing,
  kFormNotServed,
  kSettingsNotLoadable,
  kNoConnection,
  kNoSockets,
  kCongested,
  kAvailabilityUnknown,
};

// What a flow does when a connect did not find the server available.
struct OutcomeRule {
  // The flow's result; a send or receive given kSuccess goes on to its finishing steps without
  // moving data, as the server asked nothing to be moved.
  ResultCode result_code = ResultCode::kSuccess;
  Notice notice = Notice::kNone;
  bool show_status = false;   // the notice also goes to the status panel
  bool disconnect = false;    // dropped before the notice is shown
  bool close_window = false;  // dropped and closed after the notice
};

// The one table from outcome to each flow's rule. kAvailable has the empty rule: the flow itself
// decides what follows.
OutcomeRule RuleFor(ConnectOutcome outcome, Flow flow);

// Shows `notice` as `flow` words it: `institution` with its article, `form_label` as
// "name (version)". With `show_status` the text also goes to the view's status panel. A
// `secure_failure` (why the channel could not be secured) or a `proxy_failure` (why the network's
// proxy gave no connection) replaces the guesses in the details of the no-connection notice.
void ShowNotice(Notice notice, Flow flow, bool show_status, const std::string& institution,
                const std::string& form_label, TransferView& view,
                const std::string& secure_failure = "", const std::string& proxy_failure = "");

}  // namespace vorncom::transfer

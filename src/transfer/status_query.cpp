#include "transfer/status_query.h"

#include "common/messages.h"

namespace vorncom::transfer {
namespace {

// A server status 10 at connect stands for this status byte, without asking the form's status.
constexpr uint8_t kStatusForServerStatus10 = 4;

}  // namespace

ResultCode QueryFormStatus(TransferRun& run, uint8_t* status) {
  run.operation = TransferRequest::Operation::kStatus;
  run.result_code = ResultCode::kSuccess;
  const std::string label = run.form_type + " (" + run.form_version + ")";
  auto unknown = [&] {
    run.result_code = ResultCode::kFormStatusUnknown;
    run.Warning(msg::Format(msg::kAvailabilityUnknown, {label}));
  };
  try {
    const ConnectOutcome outcome =
        run.connector.Connect(run.MakeConnectRequest(rpc::Operation::kStatusQuery));
    if (outcome == ConnectOutcome::kAvailable) {
      try {
        const int32_t form_status = run.connector.Server().CheckFormStatus();
        if (status) *status = static_cast<uint8_t>(form_status & 0xFF);
      } catch (const std::exception&) {
        unknown();
      }
    } else {
      run.result_code = run.Refuse(outcome, Flow::kStatusQuery, label);
      if (outcome == ConnectOutcome::kServerStatus10 && status) *status = kStatusForServerStatus10;
    }
  } catch (const std::exception&) {
    // The query has no window to report on; an unexpected failure means the status is unknown.
    unknown();
  }
  run.Disconnect();
  return run.result_code;
}

}  // namespace vorncom::transfer

#include "transfer/link_recovery.h"

#include <algorithm>
#include <thread>
#include <variant>

#include "common/messages.h"
#include "common/registry.h"
#include "rpc/errors.h"
#include "transfer/transfer_run.h"

namespace vorncom::transfer {

std::chrono::milliseconds RetryPolicy::PauseBefore(int attempt) const {
  const int doublings = std::clamp(attempt - 2, 0, 16);
  return first_pause * (int64_t{1} << doublings);
}

RetryPolicy RetryPolicy::Load() {
  RetryPolicy policy;
  try {
    const auto value = Registry::Default().ReadValue(kConnectionKey, "PausaReconexaoMs");
    if (value) {
      if (const auto* ms = std::get_if<int32_t>(&*value); ms && *ms >= 0 && *ms <= 60'000) {
        policy.first_pause = std::chrono::milliseconds(*ms);
      }
    }
  } catch (const std::exception&) {
    // No readable registry: the defaults.
  }
  return policy;
}

bool IsLinkFailure(const std::exception& failure) {
  // On an established connection a secure-channel failure is the link's too: a TLS stream cut
  // in the middle of a record reads as a bad record.
  return dynamic_cast<const rpc::EConnectionError*>(&failure) != nullptr ||
         dynamic_cast<const rpc::EWireError*>(&failure) != nullptr;
}

LinkRecovery::LinkRecovery(TransferRun& run, ConnectRequest request, RetryPolicy policy)
    : run_(run), request_(std::move(request)), policy_(policy) {}

bool LinkRecovery::Pause(std::chrono::milliseconds pause) {
  const auto deadline = std::chrono::steady_clock::now() + pause;
  for (;;) {
    run_.view.ProcessMessages();
    if (run_.cancel_requested) return false;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50)));
  }
}

bool LinkRecovery::Reconnect(const std::exception& failure, ResultCode code) {
  if (run_.journal) run_.journal->ConnectionEnded(run_.bytes_done, code, failure.what());
  if (run_.bytes_done > bytes_at_last_failure_) attempts_ = 1;
  bytes_at_last_failure_ = run_.bytes_done;
  while (attempts_ < policy_.attempts && !run_.cancel_requested) {
    ++attempts_;
    const auto pause = policy_.PauseBefore(attempts_);
    run_.connector.Drop();
    run_.Status(msg::Format(
        msg::kLinkLostRetrying,
        {run_.Institution(), std::to_string(attempts_), std::to_string(policy_.attempts),
         std::to_string((pause.count() + 999) / 1000)}));
    if (!Pause(pause)) return false;
    if (run_.connector.Reconnect(request_) == ConnectOutcome::kAvailable) {
      run_.ConnectionOpened();
      return true;
    }
  }
  return false;
}

}  // namespace vorncom::transfer

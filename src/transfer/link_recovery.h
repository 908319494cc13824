#pragma once

#include <chrono>
#include <cstdint>
#include <exception>

#include "common/result_code.h"
#include "transfer/server_connector.h"

namespace vorncom::transfer {

class TransferRun;

// How often a transfer connects again after its link broke, and how long it waits before each
// new attempt: the first pause, doubled for each attempt after it (1, 2, 4, 8 s by default).
// An administrator (or a test) may shorten the pauses in the registry layer, key
// SOFTWARE\VornCom\Conexao, integer value PausaReconexaoMs (0 to 60000).
struct RetryPolicy {
  int attempts = 5;  // connections in all, the first included
  std::chrono::milliseconds first_pause{1000};

  // The pause before attempt `attempt` (2 and up).
  std::chrono::milliseconds PauseBefore(int attempt) const;
  // Reads the policy afresh. Never throws: an unreadable registry leaves the defaults.
  static RetryPolicy Load();
};

inline constexpr char kConnectionKey[] = "SOFTWARE\\VornCom\\Conexao";

// True when `failure` is the link's (it broke, timed out, or garbled the protocol), so that a new
// connection may carry the transfer on; false for the server's own answer to a call.
bool IsLinkFailure(const std::exception& failure);

// The new attempts of one transfer whose link broke: pauses (Cancel ends a pause at once), then
// connects again, the same server first and then the next one the server list gives. Only
// attempts in a row that moved no data count: a connection that carried the transfer further
// than the one before starts the count (and the pauses) over, so a long transfer over a link
// that breaks now and then still ends.
class LinkRecovery {
 public:
  LinkRecovery(TransferRun& run, ConnectRequest request, RetryPolicy policy = RetryPolicy::Load());

  // After a link failure (`failure`, which would end the transfer with `code`): true once a new
  // connection to an available server is up; false when the attempts are spent or the user
  // cancelled. The journal gets a row for the connection that broke.
  bool Reconnect(const std::exception& failure, ResultCode code);
  int attempts() const { return attempts_; }

 private:
  // False when the user cancelled during the pause.
  bool Pause(std::chrono::milliseconds pause);

  TransferRun& run_;
  ConnectRequest request_;
  RetryPolicy policy_;
  int attempts_ = 1;
  int64_t bytes_at_last_failure_ = 0;
};

}  // namespace vorncom::transfer

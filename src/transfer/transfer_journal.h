#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/result_code.h"
#include "journal/send_journal.h"

namespace vorncom::transfer {

// How the attempt rows name the two operations.
inline constexpr char kJournalSend[] = "envio";
inline constexpr char kJournalReceive[] = "recebimento";

// The journal as one transfer keeps it: where its send stands, and one attempt row per
// connection it used. A journal that cannot be opened or written never stops a transfer: it is
// said once on standard error, and the transfer goes on without it (a send then has no recovery
// of a lost registration reply).
class TransferJournal {
 public:
  // `operation` as the attempt rows name it ("envio" or "recebimento").
  TransferJournal(std::string operation, std::string file_name);
  ~TransferJournal();

  // The package being sent, once its content is known.
  void SetPackage(const std::string& sha256, int64_t size, const std::string& path);

  // --- The send ---
  // An earlier send of this package that did not end, as it was left.
  std::optional<journal::SendRecord> FindOpen();
  // Carries on that send instead of recording a new one.
  void Adopt(const journal::SendRecord& record) { send_id_ = record.id; }
  // Moves the send on (recording it first when it is new); the server is "host:port".
  void Move(journal::SendState state, const std::string& server, const std::string& upload_id = {},
            const std::string& protocol_number = {});
  bool HasSend() const { return send_id_ != 0; }
  // Lets go of the send adopted: the next move records a new one.
  void Forget() { send_id_ = 0; }

  // --- The attempts ---
  // A connection to `server` is in use from now, secured by `tls_version` (empty: plain TCP),
  // the transfer's progress standing at `bytes_done`.
  void ConnectionOpened(const std::string& server, const std::string& tls_version,
                        int64_t bytes_done);
  // Its use ended with `code` (the result it would give the host) and the server's or the
  // link's words, the progress standing at `bytes_done`.
  void ConnectionEnded(int64_t bytes_done, ResultCode code, const std::string& message);

 private:
  // Runs `write`, turning a journal failure into a transfer without journal.
  template <typename Write>
  void Guarded(Write write);

  std::unique_ptr<journal::SendJournal> journal_;
  std::string operation_;
  std::string file_name_;
  std::string sha256_;
  int64_t size_ = 0;
  std::string path_;
  int64_t send_id_ = 0;
  // The connection in use.
  bool open_ = false;
  journal::Attempt attempt_;
  std::chrono::steady_clock::time_point opened_at_;
  int64_t bytes_at_open_ = 0;
};

}  // namespace vorncom::transfer

#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/exception.h"

namespace vorncom::journal {

VORNCOM_EXCEPTION(EJournalError);

// Where a send stands. A send is recorded before its package reaches the server's registration
// call, so that a reply that never arrives can be asked about later instead of registering the
// package twice. The moves allowed (any other one throws EJournalError, so that a send in doubt is
// never dropped): uploading to uploading, protocolating or abandoned; protocolating to
// protocolating, uploading (the lookup found nothing and the upload goes on) or registered;
// registered to registered or stamped. Stamped and abandoned are final.
enum class SendState : uint8_t {
  kUploading = 0,      // the upload id is known; the bytes are on their way
  kProtocolating = 1,  // Protocolate was sent and its reply has not been seen: in doubt
  kRegistered = 2,     // the server's protocol number is known; the package may not be stamped
  kStamped = 3,        // the package holds its protocol record: the send is over
  kAbandoned = 4,      // given up before any registration call: nothing to ask about
};

// One send of one package, identified by its content.
struct SendRecord {
  int64_t id = 0;
  std::string sha256;  // of the package's bytes, 64 lowercase hex digits
  int64_t size = 0;
  std::string file_name;     // without folder, as the server sees it
  std::string package_path;  // where it was sent from
  std::string server;        // "host:port" of the last server that took it
  std::string upload_id;     // issued by that server; empty before
  SendState state = SendState::kUploading;
  std::string protocol_number;  // once registered
  std::string updated;          // local time, "YYYY-MM-DD hh:mm:ss"
};

// One connection's try at a send or a receive, as the user may have to show it.
struct Attempt {
  std::string time;       // start, local time "YYYY-MM-DD hh:mm:ss"
  std::string operation;  // "envio" or "recebimento"
  std::string file_name;
  std::string sha256;       // of the package sent; empty for a receive
  std::string server;       // "host:port"
  std::string tls_version;  // "TLSv1.3"; empty for plain TCP
  int64_t bytes_moved = 0;
  int64_t duration_ms = 0;
  int result_code = 0;         // the host's result code this attempt would have given
  std::string server_message;  // the server's or the link's words, empty when none
};

// An attempt as stored: each row carries the hash of the row before it, so that a row changed or
// removed afterwards breaks the chain (docs/wire-protocol.md, section 9.6, gives the encoding).
struct AttemptRow {
  int64_t id = 0;
  Attempt attempt;
  std::string previous_hash;  // 64 hex digits; 64 zeros for the first row
  std::string row_hash;       // SHA-256 over previous_hash and the row's fields
};

// The journal of sends and attempts: an SQLite database in the configuration folder, shared by
// every host process of that folder (each write is one committed transaction, made durable before
// the call returns). Usable from several threads. Throws EJournalError on any database failure,
// and on opening a file that is not a journal or one of a newer schema (left as it was).
// The state's name as the user reads it (Portuguese).
std::string_view StateName(SendState state);

// `when` as the journal writes times: local time, "YYYY-MM-DD hh:mm:ss".
std::string JournalTime(std::chrono::system_clock::time_point when);

class SendJournal {
 public:
  explicit SendJournal(const std::string& path);
  ~SendJournal();
  SendJournal(const SendJournal&) = delete;
  SendJournal& operator=(const SendJournal&) = delete;

  // The configuration folder's journal file.
  static std::string DefaultPath();

  // The newest send of this package (content, size and name) not yet stamped or abandoned.
  std::optional<SendRecord> FindOpen(const std::string& sha256, int64_t size,
                                     const std::string& file_name);
  // Records a new send (its id and updated time are the journal's); returns its id. Throws
  // EJournalError when the SHA-256 is not 64 lowercase hex digits or the size is negative.
  int64_t Begin(const SendRecord& record);
  // Moves send `id` on; empty texts leave the stored ones. Throws EJournalError for an unknown
  // id, a move the states do not allow, or registered/stamped without a protocol number.
  void Update(int64_t id, SendState state, const std::string& server = {},
              const std::string& upload_id = {}, const std::string& protocol_number = {});
  // Every send, oldest first.
  std::vector<SendRecord> Sends();

  // Chains the attempt onto the newest row, also against other processes appending at once. An
  // empty time is taken as now.
  void Append(const Attempt& attempt);
  // Every attempt, oldest first.
  std::vector<AttemptRow> Attempts();
  // The id of the first row whose hashes do not hold; nothing while the chain is intact.
  std::optional<int64_t> FirstBrokenRow();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vorncom::journal

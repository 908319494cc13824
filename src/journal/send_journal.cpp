#include "journal/send_journal.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <limits>
#include <mutex>

#include "common/environment.h"
#include "common/messages.h"
#include "common/sha256.h"
#include "common/sqlite/database.h"
#include "journal/attempt_chain.h"
#include "journal/journal_schema.h"

namespace vorncom::journal {
namespace {

// Long enough for other host processes' short transactions, short enough to fail a stuck one.
constexpr std::chrono::milliseconds kBusyTimeout(10000);
constexpr const char* kFileName = "envios.db";

constexpr const char* kSendColumns =
    "id, sha256, size, file_name, package_path, server, upload_id, state, protocol_number, updated";
constexpr const char* kAttemptColumns =
    "id, time, operation, file_name, sha256, server, tls_version, bytes_moved, duration_ms,"
    " result_code, server_message, previous_hash, row_hash";

bool MayMove(SendState from, SendState to) {
  using S = SendState;
  switch (from) {
    case S::kUploading:
      return to == S::kUploading || to == S::kProtocolating || to == S::kAbandoned;
    case S::kProtocolating:
      return to == S::kProtocolating || to == S::kUploading || to == S::kRegistered;
    case S::kRegistered:
      return to == S::kRegistered || to == S::kStamped;
    case S::kStamped:
    case S::kAbandoned:
      break;
  }
  return false;
}

SendState StateOf(int64_t stored, int64_t id) {
  if (stored < 0 || stored > static_cast<int64_t>(SendState::kAbandoned)) {
    throw EJournalError(
        msg::Format(msg::kJournalUnknownState, {std::to_string(stored), std::to_string(id)}));
  }
  return static_cast<SendState>(stored);
}

bool IsSha256(const std::string& text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string Select(const char* columns, const char* rest) {
  return std::string("SELECT ") + columns + rest;
}

// Every row of `table` in id order, one statement, so one snapshot; `read` makes each.
template <typename Read>
auto AllRows(sqlite::Database& db, const char* columns, const char* table, Read read) {
  const std::string sql = std::string("SELECT ") + columns + " FROM " + table + " ORDER BY id";
  sqlite::Statement all(db, sql.c_str());
  std::vector<decltype(read(all))> rows;
  while (all.Step()) rows.push_back(read(all));
  return rows;
}

SendRecord ReadSend(const sqlite::Statement& s) {
  SendRecord r;
  r.id = s.ColumnInt64(0);
  r.sha256 = s.ColumnText(1);
  r.size = s.ColumnInt64(2);
  r.file_name = s.ColumnText(3);
  r.package_path = s.ColumnText(4);
  r.server = s.ColumnText(5);
  r.upload_id = s.ColumnText(6);
  r.state = StateOf(s.ColumnInt64(7), r.id);
  r.protocol_number = s.ColumnText(8);
  r.updated = s.ColumnText(9);
  return r;
}

// The row as stored, and whether its result code fits the field (one that does not cannot be
// what was written, so the row counts as changed).
AttemptRow ReadAttempt(const sqlite::Statement& s, bool& intact) {
  AttemptRow r;
  r.id = s.ColumnInt64(0);
  Attempt& a = r.attempt;
  a.time = s.ColumnText(1);
  a.operation = s.ColumnText(2);
  a.file_name = s.ColumnText(3);
  a.sha256 = s.ColumnText(4);
  a.server = s.ColumnText(5);
  a.tls_version = s.ColumnText(6);
  a.bytes_moved = s.ColumnInt64(7);
  a.duration_ms = s.ColumnInt64(8);
  const int64_t code = s.ColumnInt64(9);
  intact = code >= std::numeric_limits<int>::min() && code <= std::numeric_limits<int>::max();
  a.result_code = static_cast<int>(code);
  a.server_message = s.ColumnText(10);
  r.previous_hash = s.ColumnText(11);
  r.row_hash = s.ColumnText(12);
  return r;
}

}  // namespace

std::string_view StateName(SendState state) {
  switch (state) {
    case SendState::kUploading:
      return msg::kJournalStateUploading;
    case SendState::kProtocolating:
      return msg::kJournalStateProtocolating;
    case SendState::kRegistered:
      return msg::kJournalStateRegistered;
    case SendState::kStamped:
      return msg::kJournalStateStamped;
    case SendState::kAbandoned:
      return msg::kJournalStateAbandoned;
  }
  return "?";
}

std::string JournalTime(std::chrono::system_clock::time_point when) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

namespace {

// Runs `body`, turning every failure into EJournalError naming the journal's file.
template <typename F>
auto Translated(const std::string& path, F&& body) {
  try {
    return body();
  } catch (const sqlite::ESqliteError& e) {
    throw EJournalError(msg::Format(msg::kJournalFailure, {path, e.what()}));
  } catch (const EJournalError& e) {
    throw EJournalError(msg::Format(msg::kJournalFailure, {path, e.what()}));
  } catch (const EDigestError& e) {
    throw EJournalError(msg::Format(msg::kJournalFailure, {path, e.what()}));
  }
}

}  // namespace

struct SendJournal::Impl {
  std::string path;
  std::mutex mutex;  // one statement or transaction on the connection at a time
  std::unique_ptr<sqlite::Database> db;

  template <typename F>
  auto Guarded(F&& body) {
    const std::lock_guard lock(mutex);
    return Translated(path, [&] { return body(*db); });
  }
};

SendJournal::SendJournal(const std::string& path) : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  std::error_code ec;
  const auto folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);  // else the open says why
  Translated(path, [&] {
    impl_->db =
        std::make_unique<sqlite::Database>(path, sqlite::Access::kReadWriteCreate, kBusyTimeout);
    PrepareJournal(*impl_->db);
  });
}

SendJournal::~SendJournal() = default;

std::string SendJournal::DefaultPath() {
  env::InitializeFolders();
  return env::ConfigFolder() + kFileName;
}

std::optional<SendRecord> SendJournal::FindOpen(const std::string& sha256, int64_t size,
                                                const std::string& file_name) {
  return impl_->Guarded([&](sqlite::Database& db) -> std::optional<SendRecord> {
    const std::string sql = Select(kSendColumns,
                                   " FROM sends WHERE sha256 = ?1 AND size = ?2 AND file_name = ?3"
                                   " AND state IN (0, 1, 2) ORDER BY id DESC LIMIT 1");
    sqlite::Statement find(db, sql.c_str());
    find.Bind(1, sha256).Bind(2, size).Bind(3, file_name);
    if (!find.Step()) return std::nullopt;
    return ReadSend(find);
  });
}

int64_t SendJournal::Begin(const SendRecord& record) {
  if (!IsSha256(record.sha256)) {
    throw EJournalError(msg::Format(msg::kJournalBadField, {"sha256"}));
  }
  if (record.size < 0) throw EJournalError(msg::Format(msg::kJournalBadField, {"size"}));
  StateOf(static_cast<int64_t>(record.state), 0);
  return impl_->Guarded([&](sqlite::Database& db) {
    sqlite::Transaction transaction(db);
    int64_t id = 0;
    {
      sqlite::Statement insert(
          db,
          "INSERT INTO sends (sha256, size, file_name, package_path, server, upload_id, state,"
          " protocol_number, updated) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
      insert.Bind(1, record.sha256)
          .Bind(2, record.size)
          .Bind(3, record.file_name)
          .Bind(4, record.package_path)
          .Bind(5, record.server)
          .Bind(6, record.upload_id)
          .Bind(7, static_cast<int64_t>(record.state))
          .Bind(8, record.protocol_number)
          .Bind(9, JournalTime(std::chrono::system_clock::now()))
          .Run();
      id = db.LastInsertRowId();
    }
    transaction.Commit();
    return id;
  });
}

void SendJournal::Update(int64_t id, SendState state, const std::string& server,
                         const std::string& upload_id, const std::string& protocol_number) {
  impl_->Guarded([&](sqlite::Database& db) {
    sqlite::Transaction transaction(db);
    SendState from;
    bool has_number = !protocol_number.empty();
    {
      sqlite::Statement find(db, "SELECT state, protocol_number FROM sends WHERE id = ?1");
      find.Bind(1, id);
      if (!find.Step()) {
        throw EJournalError(msg::Format(msg::kJournalUnknownSend, {std::to_string(id)}));
      }
      from = StateOf(find.ColumnInt64(0), id);
      has_number = has_number || !find.ColumnText(1).empty();
    }
    if (!MayMove(from, state)) {
      throw EJournalError(msg::Format(msg::kJournalStateMove,
                                      {std::to_string(id), StateName(from), StateName(state)}));
    }
    if ((state == SendState::kRegistered || state == SendState::kStamped) && !has_number) {
      throw EJournalError(msg::Format(msg::kJournalNoProtocolNumber, {std::to_string(id)}));
    }
    {
      sqlite::Statement update(
          db,
          "UPDATE sends SET state = ?2,"
          " server = CASE WHEN ?3 = '' THEN server ELSE ?3 END,"
          " upload_id = CASE WHEN ?4 = '' THEN upload_id ELSE ?4 END,"
          " protocol_number = CASE WHEN ?5 = '' THEN protocol_number ELSE ?5 END,"
          " updated = ?6 WHERE id = ?1");
      update.Bind(1, id)
          .Bind(2, static_cast<int64_t>(state))
          .Bind(3, server)
          .Bind(4, upload_id)
          .Bind(5, protocol_number)
          .Bind(6, JournalTime(std::chrono::system_clock::now()))
          .Run();
    }
    transaction.Commit();
  });
}

std::vector<SendRecord> SendJournal::Sends() {
  return impl_->Guarded(
      [&](sqlite::Database& db) { return AllRows(db, kSendColumns, "sends", ReadSend); });
}

void SendJournal::Append(const Attempt& attempt) {
  Attempt row = attempt;
  if (row.time.empty()) row.time = JournalTime(std::chrono::system_clock::now());
  impl_->Guarded([&](sqlite::Database& db) {
    // The write lock is taken before the newest row is read: no other process can chain onto the
    // same row meanwhile.
    sqlite::Transaction transaction(db);
    int64_t id = 1;
    std::string previous(kChainStart);
    {
      sqlite::Statement last(db, "SELECT id, row_hash FROM attempts ORDER BY id DESC LIMIT 1");
      if (last.Step()) {
        const int64_t last_id = last.ColumnInt64(0);
        if (last_id == std::numeric_limits<int64_t>::max()) {
          throw EJournalError(msg::Format(msg::kJournalBadField, {"id"}));
        }
        id = std::max<int64_t>(last_id + 1, 1);
        previous = last.ColumnText(1);
      }
    }
    {
      sqlite::Statement insert(
          db,
          "INSERT INTO attempts (id, time, operation, file_name, sha256, server, tls_version,"
          " bytes_moved, duration_ms, result_code, server_message, previous_hash, row_hash)"
          " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
      insert.Bind(1, id)
          .Bind(2, row.time)
          .Bind(3, row.operation)
          .Bind(4, row.file_name)
          .Bind(5, row.sha256)
          .Bind(6, row.server)
          .Bind(7, row.tls_version)
          .Bind(8, row.bytes_moved)
          .Bind(9, row.duration_ms)
          .Bind(10, static_cast<int64_t>(row.result_code))
          .Bind(11, row.server_message)
          .Bind(12, previous)
          .Bind(13, AttemptRowHash(previous, id, row))
          .Run();
    }
    transaction.Commit();
  });
}

std::vector<AttemptRow> SendJournal::Attempts() {
  return impl_->Guarded([&](sqlite::Database& db) {
    return AllRows(db, kAttemptColumns, "attempts", [](const sqlite::Statement& s) {
      bool intact = true;  // the listing shows changed rows as they are
      return ReadAttempt(s, intact);
    });
  });
}

std::optional<int64_t> SendJournal::FirstBrokenRow() {
  return impl_->Guarded([&](sqlite::Database& db) -> std::optional<int64_t> {
    // One statement reads one snapshot, whatever other processes append meanwhile.
    const std::string sql = Select(kAttemptColumns, " FROM attempts ORDER BY id");
    sqlite::Statement all(db, sql.c_str());
    std::string expected_previous(kChainStart);
    while (all.Step()) {
      bool intact = true;
      AttemptRow row = ReadAttempt(all, intact);
      if (!intact || row.previous_hash != expected_previous ||
          row.row_hash != AttemptRowHash(row.previous_hash, row.id, row.attempt)) {
        return row.id;
      }
      expected_previous = std::move(row.row_hash);
    }
    return std::nullopt;
  });
}

}  // namespace vorncom::journal

#include "journal/journal_schema.h"

#include <string>

#include "common/messages.h"
#include "journal/send_journal.h"

namespace vorncom::journal {
namespace {

constexpr const char* kCreate = R"(
CREATE TABLE sends (
  id INTEGER PRIMARY KEY,
  sha256 TEXT NOT NULL,
  size INTEGER NOT NULL,
  file_name TEXT NOT NULL,
  package_path TEXT NOT NULL,
  server TEXT NOT NULL,
  upload_id TEXT NOT NULL,
  state INTEGER NOT NULL,
  protocol_number TEXT NOT NULL,
  updated TEXT NOT NULL);
CREATE INDEX sends_by_content ON sends (sha256, size, file_name);
CREATE TABLE attempts (
  id INTEGER PRIMARY KEY,
  time TEXT NOT NULL,
  operation TEXT NOT NULL,
  file_name TEXT NOT NULL,
  sha256 TEXT NOT NULL,
  server TEXT NOT NULL,
  tls_version TEXT NOT NULL,
  bytes_moved INTEGER NOT NULL,
  duration_ms INTEGER NOT NULL,
  result_code INTEGER NOT NULL,
  server_message TEXT NOT NULL,
  previous_hash TEXT NOT NULL,
  row_hash TEXT NOT NULL);
)";

// Every column the journal reads: preparing these fails on a file whose tables lack one.
constexpr const char* kColumnProbes[] = {
    "SELECT id, sha256, size, file_name, package_path, server, upload_id, state, protocol_number,"
    " updated FROM sends LIMIT 0",
    "SELECT id, time, operation, file_name, sha256, server, tls_version, bytes_moved, duration_ms,"
    " result_code, server_message, previous_hash, row_hash FROM attempts LIMIT 0",
};

int64_t QueryInt(sqlite::Database& db, const char* sql) {
  sqlite::Statement statement(db, sql);
  return statement.Step() ? statement.ColumnInt64(0) : 0;
}

void CheckVersion(int64_t version) {
  if (version > kJournalSchemaVersion) {
    throw EJournalError(
        msg::Format(msg::kJournalNewerVersion,
                    {std::to_string(version), std::to_string(kJournalSchemaVersion)}));
  }
  if (version < 0) throw EJournalError(std::string(msg::kJournalNotAJournal));
}

}  // namespace

void PrepareJournal(sqlite::Database& db) {
  // Triggers and views of a hostile file run no functions with side effects.
  db.Exec("PRAGMA trusted_schema = OFF");
  db.Exec("PRAGMA cell_size_check = ON");
  // Each commit is durable when it returns.
  db.Exec("PRAGMA synchronous = FULL");
  // Reading the version first reads the header, so a file that is no database fails here, before
  // the journal mode could write anything.
  int64_t version = QueryInt(db, "PRAGMA user_version");
  CheckVersion(version);
  if (version == 0) {
    sqlite::Transaction transaction(db);
    version = QueryInt(db, "PRAGMA user_version");
    CheckVersion(version);
    if (version == 0) {
      if (QueryInt(db, "SELECT count(*) FROM sqlite_schema") != 0) {
        throw EJournalError(std::string(msg::kJournalNotAJournal));
      }
      db.Exec(kCreate);
      db.Exec(("PRAGMA user_version = " + std::to_string(kJournalSchemaVersion)).c_str());
    }
    transaction.Commit();
  }
  for (const char* probe : kColumnProbes) {
    try {
      sqlite::Statement statement(db, probe);
    } catch (const sqlite::ESqliteError&) {
      throw EJournalError(std::string(msg::kJournalNotAJournal));
    }
  }
  // Readers go on beside the one writer. A file system without WAL keeps its rollback journal,
  // which is as durable.
  sqlite::Statement mode(db, "PRAGMA journal_mode = WAL");
  mode.Step();
}

}  // namespace vorncom::journal

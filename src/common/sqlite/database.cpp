#include "common/sqlite/database.h"

#include <sqlite3.h>

namespace vorncom::sqlite {
namespace {

[[noreturn]] void Fail(sqlite3* db, int rc) {
  throw ESqliteError(rc, db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
}

}  // namespace

Database::Database(const std::string& path, Access access, std::chrono::milliseconds busy_timeout) {
  const int flags = (access == Access::kReadOnly ? SQLITE_OPEN_READONLY
                                                 : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                    SQLITE_OPEN_FULLMUTEX;
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const ESqliteError error(rc, db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    sqlite3_close_v2(db_);
    throw error;
  }
  sqlite3_busy_timeout(db_, static_cast<int>(busy_timeout.count()));
}

Database::~Database() { sqlite3_close_v2(db_); }

void Database::Exec(const char* sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    const ESqliteError error(rc, message ? message : sqlite3_errstr(rc));
    sqlite3_free(message);
    throw error;
  }
}

int64_t Database::LastInsertRowId() const { return sqlite3_last_insert_rowid(db_); }

Statement::Statement(Database& db, const char* sql) : db_(db) {
  const int rc = sqlite3_prepare_v2(db_.handle(), sql, -1, &stmt_, nullptr);
  if (rc != SQLITE_OK) Fail(db_.handle(), rc);
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, std::string_view text) {
  const int rc =
      sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) Fail(db_.handle(), rc);
  return *this;
}

Statement& Statement::Bind(int index, int64_t value) {
  const int rc = sqlite3_bind_int64(stmt_, index, value);
  if (rc != SQLITE_OK) Fail(db_.handle(), rc);
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(db_.handle(), rc);
}

void Statement::Run() {
  while (Step()) {
  }
}

std::string Statement::ColumnText(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : "";
}

int64_t Statement::ColumnInt64(int column) const { return sqlite3_column_int64(stmt_, column); }

Transaction::Transaction(Database& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  // Also after a failed COMMIT, which may leave the transaction open (SQLITE_BUSY).
  if (!done_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
  db_.Exec("COMMIT");
  done_ = true;
}

}  // namespace vorncom::sqlite

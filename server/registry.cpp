#include "server/registry.h"

#include <sqlite3.h>

#include <cstdio>
#include <memory>

#include "common/messages.h"

namespace vorncom::server {

namespace {

struct StatementDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

}  // namespace

Registry::Registry(const std::string& path, std::string protocol_prefix)
    : prefix_(std::move(protocol_prefix)) {
  if (sqlite3_open_v2(path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : std::string(msg::kSrvNoMemory);
    sqlite3_close(db_);
    db_ = nullptr;
    throw ERegistryError(msg::Format(msg::kSrvRegistryNotOpened, {path, message}));
  }
  sqlite3_busy_timeout(db_, 10'000);
  Exec("PRAGMA journal_mode=WAL");
  Exec("PRAGMA synchronous=FULL");
  Exec(
      "CREATE TABLE IF NOT EXISTS registrations ("
      " id INTEGER PRIMARY KEY AUTOINCREMENT,"
      " number TEXT UNIQUE, operation INTEGER NOT NULL, file_name TEXT NOT NULL,"
      " stored_path TEXT, size INTEGER NOT NULL, form_type TEXT, form_name TEXT,"
      " form_version TEXT, requester_id TEXT, requester_name TEXT, agency_id TEXT,"
      " client_address TEXT, started TEXT, finished TEXT, stored_name TEXT)");
  Migrate();
}

bool Registry::HasColumn(const char* table, const char* column) {
  sqlite3_stmt* raw = nullptr;
  const std::string sql =
      std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name = ?";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
    Fail(std::string(msg::kSrvRegistryQueryFailed));
  Statement query(raw);
  sqlite3_bind_text(raw, 1, column, -1, SQLITE_STATIC);
  return sqlite3_step(raw) == SQLITE_ROW;
}

// Databases from before uploads were stored under their serial lack stored_name; their files
// keep the names they were stored under (NUMBER_FILENAME), which the column then records.
void Registry::Migrate() {
  Exec("BEGIN IMMEDIATE");
  try {
    if (!HasColumn("registrations", "stored_name")) {
      Exec("ALTER TABLE registrations ADD COLUMN stored_name TEXT");
      // The text after the last '/': rtrim strips every character but '/' from the end.
      Exec(
          "UPDATE registrations SET stored_name = substr(stored_path,"
          " length(rtrim(stored_path, replace(stored_path, '/', ''))) + 1)"
          " WHERE stored_path IS NOT NULL AND stored_path <> ''");
    }
    Exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

Registry::~Registry() { sqlite3_close(db_); }

void Registry::Fail(const std::string& what) {
  throw ERegistryError(what + ": " + sqlite3_errmsg(db_) + ".");
}

void Registry::Exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error ? error : std::string(msg::kSrvUnknownError);
    sqlite3_free(error);
    throw ERegistryError(msg::Format(msg::kSrvRegistryFailed, {message}));
  }
}

std::string Registry::Record(
    Registration& e,
    const std::function<void(const std::string& number, const std::string& serial)>& commit_files,
    const std::function<void()>& undo_files) {
  std::lock_guard lock(mutex_);
  Exec("BEGIN IMMEDIATE");
  try {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_,
                           "INSERT INTO registrations (operation, file_name, size, form_type,"
                           " form_name, form_version, requester_id, requester_name, agency_id,"
                           " client_address, started, finished)"
                           " VALUES (?,?,?,?,?,?,?,?,?,?,?,?)",
                           -1, &raw, nullptr) != SQLITE_OK)
      Fail(std::string(msg::kSrvRegistryPrepareFailed));
    Statement insert(raw);
    int i = 1;
    sqlite3_bind_int(raw, i++, e.operation);
    for (const std::string* text : {&e.file_name})
      sqlite3_bind_text(raw, i++, text->c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(raw, i++, e.size);
    for (const std::string* text :
         {&e.form_type, &e.form_name, &e.form_version, &e.requester_id, &e.requester_name,
          &e.agency_id, &e.client_address, &e.started, &e.finished})
      sqlite3_bind_text(raw, i++, text->c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(raw) != SQLITE_DONE) Fail(std::string(msg::kSrvRegistryWriteFailed));

    const sqlite3_int64 id = sqlite3_last_insert_rowid(db_);
    char digits[32];
    std::snprintf(digits, sizeof digits, "%010lld", static_cast<long long>(id));
    const std::string number = prefix_ + digits;

    commit_files(number, digits);
    if (sqlite3_prepare_v2(
            db_,
            "UPDATE registrations SET number = ?, stored_path = ?, stored_name = ? WHERE id = ?",
            -1, &raw, nullptr) != SQLITE_OK)
      Fail(std::string(msg::kSrvRegistryPrepareFailed));
    Statement update(raw);
    sqlite3_bind_text(raw, 1, number.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(raw, 2, e.stored_path.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(raw, 3, e.stored_name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(raw, 4, id);
    if (sqlite3_step(raw) != SQLITE_DONE) {
      undo_files();
      Fail(std::string(msg::kSrvRegistryWriteFailed));
    }
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      undo_files();
      Fail(std::string(msg::kSrvRegistryCommitFailed));
    }
    return number;
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

int64_t Registry::Count() {
  std::lock_guard lock(mutex_);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT COUNT(*) FROM registrations WHERE number IS NOT NULL", -1,
                         &raw, nullptr) != SQLITE_OK)
    Fail(std::string(msg::kSrvRegistryQueryFailed));
  Statement query(raw);
  return sqlite3_step(raw) == SQLITE_ROW ? sqlite3_column_int64(raw, 0) : 0;
}

}  // namespace vorncom::server

namespace vorncom::server {

bool Registry::HasStoredName(const std::string& name) {
  std::lock_guard lock(mutex_);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "SELECT 1 FROM registrations WHERE number IS NOT NULL AND stored_name = ?",
                         -1, &raw, nullptr) != SQLITE_OK)
    Fail(std::string(msg::kSrvRegistryQueryFailed));
  Statement query(raw);
  sqlite3_bind_text(raw, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(raw) == SQLITE_ROW;
}

}  // namespace vorncom::server

#include "server/registry.h"

#include <chrono>
#include <cstdio>
#include <string_view>
#include <utility>

#include "common/messages.h"

namespace vorncom::server {

namespace {

constexpr std::chrono::milliseconds kBusyTimeout{10'000};

// The registry's failures: "<what>: <engine's message>.".
constexpr std::string_view kDatabaseError = msg::kSrvRegistryFailure;
constexpr std::string_view kQueryError = msg::kSrvRegistryQueryFailed;

// Runs `step`, raising its database failure as ERegistryError "<what>: <engine's message>.".
template <typename Step>
decltype(auto) Checked(std::string_view what, Step&& step) {
  try {
    return step();
  } catch (const sqlite::ESqliteError& e) {
    throw ERegistryError(std::string(what) + ": " + e.what() + ".");
  }
}

sqlite::Database OpenDatabase(const std::string& path) {
  try {
    return sqlite::Database(path, sqlite::Access::kReadWriteCreate, kBusyTimeout);
  } catch (const sqlite::ESqliteError& e) {
    throw ERegistryError(msg::Format(msg::kSrvRegistryNotOpened, {path, e.what()}));
  }
}

}  // namespace

Registry::Registry(const std::string& path, std::string protocol_prefix)
    : db_(OpenDatabase(path)), prefix_(std::move(protocol_prefix)) {
  Checked(kDatabaseError, [&] {
    db_.Exec("PRAGMA journal_mode=WAL");
    db_.Exec("PRAGMA synchronous=FULL");
    db_.Exec(
        "CREATE TABLE IF NOT EXISTS registrations ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " number TEXT UNIQUE, operation INTEGER NOT NULL, file_name TEXT NOT NULL,"
        " stored_path TEXT, size INTEGER NOT NULL, form_type TEXT, form_name TEXT,"
        " form_version TEXT, requester_id TEXT, requester_name TEXT, agency_id TEXT,"
        " client_address TEXT, started TEXT, finished TEXT, stored_name TEXT)");
  });
  Migrate();
}

Registry::~Registry() = default;

bool Registry::HasColumn(const char* table, const char* column) {
  const std::string sql =
      std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name = ?";
  return Checked(kQueryError, [&] {
    sqlite::Statement query(db_, sql.c_str());
    return query.Bind(1, column).Step();
  });
}

// Databases from before uploads were stored under their serial lack stored_name; their files
// keep the names they were stored under (NUMBER_FILENAME), which the column then records.
void Registry::Migrate() {
  sqlite::Transaction transaction =
      Checked(kDatabaseError, [&] { return sqlite::Transaction(db_); });
  if (!HasColumn("registrations", "stored_name")) {
    Checked(kDatabaseError, [&] {
      db_.Exec("ALTER TABLE registrations ADD COLUMN stored_name TEXT");
      // The text after the last '/': rtrim strips every character but '/' from the end.
      db_.Exec(
          "UPDATE registrations SET stored_name = substr(stored_path,"
          " length(rtrim(stored_path, replace(stored_path, '/', ''))) + 1)"
          " WHERE stored_path IS NOT NULL AND stored_path <> ''");
    });
  }
  Checked(kDatabaseError, [&] { transaction.Commit(); });
}

std::string Registry::Record(
    Registration& e,
    const std::function<void(const std::string& number, const std::string& serial)>& commit_files,
    const std::function<void()>& undo_files) {
  std::lock_guard lock(mutex_);
  sqlite::Transaction transaction =
      Checked(kDatabaseError, [&] { return sqlite::Transaction(db_); });
  int64_t id = 0;
  {
    sqlite::Statement insert = Checked(msg::kSrvRegistryPrepareFailed, [&] {
      return sqlite::Statement(db_,
                               "INSERT INTO registrations (operation, file_name, size, form_type,"
                               " form_name, form_version, requester_id, requester_name, agency_id,"
                               " client_address, started, finished)"
                               " VALUES (?,?,?,?,?,?,?,?,?,?,?,?)");
    });
    id = Checked(msg::kSrvRegistryWriteFailed, [&] {
      insert.Bind(1, int64_t{e.operation}).Bind(2, e.file_name).Bind(3, e.size);
      int i = 4;
      for (const std::string* text :
           {&e.form_type, &e.form_name, &e.form_version, &e.requester_id, &e.requester_name,
            &e.agency_id, &e.client_address, &e.started, &e.finished})
        insert.Bind(i++, *text);
      insert.Run();
      return db_.LastInsertRowId();
    });
  }

  char digits[32];
  std::snprintf(digits, sizeof digits, "%010lld", static_cast<long long>(id));
  const std::string number = prefix_ + digits;

  commit_files(number, digits);
  // From here on a failure takes the files back: nothing may stay stored without its record.
  std::string_view what = msg::kSrvRegistryPrepareFailed;
  try {
    sqlite::Statement update(
        db_, "UPDATE registrations SET number = ?, stored_path = ?, stored_name = ? WHERE id = ?");
    what = msg::kSrvRegistryWriteFailed;
    update.Bind(1, number).Bind(2, e.stored_path).Bind(3, e.stored_name).Bind(4, id).Run();
    what = msg::kSrvRegistryCommitFailed;
    transaction.Commit();
  } catch (const sqlite::ESqliteError& error) {
    undo_files();
    throw ERegistryError(std::string(what) + ": " + error.what() + ".");
  }
  return number;
}

int64_t Registry::Count() {
  std::lock_guard lock(mutex_);
  return Checked(kQueryError, [&] {
    sqlite::Statement query(db_, "SELECT COUNT(*) FROM registrations WHERE number IS NOT NULL");
    return query.Step() ? query.ColumnInt64(0) : int64_t{0};
  });
}

bool Registry::HasStoredName(const std::string& name) {
  std::lock_guard lock(mutex_);
  return Checked(kQueryError, [&] {
    sqlite::Statement query(
        db_, "SELECT 1 FROM registrations WHERE number IS NOT NULL AND stored_name = ?");
    return query.Bind(1, name).Step();
  });
}

}  // namespace vorncom::server

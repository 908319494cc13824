#include "server/sqlite_registry.h"

#include <chrono>
#include <cstdio>
#include <ctime>
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

constexpr const char* kStateNames[] = {"open", "registered", "expired"};

const char* StateName(UploadRecord::State state) { return kStateNames[static_cast<int>(state)]; }

UploadRecord::State StateOf(const std::string& name) {
  if (name == "registered") return UploadRecord::State::kRegistered;
  if (name == "open") return UploadRecord::State::kOpen;
  return UploadRecord::State::kExpired;
}

constexpr const char* kUploadColumns =
    "id, file_name, size, sha256, form_type, form_version, client_address, started, held, state,"
    " moved, number";

UploadRecord UploadFrom(const sqlite::Statement& row) {
  UploadRecord u;
  u.id = row.ColumnText(0);
  u.file_name = row.ColumnText(1);
  u.size = row.ColumnInt64(2);
  u.sha256 = row.ColumnText(3);
  u.form_type = row.ColumnText(4);
  u.form_version = row.ColumnText(5);
  u.client_address = row.ColumnText(6);
  u.started = row.ColumnText(7);
  u.held = row.ColumnInt64(8);
  u.state = StateOf(row.ColumnText(9));
  u.moved = row.ColumnInt64(10);
  u.number = row.ColumnText(11);
  return u;
}

sqlite::Database OpenDatabase(const std::string& path) {
  try {
    return sqlite::Database(path, sqlite::Access::kReadWriteCreate, kBusyTimeout);
  } catch (const sqlite::ESqliteError& e) {
    throw ERegistryError(msg::Format(msg::kSrvRegistryNotOpened, {path, e.what()}));
  }
}

}  // namespace

SqliteRegistry::SqliteRegistry(const std::string& path, std::string protocol_prefix)
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
    db_.Exec(
        "CREATE TABLE IF NOT EXISTS uploads ("
        " id TEXT PRIMARY KEY, file_name TEXT NOT NULL, size INTEGER NOT NULL,"
        " sha256 TEXT NOT NULL, form_type TEXT, form_version TEXT, client_address TEXT,"
        " started TEXT, held INTEGER NOT NULL, state TEXT NOT NULL, moved INTEGER NOT NULL,"
        " number TEXT)");
  });
  Migrate();
}

SqliteRegistry::~SqliteRegistry() = default;

bool SqliteRegistry::HasColumn(const char* table, const char* column) {
  const std::string sql =
      std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name = ?";
  return Checked(kQueryError, [&] {
    sqlite::Statement query(db_, sql.c_str());
    return query.Bind(1, column).Step();
  });
}

// Databases from before uploads were stored under their serial lack stored_name; their files
// keep the names they were stored under (NUMBER_FILENAME), which the column then records.
void SqliteRegistry::Migrate() {
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
  // Registrations from before uploads were hashed have no SHA-256 and are never matched.
  for (const char* column :
       {"sha256 TEXT", "upload_id TEXT", "protocol_data TEXT", "registered_at INTEGER"}) {
    const std::string name(column, std::string_view(column).find(' '));
    if (HasColumn("registrations", name.c_str())) continue;
    const std::string sql = "ALTER TABLE registrations ADD COLUMN " + std::string(column);
    Checked(kDatabaseError, [&] { db_.Exec(sql.c_str()); });
  }
  Checked(kDatabaseError, [&] {
    db_.Exec("CREATE INDEX IF NOT EXISTS registrations_by_sha256 ON registrations (sha256)");
  });
  Checked(kDatabaseError, [&] { transaction.Commit(); });
}

std::string SqliteRegistry::Record(Registration& entry, const CommitFiles& commit_files,
                                   const UndoFiles& undo_files) {
  std::lock_guard lock(mutex_);
  sqlite::Transaction transaction =
      Checked(kDatabaseError, [&] { return sqlite::Transaction(db_); });
  return RecordLocked(entry, transaction, commit_files, undo_files);
}

std::optional<EarlierRegistration> SqliteRegistry::RecordUpload(Registration& entry,
                                                                int64_t dedup_since,
                                                                std::string& number,
                                                                const CommitFiles& commit_files,
                                                                const UndoFiles& undo_files) {
  std::lock_guard lock(mutex_);
  sqlite::Transaction transaction =
      Checked(kDatabaseError, [&] { return sqlite::Transaction(db_); });
  if (auto earlier =
          FindLocked(entry.upload_id, entry.sha256, entry.size, entry.file_name, dedup_since)) {
    Checked(msg::kSrvRegistryWriteFailed,
            [&] { MarkRegistered(entry.upload_id, earlier->number); });
    Checked(msg::kSrvRegistryCommitFailed, [&] { transaction.Commit(); });
    number = earlier->number;
    return earlier;
  }
  number = RecordLocked(entry, transaction, commit_files, undo_files);
  return std::nullopt;
}

void SqliteRegistry::MarkRegistered(const std::string& upload_id, const std::string& number) {
  if (upload_id.empty()) return;
  sqlite::Statement update(db_, "UPDATE uploads SET state = ?, number = ? WHERE id = ?");
  update.Bind(1, StateName(UploadRecord::State::kRegistered))
      .Bind(2, number)
      .Bind(3, upload_id)
      .Run();
}

std::string SqliteRegistry::RecordLocked(Registration& e, sqlite::Transaction& transaction,
                                         const CommitFiles& commit_files,
                                         const UndoFiles& undo_files) {
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
        db_,
        "UPDATE registrations SET number = ?, stored_path = ?, stored_name = ?,"
        " sha256 = ?, upload_id = ?, protocol_data = ?, registered_at = ?"
        " WHERE id = ?");
    what = msg::kSrvRegistryWriteFailed;
    update.Bind(1, number).Bind(2, e.stored_path).Bind(3, e.stored_name);
    update.Bind(4, e.sha256).Bind(5, e.upload_id).Bind(6, HexText(e.protocol_data));
    update.Bind(7, static_cast<int64_t>(std::time(nullptr))).Bind(8, id).Run();
    MarkRegistered(e.upload_id, number);
    what = msg::kSrvRegistryCommitFailed;
    transaction.Commit();
  } catch (const sqlite::ESqliteError& error) {
    undo_files();
    throw ERegistryError(std::string(what) + ": " + error.what() + ".");
  }
  return number;
}

std::optional<EarlierRegistration> SqliteRegistry::FindRegistration(const std::string& upload_id,
                                                                    const std::string& sha256,
                                                                    int64_t size,
                                                                    const std::string& file_name,
                                                                    int64_t since) {
  std::lock_guard lock(mutex_);
  return FindLocked(upload_id, sha256, size, file_name, since);
}

std::optional<EarlierRegistration> SqliteRegistry::FindLocked(const std::string& upload_id,
                                                              const std::string& sha256,
                                                              int64_t size,
                                                              const std::string& file_name,
                                                              int64_t since) {
  return Checked(kQueryError, [&]() -> std::optional<EarlierRegistration> {
    auto found = [](sqlite::Statement& query) -> std::optional<EarlierRegistration> {
      if (!query.Step()) return std::nullopt;
      return EarlierRegistration{query.ColumnText(0), UnhexText(query.ColumnText(1))};
    };
    if (!upload_id.empty()) {
      sqlite::Statement query(db_,
                              "SELECT r.number, r.protocol_data FROM uploads u"
                              " JOIN registrations r ON r.number = u.number"
                              " WHERE u.id = ? AND u.state = ?");
      query.Bind(1, upload_id).Bind(2, StateName(UploadRecord::State::kRegistered));
      if (auto earlier = found(query)) return earlier;
    }
    if (since <= 0 || sha256.empty()) return std::nullopt;
    sqlite::Statement query(db_,
                            "SELECT number, protocol_data FROM registrations"
                            " WHERE operation = 1 AND number IS NOT NULL AND sha256 = ?"
                            " AND size = ? AND file_name = ? AND registered_at >= ?"
                            " AND protocol_data IS NOT NULL AND protocol_data <> ''"
                            " ORDER BY id DESC LIMIT 1");
    query.Bind(1, sha256).Bind(2, size).Bind(3, file_name).Bind(4, since);
    return found(query);
  });
}

void SqliteRegistry::CreateUpload(const UploadRecord& u) {
  std::lock_guard lock(mutex_);
  Checked(msg::kSrvRegistryWriteFailed, [&] {
    sqlite::Statement insert(db_,
                             "INSERT INTO uploads (id, file_name, size, sha256, form_type,"
                             " form_version, client_address, started, held, state, moved)"
                             " VALUES (?,?,?,?,?,?,?,?,?,?,?)");
    insert.Bind(1, u.id).Bind(2, u.file_name).Bind(3, u.size).Bind(4, u.sha256);
    insert.Bind(5, u.form_type).Bind(6, u.form_version).Bind(7, u.client_address);
    insert.Bind(8, u.started).Bind(9, u.held).Bind(10, StateName(u.state)).Bind(11, u.moved);
    insert.Run();
  });
}

std::optional<UploadRecord> SqliteRegistry::FindUpload(const std::string& id) {
  std::lock_guard lock(mutex_);
  return Checked(kQueryError, [&]() -> std::optional<UploadRecord> {
    const std::string sql = std::string("SELECT ") + kUploadColumns + " FROM uploads WHERE id = ?";
    sqlite::Statement query(db_, sql.c_str());
    if (!query.Bind(1, id).Step()) return std::nullopt;
    return UploadFrom(query);
  });
}

void SqliteRegistry::RecordHeld(const std::string& id, int64_t held, int64_t now) {
  std::lock_guard lock(mutex_);
  Checked(msg::kSrvRegistryWriteFailed, [&] {
    sqlite::Statement update(db_,
                             "UPDATE uploads SET held = ?, moved = ? WHERE id = ? AND state = ?");
    update.Bind(1, held).Bind(2, now).Bind(3, id).Bind(4, StateName(UploadRecord::State::kOpen));
    update.Run();
  });
}

void SqliteRegistry::ExpireUpload(const std::string& id) {
  std::lock_guard lock(mutex_);
  Checked(msg::kSrvRegistryWriteFailed, [&] {
    sqlite::Statement update(db_, "UPDATE uploads SET state = ? WHERE id = ? AND state = ?");
    update.Bind(1, StateName(UploadRecord::State::kExpired))
        .Bind(2, id)
        .Bind(3, StateName(UploadRecord::State::kOpen))
        .Run();
  });
}

std::vector<UploadRecord> SqliteRegistry::OpenUploads(int64_t moved_before) {
  std::lock_guard lock(mutex_);
  return Checked(kQueryError, [&] {
    const std::string sql = std::string("SELECT ") + kUploadColumns +
                            " FROM uploads WHERE state = ? AND moved < ? ORDER BY id";
    sqlite::Statement query(db_, sql.c_str());
    query.Bind(1, StateName(UploadRecord::State::kOpen)).Bind(2, moved_before);
    std::vector<UploadRecord> uploads;
    while (query.Step()) uploads.push_back(UploadFrom(query));
    return uploads;
  });
}

int64_t SqliteRegistry::Count() {
  std::lock_guard lock(mutex_);
  return Checked(kQueryError, [&] {
    sqlite::Statement query(db_, "SELECT COUNT(*) FROM registrations WHERE number IS NOT NULL");
    return query.Step() ? query.ColumnInt64(0) : int64_t{0};
  });
}

bool SqliteRegistry::HasStoredName(const std::string& name) {
  std::lock_guard lock(mutex_);
  return Checked(kQueryError, [&] {
    sqlite::Statement query(
        db_, "SELECT 1 FROM registrations WHERE number IS NOT NULL AND stored_name = ?");
    return query.Bind(1, name).Step();
  });
}

std::optional<std::string> SqliteRegistry::CheckReachable() {
  try {
    Count();
  } catch (const ERegistryError& e) {
    return std::string(e.what());
  }
  return std::nullopt;
}

}  // namespace vorncom::server

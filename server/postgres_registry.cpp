#include "server/postgres_registry.h"

#include <cstdio>
#include <ctime>
#include <string_view>
#include <utility>

#include "common/messages.h"
#include "server/postgres/transaction.h"

namespace vorncom::server {

namespace {

using postgres::Connection;
using postgres::EPostgresError;
using postgres::Param;
using postgres::Result;

constexpr std::chrono::seconds kConnectTimeout{5};
constexpr std::chrono::seconds kHealthTimeout{2};
// Held while the schema is created or migrated, so that servers starting together take turns.
constexpr int64_t kSchemaLock = 0x766f726e636f6d01;  // "vorncom" and 1

// Each entry brings the schema from the version before it to its own (index + 1). Entries are
// never edited once released: a change is a new entry.
constexpr const char* kMigrations[] = {
    // 1: registrations numbered by one sequence, resumable uploads.
    "CREATE SEQUENCE registration_serial;"
    "CREATE TABLE registrations ("
    " id BIGINT PRIMARY KEY, number TEXT NOT NULL UNIQUE, operation INTEGER NOT NULL,"
    " file_name TEXT NOT NULL, stored_path TEXT, stored_name TEXT, size BIGINT NOT NULL,"
    " form_type TEXT, form_name TEXT, form_version TEXT, requester_id TEXT,"
    " requester_name TEXT, agency_id TEXT, client_address TEXT, started TEXT, finished TEXT,"
    " sha256 TEXT, upload_id TEXT, protocol_data BYTEA, registered_at BIGINT NOT NULL);"
    "CREATE INDEX registrations_dedup ON registrations (sha256, size, file_name, registered_at)"
    " WHERE operation = 1;"
    "CREATE INDEX registrations_by_stored_name ON registrations (stored_name);"
    "CREATE TABLE uploads ("
    " id TEXT PRIMARY KEY, file_name TEXT NOT NULL, size BIGINT NOT NULL,"
    " sha256 TEXT NOT NULL, form_type TEXT, form_version TEXT, client_address TEXT,"
    " started TEXT, held BIGINT NOT NULL, state TEXT NOT NULL, moved BIGINT NOT NULL,"
    " number TEXT);"
    "CREATE INDEX uploads_open ON uploads (moved) WHERE state = 'open';",
};

constexpr const char* kStateNames[] = {"open", "registered", "expired"};

const char* StateName(UploadRecord::State state) { return kStateNames[static_cast<int>(state)]; }

UploadRecord::State StateOf(const std::string& name) {
  if (name == "registered") return UploadRecord::State::kRegistered;
  if (name == "open") return UploadRecord::State::kOpen;
  return UploadRecord::State::kExpired;
}

constexpr std::string_view kUploadColumns =
    "id, file_name, size, sha256, form_type, form_version, client_address, started, held, state,"
    " moved, number";

UploadRecord UploadFrom(const Result& r, int row) {
  UploadRecord u;
  u.id = r.Text(row, 0);
  u.file_name = r.Text(row, 1);
  u.size = r.Int64(row, 2);
  u.sha256 = r.Text(row, 3);
  u.form_type = r.OptionalText(row, 4).value_or("");
  u.form_version = r.OptionalText(row, 5).value_or("");
  u.client_address = r.OptionalText(row, 6).value_or("");
  u.started = r.OptionalText(row, 7).value_or("");
  u.held = r.Int64(row, 8);
  u.state = StateOf(r.Text(row, 9));
  u.moved = r.Int64(row, 10);
  u.number = r.OptionalText(row, 11).value_or("");
  return u;
}

// libpq's messages end in a line break, and some in a period.
std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

std::string Failure(std::string_view what, const std::exception& e) {
  return std::string(what) + ": " + Trimmed(e.what()) + ".";
}

// The URL with its password, if any, left out: it goes into messages and logs.
std::string Redacted(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t at = url.find('@');
  if (scheme == std::string::npos || at == std::string::npos) return url;
  const size_t colon = url.find(':', scheme + 3);
  if (colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon) + ":***" + url.substr(at);
}

std::string Serial(int64_t id) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%010lld", static_cast<long long>(id));
  return digits;
}

// The registration of the resumable upload `upload_id` (may be empty); failing that the newest
// of an upload of this SHA-256, size and name made at or after `since` (0: none looked for).
std::optional<EarlierRegistration> FindEarlier(Connection& db, const std::string& upload_id,
                                               const std::string& sha256, int64_t size,
                                               const std::string& file_name, int64_t since) {
  const Result found = db.Execute(
      "SELECT number, protocol_data FROM ("
      " SELECT r.number, r.protocol_data, 0 AS rank, r.id FROM uploads u"
      "  JOIN registrations r ON r.number = u.number"
      "  WHERE $1 <> '' AND u.id = $1 AND u.state = 'registered'"
      " UNION ALL"
      " SELECT number, protocol_data, 1, id FROM registrations"
      "  WHERE $2 > 0 AND $3 <> '' AND operation = 1 AND sha256 = $3 AND size = $4"
      "  AND file_name = $5 AND registered_at >= $2 AND length(protocol_data) > 0"
      ") found ORDER BY rank, id DESC LIMIT 1",
      {upload_id, since, sha256, size, file_name});
  if (found.Rows() == 0) return std::nullopt;
  EarlierRegistration earlier{found.Text(0, 0), {}};
  const std::string bytes = found.Bytes(0, 1);
  earlier.protocol_data.assign(bytes.begin(), bytes.end());
  return earlier;
}

}  // namespace

// A pooled connection for the length of one call.
class PostgresRegistry::Lease {
 public:
  explicit Lease(PostgresRegistry& owner) : owner_(owner), db_(owner.Acquire(slot_)) {}
  ~Lease() { owner_.Release(slot_); }
  Connection& db() { return db_; }

 private:
  PostgresRegistry& owner_;
  size_t slot_ = 0;
  Connection& db_;
};

PostgresRegistry::PostgresRegistry(std::string url, std::string protocol_prefix,
                                   unsigned connections)
    : url_(std::move(url)), prefix_(std::move(protocol_prefix)) {
  pool_.resize(connections == 0 ? 1 : connections);
  busy_.assign(pool_.size(), false);
  try {
    pool_[0] = std::make_unique<Connection>(url_, kConnectTimeout);
  } catch (const EPostgresError& e) {
    throw ERegistryError(
        msg::Format(msg::kSrvRegistryNotOpened, {Redacted(url_), Trimmed(e.what())}));
  }
  try {
    Migrate(*pool_[0]);
  } catch (const EPostgresError& e) {
    throw ERegistryError(Failure(msg::kSrvRegistryMigrationFailed, e));
  }
}

PostgresRegistry::~PostgresRegistry() = default;

int PostgresRegistry::SchemaVersion() { return static_cast<int>(std::size(kMigrations)); }

void PostgresRegistry::Migrate(Connection& db) {
  postgres::Transaction transaction(db);
  db.Execute("SELECT pg_advisory_xact_lock($1)", {kSchemaLock});
  db.RunScript(
      "CREATE TABLE IF NOT EXISTS schema_version ("
      " version INTEGER PRIMARY KEY, applied_at TIMESTAMPTZ NOT NULL DEFAULT now())");
  const int64_t current =
      db.Execute("SELECT COALESCE(max(version), 0) FROM schema_version").Int64(0, 0);
  // A newer schema than this build knows is left as it is: migrations only ever add, so a server
  // of the release before keeps working during a rolling upgrade.
  for (int64_t version = current + 1; version <= SchemaVersion(); ++version) {
    db.RunScript(kMigrations[version - 1]);
    db.Execute("INSERT INTO schema_version (version) VALUES ($1)", {version});
  }
  transaction.Commit();
}

Connection& PostgresRegistry::Acquire(size_t& slot) {
  {
    std::unique_lock lock(mutex_);
    for (;;) {
      size_t i = 0;
      while (i < busy_.size() && busy_[i]) ++i;
      if (i < busy_.size()) {
        busy_[i] = true;
        slot = i;
        break;
      }
      free_.wait(lock);
    }
  }
  // Connecting happens outside the lock: other calls go on with the other connections.
  try {
    std::unique_ptr<Connection>& db = pool_[slot];
    if (!db) {
      db = std::make_unique<Connection>(url_, kConnectTimeout);
    } else if (db->IsLost()) {
      db->Reset();
    }
    return *db;
  } catch (const EPostgresError& e) {
    Release(slot);
    throw ERegistryError(Failure(msg::kSrvRegistryFailure, e));
  }
}

void PostgresRegistry::Release(size_t slot) {
  {
    std::lock_guard lock(mutex_);
    busy_[slot] = false;
  }
  free_.notify_one();
}

template <typename Body>
auto PostgresRegistry::Run(std::string_view what, Body&& body) {
  Lease lease(*this);
  try {
    return body(lease.db());
  } catch (const EPostgresError& e) {
    // A lost connection is made again by the next call that takes it (Acquire).
    throw ERegistryError(Failure(what, e));
  }
}

std::string PostgresRegistry::RecordOn(Connection& db, postgres::Transaction& transaction,
                                       Registration& e, std::string_view& what,
                                       const CommitFiles& commit_files,
                                       const UndoFiles& undo_files) {
  what = msg::kSrvRegistryWriteFailed;
  // Taken outside the transaction's fate: a rolled back registration leaves a gap, never a
  // number given twice.
  const int64_t id = db.Execute("SELECT nextval('registration_serial')").Int64(0, 0);
  const std::string serial = Serial(id);
  const std::string number = prefix_ + serial;
  commit_files(number, serial);
  // From here on a failure takes the files back: nothing may stay stored without its record.
  try {
    const Param row[] = {
        id,
        number,
        int64_t{e.operation},
        e.file_name,
        e.stored_path,
        e.stored_name,
        e.size,
        e.form_type,
        e.form_name,
        e.form_version,
        e.requester_id,
        e.requester_name,
        e.agency_id,
        e.client_address,
        e.started,
        e.finished,
        e.sha256,
        e.upload_id,
        Param::Bytes(std::string_view(reinterpret_cast<const char*>(e.protocol_data.data()),
                                      e.protocol_data.size())),
        static_cast<int64_t>(std::time(nullptr))};
    db.Execute(
        "INSERT INTO registrations (id, number, operation, file_name, stored_path, stored_name,"
        " size, form_type, form_name, form_version, requester_id, requester_name, agency_id,"
        " client_address, started, finished, sha256, upload_id, protocol_data, registered_at)"
        " VALUES ($1,$2,$3,$4,$5,$6,$7,$8,$9,$10,$11,$12,$13,$14,$15,$16,$17,$18,$19,$20)",
        row);
    if (!e.upload_id.empty())
      db.Execute("UPDATE uploads SET state = $1, number = $2 WHERE id = $3",
                 {StateName(UploadRecord::State::kRegistered), number, e.upload_id});
    what = msg::kSrvRegistryCommitFailed;
    transaction.Commit();
  } catch (const EPostgresError& error) {
    // A commit whose answer was lost may have been made: then the files stay where they are,
    // and also when nobody can tell (a stored file without its record is removed at start-up;
    // a record without its file would be lost data).
    if (what == msg::kSrvRegistryCommitFailed && error.connection_lost()) {
      const std::optional<bool> committed = Committed(id);
      if (committed == true) return number;
      if (!committed) throw;
    }
    undo_files();
    throw;
  }
  return number;
}

std::optional<bool> PostgresRegistry::Committed(int64_t id) {
  try {
    Connection fresh(url_, kConnectTimeout);
    return fresh.Execute("SELECT 1 FROM registrations WHERE id = $1", {id}).Rows() == 1;
  } catch (const EPostgresError&) {
    return std::nullopt;
  }
}

std::string PostgresRegistry::Record(Registration& entry, const CommitFiles& commit_files,
                                     const UndoFiles& undo_files) {
  std::string_view what = msg::kSrvRegistryFailure;
  return Run(what, [&](Connection& db) {
    try {
      postgres::Transaction transaction(db);
      return RecordOn(db, transaction, entry, what, commit_files, undo_files);
    } catch (const EPostgresError& e) {
      throw ERegistryError(Failure(what, e));
    }
  });
}

std::optional<EarlierRegistration> PostgresRegistry::RecordUpload(Registration& entry,
                                                                  int64_t dedup_since,
                                                                  std::string& number,
                                                                  const CommitFiles& commit_files,
                                                                  const UndoFiles& undo_files) {
  std::string_view what = msg::kSrvRegistryFailure;
  return Run(what, [&](Connection& db) -> std::optional<EarlierRegistration> {
    try {
      postgres::Transaction transaction(db);
      if (!entry.upload_id.empty() || (dedup_since > 0 && !entry.sha256.empty())) {
        // Whoever takes the lock second finds the first one's registration committed.
        what = msg::kSrvRegistryQueryFailed;
        db.Execute("SELECT pg_advisory_xact_lock(hashtextextended($1, 0))",
                   {entry.sha256 + ":" + std::to_string(entry.size) + ":" + entry.file_name});
        if (std::optional<EarlierRegistration> earlier = FindEarlier(
                db, entry.upload_id, entry.sha256, entry.size, entry.file_name, dedup_since)) {
          what = msg::kSrvRegistryWriteFailed;
          if (!entry.upload_id.empty())
            db.Execute(
                "UPDATE uploads SET state = $1, number = $2 WHERE id = $3",
                {StateName(UploadRecord::State::kRegistered), earlier->number, entry.upload_id});
          what = msg::kSrvRegistryCommitFailed;
          transaction.Commit();
          number = earlier->number;
          return earlier;
        }
      }
      number = RecordOn(db, transaction, entry, what, commit_files, undo_files);
      return std::nullopt;
    } catch (const EPostgresError& e) {
      throw ERegistryError(Failure(what, e));
    }
  });
}

std::optional<EarlierRegistration> PostgresRegistry::FindRegistration(const std::string& upload_id,
                                                                      const std::string& sha256,
                                                                      int64_t size,
                                                                      const std::string& file_name,
                                                                      int64_t since) {
  return Run(msg::kSrvRegistryQueryFailed, [&](Connection& db) {
    return FindEarlier(db, upload_id, sha256, size, file_name, since);
  });
}

void PostgresRegistry::CreateUpload(const UploadRecord& u) {
  Run(msg::kSrvRegistryWriteFailed, [&](Connection& db) {
    db.Execute(
        "INSERT INTO uploads (id, file_name, size, sha256, form_type, form_version,"
        " client_address, started, held, state, moved) VALUES ($1,$2,$3,$4,$5,$6,$7,$8,$9,$10,$11)",
        {u.id, u.file_name, u.size, u.sha256, u.form_type, u.form_version, u.client_address,
         u.started, u.held, StateName(u.state), u.moved});
  });
}

std::optional<UploadRecord> PostgresRegistry::FindUpload(const std::string& id) {
  return Run(msg::kSrvRegistryQueryFailed, [&](Connection& db) -> std::optional<UploadRecord> {
    const Result r =
        db.Execute("SELECT " + std::string(kUploadColumns) + " FROM uploads WHERE id = $1", {id});
    if (r.Rows() == 0) return std::nullopt;
    return UploadFrom(r, 0);
  });
}

void PostgresRegistry::RecordHeld(const std::string& id, int64_t held, int64_t now) {
  Run(msg::kSrvRegistryWriteFailed, [&](Connection& db) {
    db.Execute("UPDATE uploads SET held = $1, moved = $2 WHERE id = $3 AND state = 'open'",
               {held, now, id});
  });
}

void PostgresRegistry::ExpireUpload(const std::string& id) {
  Run(msg::kSrvRegistryWriteFailed, [&](Connection& db) {
    db.Execute("UPDATE uploads SET state = 'expired' WHERE id = $1 AND state = 'open'", {id});
  });
}

std::vector<UploadRecord> PostgresRegistry::OpenUploads(int64_t moved_before) {
  return Run(msg::kSrvRegistryQueryFailed, [&](Connection& db) {
    const Result r = db.Execute("SELECT " + std::string(kUploadColumns) +
                                    " FROM uploads WHERE state = 'open' AND moved < $1 ORDER BY id",
                                {moved_before});
    std::vector<UploadRecord> uploads;
    for (int row = 0; row < r.Rows(); ++row) uploads.push_back(UploadFrom(r, row));
    return uploads;
  });
}

int64_t PostgresRegistry::Count() {
  return Run(msg::kSrvRegistryQueryFailed, [&](Connection& db) {
    return db.Execute("SELECT COUNT(*) FROM registrations").Int64(0, 0);
  });
}

bool PostgresRegistry::HasStoredName(const std::string& name) {
  return Run(msg::kSrvRegistryQueryFailed, [&](Connection& db) {
    return db.Execute("SELECT 1 FROM registrations WHERE stored_name = $1 LIMIT 1", {name})
               .Rows() == 1;
  });
}

std::optional<std::string> PostgresRegistry::CheckReachable() {
  // A connection of its own with a short timeout: the pool's may all be busy or slow.
  std::lock_guard lock(health_mutex_);
  try {
    if (!health_) {
      health_ = std::make_unique<Connection>(url_, kHealthTimeout);
    } else if (health_->IsLost()) {
      health_->Reset();
    }
    health_->Execute("SELECT 1");
    return std::nullopt;
  } catch (const EPostgresError& e) {
    return Failure(msg::kSrvRegistryFailure, e);
  }
}

}  // namespace vorncom::server

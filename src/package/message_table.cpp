#include "package/message_table.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include "common/cp1252.h"

namespace vorncom::package {
namespace {

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS en_tipo_doc_solicitacao ("
    " TPO_DOC_SOLICITACAO TEXT NOT NULL,"
    " COD_VERSAO_DOC_SOLICITACAO TEXT NOT NULL,"
    " TXT_MSG_DOC_SOLICITACAO TEXT)";

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

[[noreturn]] void Fail(sqlite3* db, const std::string& table_path) {
  throw EMessageTableError(table_path + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

Db Open(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) Fail(db.get(), path);
  // Every send of every host process sharing the folder updates the table; a commit waits its
  // turn rather than fail a send whose package is already stamped.
  sqlite3_busy_timeout(db.get(), 15'000);
  return db;
}

void Exec(sqlite3* db, const char* sql, const std::string& path) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db, path);
}

Stmt Prepare(sqlite3* db, const char* sql, const std::string& path) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) Fail(db, path);
  return Stmt(raw);
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
  return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, column))) : "";
}

struct Row {
  sqlite3_int64 rowid;
  std::string message;
};

// The first row, in table order, whose pair matches without regard to letter case.
std::optional<Row> FindRow(sqlite3* db, const std::string& path, const std::string& type,
                           const std::string& version) {
  Stmt stmt = Prepare(db,
                      "SELECT rowid, TPO_DOC_SOLICITACAO, COD_VERSAO_DOC_SOLICITACAO,"
                      " TXT_MSG_DOC_SOLICITACAO FROM en_tipo_doc_solicitacao ORDER BY rowid",
                      path);
  while (true) {
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) Fail(db, path);
    if (EqualsIgnoreCase(ColumnText(stmt.get(), 1), type) &&
        EqualsIgnoreCase(ColumnText(stmt.get(), 2), version)) {
      return Row{sqlite3_column_int64(stmt.get(), 0), ColumnText(stmt.get(), 3)};
    }
  }
}

void BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Blanks and control characters only, as a trim would leave nothing.
bool IsBlank(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

// Rolls back an open transaction unless committed.
class Transaction {
 public:
  Transaction(sqlite3* db, const std::string& path) : db_(db), path_(path) {
    Exec(db_, "BEGIN IMMEDIATE", path_);
  }
  ~Transaction() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    Exec(db_, "COMMIT", path_);
    done_ = true;
  }

 private:
  sqlite3* db_;
  const std::string& path_;
  bool done_ = false;
};

}  // namespace

bool StoreRequestMessage(const std::string& table_path, const std::string& type,
                         const std::string& version, const std::string& message) {
  std::error_code ec;
  const bool exists = std::filesystem::exists(table_path, ec);
  if (!exists && IsBlank(message)) return false;
  if (!exists) {
    const auto folder = std::filesystem::path(table_path).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  } else {
    // A read-only table is still the library's to update.
    struct stat st {};
    if (stat(table_path.c_str(), &st) == 0)
      chmod(table_path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  }

  Db db = Open(table_path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  Transaction transaction(db.get(), table_path);
  Exec(db.get(), kCreateTable, table_path);
  const auto row = FindRow(db.get(), table_path, type, version);
  Stmt stmt;
  if (row) {
    stmt = Prepare(db.get(),
                   "UPDATE en_tipo_doc_solicitacao SET TXT_MSG_DOC_SOLICITACAO = ?1"
                   " WHERE rowid = ?2",
                   table_path);
    BindText(stmt.get(), 1, message);
    sqlite3_bind_int64(stmt.get(), 2, row->rowid);
  } else {
    stmt = Prepare(db.get(),
                   "INSERT INTO en_tipo_doc_solicitacao (TPO_DOC_SOLICITACAO,"
                   " COD_VERSAO_DOC_SOLICITACAO, TXT_MSG_DOC_SOLICITACAO) VALUES (?1, ?2, ?3)",
                   table_path);
    BindText(stmt.get(), 1, type);
    BindText(stmt.get(), 2, version);
    BindText(stmt.get(), 3, message);
  }
  if (sqlite3_step(stmt.get()) != SQLITE_DONE) Fail(db.get(), table_path);
  stmt.reset();
  transaction.Commit();
  return true;
}

std::optional<std::string> LookupRequestMessage(const std::string& table_path,
                                                const std::string& type,
                                                const std::string& version) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(table_path, ec)) return std::nullopt;
  Db db = Open(table_path, SQLITE_OPEN_READONLY);
  const auto row = FindRow(db.get(), table_path, type, version);
  if (!row) return std::nullopt;
  return row->message;
}

}  // namespace vorncom::package

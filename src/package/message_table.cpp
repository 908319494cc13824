#include "package/message_table.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "common/cp1252.h"
#include "common/sqlite/database.h"

namespace vorncom::package {
namespace {

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS en_tipo_doc_solicitacao ("
    " TPO_DOC_SOLICITACAO TEXT NOT NULL,"
    " COD_VERSAO_DOC_SOLICITACAO TEXT NOT NULL,"
    " TXT_MSG_DOC_SOLICITACAO TEXT)";

// Every send of every host process sharing the folder updates the table; a commit waits its
// turn rather than fail a send whose package is already stamped.
constexpr std::chrono::milliseconds kBusyTimeout{15'000};

struct Row {
  int64_t rowid;
  std::string message;
};

// The first row, in table order, whose pair matches without regard to letter case.
std::optional<Row> FindRow(sqlite::Database& db, const std::string& type,
                           const std::string& version) {
  sqlite::Statement stmt(db,
                         "SELECT rowid, TPO_DOC_SOLICITACAO, COD_VERSAO_DOC_SOLICITACAO,"
                         " TXT_MSG_DOC_SOLICITACAO FROM en_tipo_doc_solicitacao ORDER BY rowid");
  while (stmt.Step()) {
    if (EqualsIgnoreCase(stmt.ColumnText(1), type) &&
        EqualsIgnoreCase(stmt.ColumnText(2), version)) {
      return Row{stmt.ColumnInt64(0), stmt.ColumnText(3)};
    }
  }
  return std::nullopt;
}

// Blanks and control characters only, as a trim would leave nothing.
bool IsBlank(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

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

  try {
    sqlite::Database db(table_path, sqlite::Access::kReadWriteCreate, kBusyTimeout);
    sqlite::Transaction transaction(db);
    db.Exec(kCreateTable);
    if (const auto row = FindRow(db, type, version)) {
      sqlite::Statement update(db,
                               "UPDATE en_tipo_doc_solicitacao SET TXT_MSG_DOC_SOLICITACAO = ?1"
                               " WHERE rowid = ?2");
      update.Bind(1, message).Bind(2, row->rowid).Run();
    } else {
      sqlite::Statement insert(db,
                               "INSERT INTO en_tipo_doc_solicitacao (TPO_DOC_SOLICITACAO,"
                               " COD_VERSAO_DOC_SOLICITACAO, TXT_MSG_DOC_SOLICITACAO)"
                               " VALUES (?1, ?2, ?3)");
      insert.Bind(1, type).Bind(2, version).Bind(3, message).Run();
    }
    transaction.Commit();
  } catch (const sqlite::ESqliteError& e) {
    throw EMessageTableError(table_path + ": " + e.what());
  }
  return true;
}

std::optional<std::string> LookupRequestMessage(const std::string& table_path,
                                                const std::string& type,
                                                const std::string& version) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(table_path, ec)) return std::nullopt;
  try {
    sqlite::Database db(table_path, sqlite::Access::kReadOnly, kBusyTimeout);
    const auto row = FindRow(db, type, version);
    if (!row) return std::nullopt;
    return row->message;
  } catch (const sqlite::ESqliteError& e) {
    throw EMessageTableError(table_path + ": " + e.what());
  }
}

}  // namespace vorncom::package

#pragma once

// One SQLite connection and what is made on it: prepared statements and transactions. Every
// failure is raised as ESqliteError with the engine's own message, which callers put into their
// own family's text.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/exception.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vorncom::sqlite {

// A failed SQLite call. what() is the engine's message (UTF-8); result_code() its result code.
class ESqliteError : public Exception {
 public:
  ESqliteError(int result_code, const std::string& message)
      : Exception(message), result_code_(result_code) {}
  int result_code() const { return result_code_; }

 private:
  int result_code_;
};

enum class Access {
  kReadOnly,
  kReadWriteCreate,  // a missing file becomes an empty database
};

// An open connection, usable from one thread at a time or, serialised by SQLite, from several.
class Database {
 public:
  // Opens the database file at `path`. A statement that meets another connection's lock waits
  // up to `busy_timeout` for it before failing with SQLITE_BUSY. Throws ESqliteError.
  Database(const std::string& path, Access access, std::chrono::milliseconds busy_timeout);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs statements that yield no rows. Throws ESqliteError.
  void Exec(const char* sql);
  // The rowid of the last row this connection inserted.
  int64_t LastInsertRowId() const;

  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// A prepared statement; `db` must outlive it.
class Statement {
 public:
  // Throws ESqliteError when `sql` cannot be prepared.
  Statement(Database& db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Binds parameter `index` (from 1); the text is copied.
  Statement& Bind(int index, std::string_view text);
  Statement& Bind(int index, int64_t value);

  // Advances to the next row: true when there is one, false at the end. Throws ESqliteError.
  bool Step();
  // Steps to the end of a statement that yields no rows. Throws ESqliteError.
  void Run();

  // The current row's column (from 0) as text, empty for NULL; as an integer, 0 for NULL.
  std::string ColumnText(int column) const;
  int64_t ColumnInt64(int column) const;

 private:
  Database& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE on construction: the write lock is taken at once (waiting up to the busy
// timeout), so what the transaction reads cannot change before it writes. Rolled back on
// destruction unless committed. `db` must outlive it; statements of the transaction must be
// finished before Commit().
class Transaction {
 public:
  // Throws ESqliteError when the transaction cannot begin.
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Throws ESqliteError; the transaction is then rolled back on destruction.
  void Commit();

 private:
  Database& db_;
  bool done_ = false;
};

}  // namespace vorncom::sqlite

#include "common/sqlite/database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>

#include "support/temp_dir.h"

namespace vorncom::sqlite {
namespace {

using std::chrono::milliseconds;

// The engine's code and text reach the caller, whichever call fails.
TEST(SqliteDatabase, FailuresCarryTheEnginesCodeAndMessage) {
  testing::TempDir dir;
  const std::string path = dir / "t.db";
  {
    Database db(path, Access::kReadWriteCreate, milliseconds(0));
    db.Exec("CREATE TABLE t (a TEXT NOT NULL)");
  }
  struct Row {
    const char* what;
    std::function<void()> call;
    int code;
    const char* message;
  };
  const Row rows[] = {
      {"missing file read-only",
       [&] { Database(dir / "missing.db", Access::kReadOnly, milliseconds(0)); }, SQLITE_CANTOPEN,
       "unable to open database file"},
      {"bad statement",
       [&] {
         Database db(path, Access::kReadOnly, milliseconds(0));
         Statement(db, "SELEC a FROM t");
       },
       SQLITE_ERROR, "syntax error"},
      {"constraint at the step",
       [&] {
         Database db(path, Access::kReadWriteCreate, milliseconds(0));
         Statement insert(db, "INSERT INTO t (a) VALUES (NULL)");
         insert.Run();
       },
       SQLITE_CONSTRAINT, "NOT NULL constraint failed: t.a"},
      {"write on a read-only connection",
       [&] {
         Database db(path, Access::kReadOnly, milliseconds(0));
         db.Exec("INSERT INTO t (a) VALUES ('x')");
       },
       SQLITE_READONLY, "attempt to write a readonly database"},
      {"lock held by another connection",
       [&] {
         Database holder(path, Access::kReadWriteCreate, milliseconds(0));
         Transaction held(holder);
         Database db(path, Access::kReadWriteCreate, milliseconds(0));
         Transaction waiting(db);
       },
       SQLITE_BUSY, "database is locked"},
  };
  for (const Row& row : rows) {
    try {
      row.call();
      ADD_FAILURE() << row.what << ": no error";
    } catch (const ESqliteError& e) {
      EXPECT_EQ(e.result_code(), row.code) << row.what;
      EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos)
          << row.what << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace vorncom::sqlite

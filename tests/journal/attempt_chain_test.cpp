#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "common/sqlite/database.h"
#include "journal/attempt_chain.h"
#include "journal/journal_fixture.h"
#include "journal/send_journal.h"

namespace vorncom::journal {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void RunSql(const std::string& path, const char* sql) {
  sqlite::Database db(path, sqlite::Access::kReadWriteCreate, std::chrono::milliseconds(1000));
  db.Exec(sql);
}

std::string JournalWith(const testing::TempDir& dir, int rows) {
  const std::string path = dir / "envios.db";
  SendJournal journal(path);
  for (int n = 1; n <= rows; ++n) journal.Append(SendAttempt(n));
  return path;
}

TEST(AttemptChain, AppendsReadBackAsAnIntactChain) {
  testing::TempDir dir;
  const std::string path = JournalWith(dir, 20);
  SendJournal journal(path);
  const auto rows = journal.Attempts();
  ASSERT_EQ(rows.size(), 20u);
  EXPECT_EQ(rows[0].previous_hash, std::string(64, '0'));
  for (size_t i = 0; i < rows.size(); ++i) {
    const Attempt want = SendAttempt(static_cast<int>(i) + 1);
    EXPECT_EQ(rows[i].attempt.server_message, want.server_message);
    EXPECT_EQ(rows[i].attempt.tls_version, want.tls_version);
    EXPECT_EQ(rows[i].attempt.bytes_moved, want.bytes_moved);
    EXPECT_EQ(rows[i].attempt.result_code, want.result_code);
    if (i > 0) {
      EXPECT_EQ(rows[i].previous_hash, rows[i - 1].row_hash);
    }
  }
  EXPECT_EQ(journal.FirstBrokenRow(), std::nullopt);
  journal.Append(Attempt{});  // an empty time becomes now
  EXPECT_EQ(journal.Attempts().back().attempt.time.size(), 19u);
  EXPECT_EQ(journal.FirstBrokenRow(), std::nullopt);
}

// Plain SQL on a chain of five rows; the row where the chain is first seen to break.
TEST(AttemptChain, ChangedOrRemovedRowsBreakTheChainWhereTheyWere) {
  const struct {
    const char* sql;
    int64_t broken;
  } rows[] = {
      {"UPDATE attempts SET server_message = 'Recebido' WHERE id = 3", 3},
      {"UPDATE attempts SET bytes_moved = bytes_moved + 1 WHERE id = 3", 3},
      // The same bytes split otherwise between two fields.
      {"UPDATE attempts SET operation = 'envi', file_name = 'o' || file_name WHERE id = 3", 3},
      // A code that reads back the same once narrowed to 32 bits.
      {"UPDATE attempts SET result_code = result_code + 4294967296 WHERE id = 2", 2},
      {"UPDATE attempts SET id = 9 WHERE id = 5", 9},
      {"DELETE FROM attempts WHERE id = 3", 4},
      {"DELETE FROM attempts WHERE id = 1", 2},
  };
  for (const auto& row : rows) {
    testing::TempDir dir;
    const std::string path = JournalWith(dir, 5);
    RunSql(path, row.sql);
    EXPECT_EQ(SendJournal(path).FirstBrokenRow(), row.broken) << row.sql;
  }
  // A row changed and hashed anew: the next row's link still shows it.
  testing::TempDir dir;
  const std::string path = JournalWith(dir, 5);
  AttemptRow second = SendJournal(path).Attempts().at(1);
  second.attempt.time = "2026-12-01 09:00:00";
  sqlite::Database db(path, sqlite::Access::kReadWriteCreate, std::chrono::milliseconds(1000));
  sqlite::Statement rewrite(db, "UPDATE attempts SET time = ?1, row_hash = ?2 WHERE id = 2");
  rewrite.Bind(1, second.attempt.time)
      .Bind(2, AttemptRowHash(second.previous_hash, 2, second.attempt))
      .Run();
  EXPECT_EQ(SendJournal(path).FirstBrokenRow(), 3);
}

// Two processes of one folder appending at once, from a file neither has made yet.
TEST(AttemptChain, ProcessesAppendingAtOnceMakeOneChain) {
  testing::TempDir dir;
  const std::string path = dir / "Configuracoes/envios.db";
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      close(go[1]);
      char byte;
      int status = read(go[0], &byte, 1) == 0 ? 0 : 3;  // starts when the pipe closes
      try {
        SendJournal journal(path);
        for (int n = 0; n < 200; ++n) {
          Attempt a = SendAttempt(n);
          a.server = "child" + std::to_string(c);
          journal.Append(a);
        }
      } catch (...) {
        status = 1;
      }
      _exit(status);
    }
  }
  close(go[0]);
  close(go[1]);
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  SendJournal journal(path);
  std::map<std::string, int> per_child;
  for (const AttemptRow& row : journal.Attempts()) ++per_child[row.attempt.server];
  EXPECT_EQ(per_child, (std::map<std::string, int>{{"child0", 200}, {"child1", 200}}));
  EXPECT_EQ(journal.FirstBrokenRow(), std::nullopt);
}

// Files that are no journal of this build fail with EJournalError and are left as they were.
TEST(AttemptChain, FilesThatAreNoJournalAreRefusedUntouched) {
  testing::TempDir dir;
  const std::string journal = JournalWith(dir, 3);
  std::string garbage(8192, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  std::string damaged = Slurp(journal);
  damaged.replace(0, 16, "SQLite format 2");
  const std::string other = dir / "other.db";
  RunSql(other, "CREATE TABLE clientes (nome TEXT)");
  const std::string newer = dir / "newer.db";
  RunSql(newer, "PRAGMA user_version = 2");
  const std::string narrow = dir / "narrow.db";
  RunSql(narrow, "CREATE TABLE sends (id); CREATE TABLE attempts (id); PRAGMA user_version = 1");
  const std::string cases[] = {dir.Write("garbage.db", garbage), dir.Write("damaged.db", damaged),
                               other, newer, narrow};
  for (const std::string& path : cases) {
    const std::string before = Slurp(path);
    EXPECT_THROW(SendJournal{path}, EJournalError) << path;
    EXPECT_EQ(Slurp(path), before) << path;
  }
}

// Pages of the attempts table overwritten (the first four hold the schema and the empty sends
// table): every call fails cleanly or sees the chain broken.
TEST(AttemptChain, OverwrittenPagesNeverCrash) {
  testing::TempDir dir;
  const std::string path = JournalWith(dir, 300);
  const std::string good = Slurp(path);
  ASSERT_GT(good.size(), 8 * 4096u);
  for (size_t page = 3; page * 4096 < good.size(); ++page) {
    std::string bad = good;
    for (size_t i = 0; i < 4096; i += 7) bad[page * 4096 + 40 + i % 4000] ^= 0x5a;
    const std::string copy = dir.Write("copy.db", bad);
    std::filesystem::remove(copy + "-wal");
    std::filesystem::remove(copy + "-shm");
    try {
      SendJournal journal(copy);
      const auto rows = journal.Attempts();
      const auto broken = journal.FirstBrokenRow();
      EXPECT_TRUE(broken || rows.size() != 300) << "page " << page;
    } catch (const EJournalError&) {
    }
  }
}

}  // namespace
}  // namespace vorncom::journal

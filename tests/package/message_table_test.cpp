#include "package/message_table.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/temp_dir.h"

namespace vorncom::package {
namespace {

using testing::TempDir;

TEST(MessageTableTest, NoFileAndNoMessageCreatesNothing) {
  TempDir dir;
  const std::string path = dir / "cfg/en_tipo_doc_solicitacao.cds";
  for (const char* message : {"", "   ", "\r\n\t"}) {
    EXPECT_FALSE(StoreRequestMessage(path, "IR", "1.0", message));
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  EXPECT_EQ(LookupRequestMessage(path, "IR", "1.0"), std::nullopt);
}

TEST(MessageTableTest, StoresOneRowPerPairIgnoringLetterCase) {
  TempDir dir;
  const std::string path = dir / "a/b/en_tipo_doc_solicitacao.cds";  // parents are created
  ASSERT_TRUE(StoreRequestMessage(path, "ação", "v1.a", "line one\r\nline two"));
  EXPECT_EQ(LookupRequestMessage(path, "AÇÃO", "V1.A"), "line one\r\nline two");

  ASSERT_TRUE(StoreRequestMessage(path, "AÇÃO", "V1.A", "replaced"));
  ASSERT_TRUE(StoreRequestMessage(path, "ação", "v2", "other version"));
  EXPECT_EQ(LookupRequestMessage(path, "ação", "v1.a"), "replaced");
  EXPECT_EQ(LookupRequestMessage(path, "Ação", "V2"), "other version");
  EXPECT_EQ(LookupRequestMessage(path, "acao", "v1.a"), std::nullopt);

  // With a table in place an empty message is stored too.
  ASSERT_TRUE(StoreRequestMessage(path, "ação", "v2", ""));
  EXPECT_EQ(LookupRequestMessage(path, "ação", "v2"), "");
}

TEST(MessageTableTest, AFileThatIsNoDatabaseFailsCleanlyAndStaysAsItWas) {
  TempDir dir;
  const std::string text = "this is not a database, just some text long enough to matter\n";
  const std::string path = dir.Write("t.cds", text);
  EXPECT_THROW(StoreRequestMessage(path, "IR", "1", "m"), EMessageTableError);
  EXPECT_THROW(LookupRequestMessage(path, "IR", "1"), EMessageTableError);
  EXPECT_EQ(std::filesystem::file_size(path), text.size());
}

TEST(MessageTableTest, AnEmptyFileBecomesATableAndAReadOnlyOneIsStillUpdated) {
  TempDir dir;
  const std::string path = dir.Write("t.cds", "");
  ASSERT_TRUE(StoreRequestMessage(path, "IR", "1", ""));
  EXPECT_EQ(LookupRequestMessage(path, "ir", "1"), "");
  chmod(path.c_str(), 0444);
  ASSERT_TRUE(StoreRequestMessage(path, "IR", "1", "now"));
  EXPECT_EQ(LookupRequestMessage(path, "IR", "1"), "now");
}

// Another host process in the middle of its own update holds the table for a while; a send
// waits for it rather than fail after stamping its package.
TEST(MessageTableTest, AnUpdateWaitsForAnotherWritersCommit) {
  TempDir dir;
  const std::string path = dir / "t.cds";
  ASSERT_TRUE(StoreRequestMessage(path, "IR", "1", "first"));
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::thread writer([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
  });
  bool stored = false;
  EXPECT_NO_THROW(stored = StoreRequestMessage(path, "IR", "2", "second"));
  writer.join();
  EXPECT_TRUE(stored);
  EXPECT_EQ(LookupRequestMessage(path, "ir", "2"), "second");
}

}  // namespace
}  // namespace vorncom::package

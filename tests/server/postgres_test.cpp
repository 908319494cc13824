// The libpq wrapper against a private PostgreSQL server.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>

#include "server/postgres/connection.h"
#include "server/postgres/transaction.h"
#include "support/postgres_instance.h"

namespace vorncom::postgres {
namespace {

using testing::PostgresInstance;

class PostgresTest : public ::testing::Test {
 protected:
  // One server for the suite: starting one takes longer than every test together.
  static void TearDownTestSuite() { instance_.reset(); }
  void SetUp() override {
    if (!PostgresInstance::FindBinaries()) GTEST_SKIP() << PostgresInstance::kSkipReason;
    if (!instance_) instance_ = std::make_unique<PostgresInstance>();
    if (!instance_->running()) instance_->Start();
    db_ = std::make_unique<Connection>(instance_->Url());
  }

  static std::string ErrorState(const std::function<void()>& action) {
    try {
      action();
    } catch (const EPostgresError& e) {
      return e.sqlstate();
    }
    return "(none)";
  }

  static inline std::unique_ptr<PostgresInstance> instance_;
  std::unique_ptr<Connection> db_;
};

TEST_F(PostgresTest, ValuesRoundTripAsParametersUnaltered) {
  db_->RunScript("CREATE TEMP TABLE cells (t text, b bytea, n int8)");
  const std::string text = "O'Brien \"aspas\" \\ ção 日本 🎉'); DROP TABLE cells; --";
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  const Param row1[] = {text, Param::Bytes(bytes), INT64_MIN};
  EXPECT_EQ(db_->Execute("INSERT INTO cells VALUES ($1, $2, $3)", row1).AffectedRows(), 1);
  db_->Execute("INSERT INTO cells VALUES ($1, $2, $3)", {nullptr, nullptr, nullptr});

  const Result r = db_->Execute("SELECT t, b, n FROM cells ORDER BY t NULLS LAST");
  ASSERT_EQ(r.Rows(), 2);
  EXPECT_EQ(r.Text(0, 0), text);
  EXPECT_EQ(r.Bytes(0, 1), bytes);
  EXPECT_EQ(r.Int64(0, 2), INT64_MIN);
  for (int column = 0; column < 3; ++column) EXPECT_TRUE(r.IsNull(1, column));
  EXPECT_EQ(r.OptionalText(1, 0), std::nullopt);
  // Reading a cell as what it is not is refused, never answered with a made-up value.
  EXPECT_EQ(ErrorState([&] { r.Int64(1, 2); }), "22000");
  EXPECT_EQ(ErrorState([&] { r.Int64(0, 0); }), "22000");
  EXPECT_EQ(ErrorState([&] { r.Text(2, 0); }), "22000");
}

TEST_F(PostgresTest, RefusalsCarryTheirSqlstate) {
  db_->RunScript("CREATE TEMP TABLE keys (k text PRIMARY KEY)");
  db_->Execute("INSERT INTO keys VALUES ($1)", {"a"});
  struct Row {
    const char* what;
    std::function<void()> action;
    std::string_view state;
  } rows[] = {
      {"unique violation", [&] { db_->Execute("INSERT INTO keys VALUES ($1)", {"a"}); },
       kUniqueViolation},
      {"NUL inside text", [&] { db_->Execute("SELECT $1::text", {std::string("a\0b", 3)}); },
       kInvalidText},
      {"int8 out of range", [&] { db_->Execute("SELECT $1::int8 * 2", {INT64_MAX}); }, "22003"},
      {"syntax", [&] { db_->Execute("SELEC 1"); }, "42601"},
  };
  for (const Row& row : rows) EXPECT_EQ(ErrorState(row.action), row.state) << row.what;
  EXPECT_FALSE(db_->IsLost());
  EXPECT_EQ(db_->Execute("SELECT count(*) FROM keys").Int64(0, 0), 1);
}

TEST_F(PostgresTest, TransactionsKeepOnlyWhatIsCommitted) {
  db_->RunScript("CREATE TEMP TABLE kept (k text PRIMARY KEY)");
  {
    Transaction abandoned(*db_);
    db_->Execute("INSERT INTO kept VALUES ($1)", {"abandoned"});
  }
  {
    Transaction committed(*db_, Isolation::kSerializable);
    db_->Execute("INSERT INTO kept VALUES ($1)", {"committed"});
    committed.Commit();
  }
  {
    // A statement failed inside: the server turns COMMIT into ROLLBACK, which must not pass
    // for success.
    Transaction failed(*db_);
    db_->Execute("INSERT INTO kept VALUES ($1)", {"failed"});
    EXPECT_EQ(ErrorState([&] { db_->Execute("INSERT INTO kept VALUES ($1)", {"committed"}); }),
              kUniqueViolation);
    EXPECT_EQ(ErrorState([&] { failed.Commit(); }), kInFailedTransaction);
  }
  const Result r = db_->Execute("SELECT k FROM kept");
  ASSERT_EQ(r.Rows(), 1);
  EXPECT_EQ(r.Text(0, 0), "committed");
}

TEST_F(PostgresTest, ALostConnectionIsReportedAndResetReconnects) {
  EXPECT_EQ(db_->Execute("SELECT $1::int8 + 1", {41}).Int64(0, 0), 42);
  instance_->Restart();
  try {
    db_->Execute("SELECT 1");
    ADD_FAILURE() << "a query on a connection the server ended succeeded";
  } catch (const EPostgresError& e) {
    EXPECT_TRUE(e.connection_lost()) << e.sqlstate() << ' ' << e.what();
  }
  EXPECT_TRUE(db_->IsLost());

  // While the server is down, Reset fails and may be tried again.
  instance_->Stop();
  EXPECT_EQ(ErrorState([&] { db_->Reset(); }), kCannotConnect);
  EXPECT_EQ(ErrorState([&] { Connection fresh(instance_->Url()); }), kCannotConnect);
  instance_->Start();
  db_->Reset();
  EXPECT_FALSE(db_->IsLost());
  EXPECT_EQ(db_->Execute("SELECT $1::text", {"de volta"}).Text(0, 0), "de volta");
}

}  // namespace
}  // namespace vorncom::postgres

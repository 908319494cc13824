#include "journal_command.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "common/sqlite/database.h"
#include "journal/journal_fixture.h"

namespace vorncom::tool {
namespace {

struct Printed {
  int status;
  std::string out, err;
};

Printed Print(const std::string& path) {
  std::ostringstream out, err;
  const int status = PrintJournal(path, out, err);
  return {status, out.str(), err.str()};
}

// The listing's verdict is its exit status; nothing a row holds reaches the terminal raw.
TEST(JournalCommand, ListsSendsAndAttemptsAndJudgesTheChain) {
  testing::TempDir dir;
  const std::string path = dir / "envios.db";
  {
    journal::SendJournal journal(path);
    const int64_t id = journal.Begin(journal::PackageSend());
    journal.Update(id, journal::SendState::kProtocolating, "a.vorn.gov:211", "U-7");
    journal::Attempt attempt = journal::SendAttempt(2);
    attempt.server_message = "Linha\r\n\x1b[2Joutra";
    journal.Append(attempt);
    journal.Append(journal::SendAttempt(3));
  }
  const Printed intact = Print(path);
  EXPECT_EQ(intact.status, 0);
  for (const char* expected : {"Estado", "protocolando", "U-7", "a.vorn.gov:211", "Duração (ms)",
                               "TLSv1.3", "Linha   [2Joutra", "Cadeia de tentativas íntegra."}) {
    EXPECT_NE(intact.out.find(expected), std::string::npos) << expected << "\n" << intact.out;
  }
  EXPECT_EQ(intact.out.find('\x1b'), std::string::npos);

  {
    sqlite::Database db(path, sqlite::Access::kReadWriteCreate, std::chrono::milliseconds(1000));
    db.Exec("UPDATE attempts SET result_code = 0 WHERE id = 1");
  }
  const Printed altered = Print(path);
  EXPECT_EQ(altered.status, 1);
  EXPECT_NE(altered.out.find("Cadeia de tentativas alterada a partir da linha 1."),
            std::string::npos)
      << altered.out;

  const Printed garbage = Print(dir.Write("lixo.db", std::string(4096, 'x')));
  EXPECT_EQ(garbage.status, 125);
  EXPECT_NE(garbage.err.find("Erro no diário de envios"), std::string::npos) << garbage.err;
  EXPECT_EQ(Print(dir / "nenhum.db").status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "nenhum.db"));
}

}  // namespace
}  // namespace vorncom::tool

#include "package/file_sent.h"

#include "common/messages.h"
#include "package_fixture.h"

namespace vorncom::package {
namespace {

class FileSentTest : public PackageFixture {};

TEST_F(FileSentTest, Outcomes) {
  const std::string record = "[Documento]\r\nNome Arquivo=r.zip\r\n";
  const struct {
    const char* what;
    std::string package;
    Variant data;
    uint8_t code;
    std::optional<bool> sent;
    bool known;
    std::string message;
  } cases[] = {
      {"not an archive", dir_.Write("plain.zip", kPlainText), NewProtocolData(), 4, std::nullopt,
       false, ""},
      {"no record", MakePackage("n.zip", {{"d", "x"}}), NewProtocolData(), 4, false, true, ""},
      {"record", MakePackage("r.zip", {{"protocolo.rec", record}}), NewProtocolData(), 3, true,
       true, ""},
      {"record unreadable into the data", MakePackage("u.zip", {{"protocolo.rec", record}}),
       Variant(), 21, true, true, std::string(msg::kSentButUnreadable)},
      {"missing file", dir_ / "missing.zip", NewProtocolData(), 20, std::nullopt, false,
       "Erro ao " + std::string(msg::kSearchProtocol) + "."},
      {"missing file named like the no-archive error",
       dir_ / "Can't recognize compressed file header.zip", NewProtocolData(), 20, std::nullopt,
       false, "Erro ao " + std::string(msg::kSearchProtocol) + "."},
  };
  for (const auto& c : cases) {
    const FileSentOutcome o = CheckFileSent(c.package, c.data, work_);
    EXPECT_EQ(ToByte(o.result_code), c.code) << c.what;
    EXPECT_EQ(o.package_sent, c.sent) << c.what;
    EXPECT_EQ(o.sent_state_known, c.known) << c.what;
    EXPECT_EQ(o.message ? o.message->text : "", c.message) << c.what;
    if (o.message) {
      EXPECT_EQ(o.message->kind, MessageKind::kError);
    }
  }
}

TEST_F(FileSentTest, WorkFolderFailureGives16) {
  const std::string package =
      MakePackage("r.zip", {{"protocolo.rec", "[Documento]\r\nNome Arquivo=r.zip\r\n"}});
  const FileSentOutcome o = CheckFileSent(package, NewProtocolData(), dir_ / "x/y/Trabalho/");
  EXPECT_EQ(ToByte(o.result_code), 16);
  EXPECT_FALSE(o.sent_state_known);
  EXPECT_EQ(o.message->text, "Erro ao " + std::string(msg::kCreateTempFolder) + ".");
}

TEST_F(FileSentTest, DamagedRecordEntryGives19AndCleansTheWorkFolder) {
  std::string record = "[Documento]\r\nNome Arquivo=r.zip\r\n";
  const std::string package = MakePackage("r.zip", {{"protocolo.rec", record}});
  // Flip a byte of the stored record (the last bytes of the archive) so its checksum fails.
  std::string bytes = ReadAll(package);
  bytes[bytes.size() - 3] ^= 0x55;
  std::ofstream(package, std::ios::binary) << bytes;
  std::filesystem::create_directories(work_);
  std::ofstream(work_ + "stale.rec") << "x";

  const FileSentOutcome o = CheckFileSent(package, NewProtocolData(), work_);
  EXPECT_EQ(ToByte(o.result_code), 19);
  EXPECT_FALSE(o.sent_state_known);
  EXPECT_EQ(o.message->text, "Erro ao " + std::string(msg::kExtractProtocol) + ".");
  EXPECT_FALSE(std::filesystem::exists(work_ + "stale.rec"));
  EXPECT_TRUE(WorkFolderIsClean());
}

}  // namespace
}  // namespace vorncom::package

#include "package/protocol_manager.h"

#include "package/file_sent.h"
#include "package/message_table.h"
#include "package/validation_manager.h"
#include "package_fixture.h"

namespace vorncom::package {
namespace {

namespace fs = std::filesystem;

class ProtocolManagerTest : public PackageFixture {
 protected:
  // ProtocolData as the server's "Protocolate" leaves it.
  static Variant ServerData() {
    Variant d = NewProtocolData();
    d.At(1) = Variant("FORM2001.ZIP");
    d.At(2) = Variant("srv1.vorn");
    d.At(3) = Variant("2026/000123");
    d.At(4) = Variant(FromCivil({2026, 12, 9, 14, 5, 9, 0}));
    d.At(5) = Variant("Declaração");
    d.At(6) = Variant("V1.a");
    d.At(7) = Variant("123.456.789-00");
    d.At(8) = Variant("José da Silva");
    d.At(9) = Variant(int32_t{4096});
    d.At(10) = Variant(FromCivil({2026, 12, 1, 0, 0, 0, 0}));
    d.At(11) = Variant(FromCivil({2026, 12, 9, 14, 4, 58, 0}));
    d.At(12) = Variant("Dec");
    d.At(13) = Variant("V42");
    d.At(14) = Variant("Primeira linha\r\nSegunda linha");
    return d;
  }

  void Record(const std::string& package, const Variant& data) {
    TVornComProtocolManager m(work_, config_);
    m.set_protocol_data(data);
    m.set_package_path(package);
    m.RecordProtocol(1, 1);
  }

  std::string ErrorOf(const std::string& package, const Variant& data) {
    try {
      Record(package, data);
    } catch (const EProtocolError& e) {
      return e.what();
    }
    return "<no EProtocolError>";
  }

  std::string table_ = config_ + kMessageTableFileName;
  static constexpr const char* kPrefix =
      "Erro ao protocolar a transmissão do arquivo \"FORM2001.ZIP\". ";
};

TEST_F(ProtocolManagerTest, WritesTheFourteenValuesInOrderIntoThePackage) {
  const std::string package = MakePackage("FORM2001.ZIP", {{"dados.dat", "x"}});
  Record(package, ServerData());
  EXPECT_TRUE(WorkFolderIsClean());

  const std::string out = dir_ / "out/";
  archive::ExtractPackageEntries(SingleNameList("protocolo.rec"), package, out, true);
  EXPECT_EQ(ReadAll(out + "protocolo.rec"),
            Utf8ToCp1252("[Documento]\r\n"
                         "Nome Arquivo=FORM2001.ZIP\r\n"
                         "Tamanho Arquivo=4096\r\n"
                         "Data Atualização=01/12/2026\r\n"
                         "Endereço Host=srv1.vorn\r\n"
                         "Número Protocolo=2026/000123\r\n"
                         "Início Transmissão=09/12/2026 14:04:58\r\n"
                         "Final Transmissão=09/12/2026 14:05:09\r\n"
                         "Tipo Solicitação=Dec\r\n"
                         "Nome Solicitação=Declaração\r\n"
                         "Versão Solicitação=V1.a\r\n"
                         "Mensagem Solicitação=Primeira linha<CRLF>Segunda linha\r\n"
                         "[Usuário]\r\n"
                         "Identificação Solicitante=123.456.789-00\r\n"
                         "Identificação Vorn=V42\r\n"
                         "Nome Solicitante=José da Silva\r\n"));
  EXPECT_EQ(LookupRequestMessage(table_, "DEC", "v1.A"), "Primeira linha\r\nSegunda linha");
}

TEST_F(ProtocolManagerTest, RecordedPackageCountsAsSentAndReadsBack) {
  const std::string package = MakePackage("FORM2001.ZIP", {{"dados.dat", "x"}});
  Record(package, ServerData());

  Variant library_data = NewProtocolData();
  library_data.At(12) = Variant("kept");
  const FileSentOutcome outcome = CheckFileSent(package, library_data, work_);
  EXPECT_EQ(ToByte(outcome.result_code), 3);
  EXPECT_EQ(outcome.package_sent, true);
  EXPECT_TRUE(outcome.sent_state_known);
  EXPECT_FALSE(outcome.message);
  ASSERT_TRUE(outcome.protocol_data);
  const Variant& d = *outcome.protocol_data;
  EXPECT_EQ(d.At(4), Variant("09/12/2026 14:05:09"));
  EXPECT_EQ(d.At(8), Variant("José da Silva"));
  EXPECT_EQ(d.At(12), Variant("kept"));
  EXPECT_EQ(d.At(14), Variant("Primeira linha\r\nSegunda linha"));
}

TEST_F(ProtocolManagerTest, PackageWithARecordIsRefusedUntouched) {
  for (const char* entry : {"protocolo.rec", "PROTOCOLO.REC"}) {
    const std::string package =
        MakePackage(std::string(entry) + ".zip", {{entry, "[Documento]\r\nfirst=1\r\n"}});
    const std::string before = ReadAll(package);
    EXPECT_EQ(
        ErrorOf(package, ServerData()),
        std::string(kPrefix) + "Problemas ao compactar o arquivo com os dados da transmissão!");
    EXPECT_EQ(ReadAll(package), before);
    EXPECT_TRUE(WorkFolderIsClean());
  }
}

TEST_F(ProtocolManagerTest, MissingPackageAndUnwritableRecord) {
  EXPECT_EQ(ErrorOf(dir_ / "gone.zip", ServerData()),
            std::string(kPrefix) + "O arquivo transmitido não foi encontrado!");
  EXPECT_TRUE(WorkFolderIsClean());

  const std::string package = MakePackage("FORM2001.ZIP", {{"dados.dat", "x"}});
  Variant bad_date = ServerData();
  bad_date.At(11) = Variant("not a date");
  EXPECT_EQ(ErrorOf(package, bad_date),
            std::string(kPrefix) + "Problemas ao criar o arquivo com os dados da transmissão!");
  Variant emoji = ServerData();
  emoji.At(8) = Variant("Jos\xF0\x9F\x98\x80");
  EXPECT_EQ(ErrorOf(package, emoji),
            std::string(kPrefix) + "Problemas ao criar o arquivo com os dados da transmissão!");
  work_ = dir_ / "a/b/Trabalho/";
  EXPECT_EQ(ErrorOf(package, ServerData()),
            std::string(kPrefix) + "Problemas ao criar o arquivo com os dados da transmissão!");
  EXPECT_EQ(archive::ListPackageEntries(package).AsArray().items.size(), 1u);
}

TEST_F(ProtocolManagerTest, MessageTableRules) {
  Variant data = ServerData();
  data.At(14) = Variant("  ");
  Record(MakePackage("1.zip", {{"d", "x"}}), data);
  EXPECT_FALSE(fs::exists(table_));

  data.At(14) = Variant("first");
  Record(MakePackage("2.zip", {{"d", "x"}}), data);
  data.At(12) = Variant("DEC");  // the same pair in other letter case updates the row
  data.At(6) = Variant("v1.A");
  data.At(14) = Variant("");
  Record(MakePackage("3.zip", {{"d", "x"}}), data);
  EXPECT_EQ(LookupRequestMessage(table_, "dec", "V1.A"), "");
}

TEST_F(ProtocolManagerTest, BrokenMessageTableFailsAfterTheRecordIsIn) {
  fs::create_directories(config_);
  std::ofstream(table_) << "no database here";
  const std::string package = MakePackage("FORM2001.ZIP", {{"dados.dat", "x"}});
  const std::string error = ErrorOf(package, ServerData());
  EXPECT_EQ(error.rfind(std::string(kPrefix) +
                            "Problemas ao criar o arquivo de mensagem associado à solicitação! "
                            "Erro: ",
                        0),
            0u)
      << error;
  EXPECT_TRUE(archive::PackageHasEntry(package, "protocolo.rec"));
  EXPECT_EQ(ReadAll(table_), "no database here");
}

TEST_F(ProtocolManagerTest, NullDataOrOtherOperationsDoNothing) {
  const std::string package = MakePackage("FORM2001.ZIP", {{"dados.dat", "x"}});
  Record(package, Variant::Null());
  TVornComProtocolManager m(work_, config_);
  m.set_protocol_data(ServerData());
  m.set_package_path(package);
  m.RecordProtocol(2, 1);
  EXPECT_FALSE(archive::PackageHasEntry(package, "protocolo.rec"));
}

}  // namespace
}  // namespace vorncom::package

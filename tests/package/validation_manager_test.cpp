#include "package/validation_manager.h"

#include <sys/stat.h>

#include "archive/archiver.h"
#include "package/control_files.h"
#include "package_fixture.h"

namespace vorncom::package {
namespace {

namespace fs = std::filesystem;

class ValidationManagerTest : public PackageFixture {
 protected:
  std::unique_ptr<TValidationManager> Manager(const std::string& package) {
    auto m = std::make_unique<TValidationManager>(work_);
    m->set_package_path(package);
    m->set_package_file_name(FileNameOf(package));
    return m;
  }
  // Extracts and checks the header of a package holding `header`, under `name`.
  bool Check(const std::string& name, const std::string& header) {
    const std::string package = MakePackage(name, {{"header.cfg", header}, {"dados.dat", "x"}});
    auto m = Manager(package);
    m->ExtractHeader();
    EXPECT_TRUE(fs::exists(m->validation_folder() + "header.cfg"));
    const bool ok = m->ValidateHeader(1);
    EXPECT_FALSE(fs::exists(m->validation_folder()));
    values_ = m->header();
    return ok;
  }
  HeaderValues values_;
};

TEST_F(ValidationManagerTest, PackageWithoutRecordLeavesTheWorkFolderAlone) {
  auto m = Manager(MakePackage("a.pkg", {{"dados.dat", "x"}}));
  EXPECT_FALSE(m->FindProtocolRecord());
  EXPECT_FALSE(fs::exists(work_));
}

TEST_F(ValidationManagerTest, RecordIsFoundReadAndDeleted) {
  const std::string record = Utf8ToCp1252(
      "[Documento]\r\nNome Arquivo=a.pkg\r\nEndereço Host=srv1\r\nNúmero Protocolo=2026.1\r\n"
      "Final Transmissão=09/12/2026 10:00:01\r\nNome Solicitação=Declaração\r\n"
      "Versão Solicitação=1.0\r\nMensagem Solicitação=linha 1<CRLF>linha 2\r\n"
      "Tamanho Arquivo=99\r\n[Usuário]\r\nIdentificação Solicitante=123\r\n"
      "Nome Solicitante=José\r\n");
  auto m = Manager(MakePackage("a.pkg", {{"protocolo.rec", record}}));
  ASSERT_TRUE(m->FindProtocolRecord());
  const std::string extracted = m->ProtocolRecordPath();
  EXPECT_EQ(extracted.rfind(work_, 0), 0u) << extracted;
  EXPECT_TRUE(fs::exists(extracted));

  Variant data = NewProtocolData();
  for (int32_t i = 9; i <= 13; ++i) data.At(i) = Variant(i);
  ASSERT_TRUE(m->ReadProtocolRecord(data));
  const char* expected[] = {"a.pkg",      "srv1", "2026.1", "09/12/2026 10:00:01",
                            "Declaração", "1.0",  "123",    "José"};
  for (int32_t i = 1; i <= 8; ++i) EXPECT_EQ(data.At(i), Variant(expected[i - 1])) << i;
  for (int32_t i = 9; i <= 13; ++i) EXPECT_EQ(data.At(i), Variant(i)) << i;
  EXPECT_EQ(data.At(14), Variant("linha 1\r\nlinha 2"));
  EXPECT_FALSE(fs::exists(extracted));
  m.reset();
  EXPECT_TRUE(WorkFolderIsClean());
}

// Managers sharing a work folder, as processes sharing a host folder do, never see each other's
// control files: each reads its own record, and a check that ends removes only its own folder.
TEST_F(ValidationManagerTest, InterleavedManagersKeepToTheirOwnFiles) {
  auto a = Manager(MakePackage("a.pkg", {{"protocolo.rec", "[Documento]\r\nNome Arquivo=a\r\n"}}));
  auto b = Manager(MakePackage("b.pkg", {{"protocolo.rec", "[Documento]\r\nNome Arquivo=b\r\n"}}));
  ASSERT_TRUE(a->FindProtocolRecord());
  ASSERT_TRUE(b->FindProtocolRecord());
  Variant data_a = NewProtocolData(), data_b = NewProtocolData();
  ASSERT_TRUE(a->ReadProtocolRecord(data_a));
  ASSERT_TRUE(b->ReadProtocolRecord(data_b));
  EXPECT_EQ(data_a.At(1), Variant("a"));
  EXPECT_EQ(data_b.At(1), Variant("b"));

  // The same package name within the same second.
  const std::string package = MakePackage("abc.xyz", {{"header.cfg", Header("abc.xyz")}});
  auto first = Manager(package), second = Manager(package);
  first->ExtractHeader();
  second->ExtractHeader();
  EXPECT_NE(first->validation_folder(), second->validation_folder());
  EXPECT_TRUE(first->ValidateHeader(1));
  EXPECT_TRUE(second->ValidateHeader(1));
  a.reset(), b.reset(), first.reset(), second.reset();
  EXPECT_TRUE(WorkFolderIsClean());
}

TEST_F(ValidationManagerTest, RecordWithoutMessageGivesAnEmptyElement14) {
  auto m =
      Manager(MakePackage("a.pkg", {{"protocolo.rec", "[Documento]\r\nNome Arquivo=a.pkg\r\n"}}));
  ASSERT_TRUE(m->FindProtocolRecord());
  Variant data = NewProtocolData();
  data.At(14) = Variant("old");
  ASSERT_TRUE(m->ReadProtocolRecord(data));
  EXPECT_EQ(data.At(14), Variant(""));
}

TEST_F(ValidationManagerTest, EntryNamesCompareExactly) {
  auto m = Manager(MakePackage("a.pkg", {{"PROTOCOLO.REC", "[Documento]\r\n"}}));
  EXPECT_FALSE(m->FindProtocolRecord());
}

TEST_F(ValidationManagerTest, SearchAndFolderFailures) {
  const std::string not_archive = dir_.Write("plain.txt", kPlainText);
  try {
    Manager(not_archive)->FindProtocolRecord();
    ADD_FAILURE() << "no exception";
  } catch (const ECompressSearchError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Erro ao procurar pelo arquivo de protocolo: Can't recognize compressed file header");
  }
  EXPECT_THROW(Manager(dir_ / "missing.pkg")->FindProtocolRecord(), ECompressSearchError);

  const std::string package = MakePackage("a.pkg", {{"protocolo.rec", "[Documento]\r\n"}});
  work_ = dir_ / "no/such/Trabalho/";
  try {
    Manager(package)->FindProtocolRecord();
    ADD_FAILURE() << "no exception";
  } catch (const ECreateDirectoryError& e) {
    EXPECT_EQ(std::string(e.what()), "Erro ao criar o diretório de trabalho.");
  }
}

TEST_F(ValidationManagerTest, HeaderChecks) {
  const struct {
    const char* what;
    std::string name;
    std::string header;
    bool ok;
  } cases[] = {
      {"complete", "FORM2001.ZIP", Header("FORM2001.ZIP"), true},
      {"tag with another prefix", "FORM2001.ZIP",
       Header("FORM2001.ZIP", {{"Documento/Origem Solicitação", "korngqpj["}}), false},
      {"lower-case tag", "abc.xyz",
       Header("abc.xyz", {{"Documento/Origem Solicitação", "vornb[czy"}}), true},
      {"tag of another name", "abc.xyz", Header("abd.xyw"), false},
      {"no tag", "abc.xyz", Header("abc.xyz", {}, {"Documento/Origem Solicitação"}), false},
      {"empty version", "abc.xyz", Header("abc.xyz", {{"Documento/Versão Solicitação", ""}}), true},
      {"version erro", "abc.xyz", Header("abc.xyz", {{"Documento/Versão Solicitação", "erro"}}),
       false},
      {"no Código", "abc.xyz", Header("abc.xyz", {}, {"Controles/Código"}), false},
      {"no Nome Solicitante", "abc.xyz", Header("abc.xyz", {}, {"Usuário/Nome Solicitante"}),
       false},
      {"no update date", "abc.xyz", Header("abc.xyz", {}, {"Documento/Data Atualização"}), true},
      {"keys in other letter case", "abc.xyz",
       Utf8ToCp1252(ToUpperUtf8(Cp1252ToUtf8(Header("abc.xyz")))), true},
      {"UTF-8 file", "abc.xyz", Cp1252ToUtf8(Header("abc.xyz")), false},
      {"binary garbage", "abc.xyz", std::string("\x00\xFF\x1A[\x80\r\n=", 9), false},
  };
  for (const auto& c : cases) EXPECT_EQ(Check(c.name, c.header), c.ok) << c.what;
}

TEST_F(ValidationManagerTest, FieldsHoldTheHeaderValues) {
  ASSERT_TRUE(Check("abc.xyz", Header("abc.xyz")));
  EXPECT_EQ(values_.system_code, "IRPF");
  EXPECT_EQ(values_.update_date, "01/02/2020 10:11:12");
  EXPECT_EQ(values_.request_name, "Declaração");
  EXPECT_EQ(values_.origin, "VornB[CZY");
  EXPECT_EQ(values_.requester_name, "José da Silva");
  EXPECT_EQ(values_.control_code, "ABC123");
  EXPECT_EQ(values_.computer_configuration, "x86-64");

  ASSERT_TRUE(Check("abc.xyz", Header("abc.xyz", {}, {"Documento/Data Atualização"})));
  EXPECT_EQ(values_.update_date, "");
}

TEST_F(ValidationManagerTest, FutureUpdateDateBecomesNow) {
  const std::string before = FormatDateTime(Now());
  ASSERT_TRUE(
      Check("abc.xyz", Header("abc.xyz", {{"Documento/Data Atualização", "01/01/2999 00:00:00"}})));
  const std::string after = FormatDateTime(Now());
  EXPECT_TRUE(values_.update_date == before || values_.update_date == after) << values_.update_date;
}

TEST_F(ValidationManagerTest, InvalidUpdateDateRaisesAfterTheCleanUp) {
  for (const char* date : {"31/02/2020 10:00:00", "hoje", "2020-01-01"}) {
    const std::string package = MakePackage(
        "abc.xyz", {{"header.cfg", Header("abc.xyz", {{"Documento/Data Atualização", date}})}});
    auto m = Manager(package);
    m->ExtractHeader();
    try {
      m->ValidateHeader(1);
      ADD_FAILURE() << date;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(date) + "' is not a valid date and time");
    }
    EXPECT_FALSE(fs::exists(m->validation_folder()));
  }
}

TEST_F(ValidationManagerTest, ReadOnlyFilesGoWithTheValidationFolder) {
  auto m = Manager(MakePackage("abc.xyz", {{"header.cfg", Header("abc.xyz")}}));
  m->ExtractHeader();
  chmod((m->validation_folder() + "header.cfg").c_str(), 0444);
  std::ofstream(m->validation_folder() + "extra.txt") << "x";
  chmod((m->validation_folder() + "extra.txt").c_str(), 0444);
  EXPECT_TRUE(m->ValidateHeader(1));
  EXPECT_FALSE(fs::exists(m->validation_folder()));
}

TEST_F(ValidationManagerTest, HeaderTooLargeToOpenIsRefusedWithoutBeingWritten) {
  std::string oversized = Header("grande.zlk");
  while (oversized.size() <= TConfigurationFile::kMaxFileSize)
    oversized += std::string(4094, ';') + "\r\n";
  auto m = Manager(MakePackage("grande.zlk", {{"header.cfg", oversized}}));
  m->ExtractHeader();
  EXPECT_FALSE(fs::exists(m->validation_folder() + "header.cfg"));
  EXPECT_FALSE(m->ValidateHeader(1));
  EXPECT_FALSE(fs::exists(m->validation_folder()));

  // Nor is a copy under the name in other letter case, which no check reads. (Added one by one,
  // the second name would replace the first.)
  const std::string source = dir_ / "both/";
  fs::create_directories(source);
  std::ofstream(source + "HEADER.CFG", std::ios::binary) << oversized;
  std::ofstream(source + "header.cfg", std::ios::binary) << Header("outro.zlk");
  std::vector<std::string> files{source + "HEADER.CFG", source + "header.cfg"};
  archive::TArchiver archiver;
  archiver.SetTargetPath(source);
  archiver.CompressFiles(dir_ / "outro.zlk", files, archive::TCompressMethod::cmLH5);
  auto other = Manager(dir_ / "outro.zlk");
  other->ExtractHeader();
  EXPECT_FALSE(fs::exists(other->validation_folder() + "HEADER.CFG"));
  EXPECT_TRUE(other->ValidateHeader(1));
}

TEST_F(ValidationManagerTest, ExistingValidationFolderIsReused) {
  auto m = Manager(MakePackage("abc.xyz", {{"header.cfg", Header("abc.xyz")}}));
  m->ExtractHeader();
  m->ExtractHeader();  // same name within the same second, or a folder left over
  EXPECT_TRUE(m->ValidateHeader(1));
}

TEST_F(ValidationManagerTest, ExtractionFailures) {
  const std::string no_header = MakePackage("abc.xyz", {{"dados.dat", "x"}});
  try {
    Manager(no_header)->ExtractHeader();
    ADD_FAILURE() << "no exception";
  } catch (const ERenameFileError& e) {
    EXPECT_EQ(
        std::string(e.what()),
        "O arquivo " + no_header + ") não possui o arquivo de controle (header) (header.cfg).");
  }
  const std::string not_archive = dir_.Write("plain.xyz", kPlainText);
  try {
    Manager(not_archive)->ExtractHeader();
    ADD_FAILURE() << "no exception";
  } catch (const EExpandFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Erro ao extrair o arquivo de header de \"" + not_archive +
                                         "\" Erro: Can't recognize compressed file header.");
  }
  // Neither failure leaves a validation folder behind.
  EXPECT_TRUE(!fs::exists(work_) || fs::is_empty(work_));

  work_ = dir_.Write("blocker", "a file where the work folder should be") + "/";
  EXPECT_THROW(Manager(no_header)->ExtractHeader(), ECreateDirectoryError);
}

}  // namespace
}  // namespace vorncom::package

#include "package_commands.h"

#include <sstream>

#include "archive/archive_io.h"
#include "package/protocol_manager.h"
#include "package_fixture.h"

namespace vorncom::tools {
namespace {

using package::PackageFixture;
using namespace std::string_literals;

class PackageCommandsTest : public PackageFixture {
 protected:
  int Run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = RunPackageCommand(args, out, err);
    out_ = out.str();
    err_ = err.str();
    return code;
  }
  // A header description for `create` with every required key.
  std::string Description(const std::string& extra = "", const std::string& without = "\x01") {
    std::string lines =
        "# sample\n"
        "Documento/Código Sistema=IRPF\nDocumento/Versão Sistema=2.1\n"
        "Documento/Meio Envio=Internet\nDocumento/Data Atualização=01/02/2020 10:11:12\n"
        "Documento/Endereço Host=10.0.0.5\nDocumento/Nome Host=estacao\n"
        "Documento/Tipo Solicitação=DEC\nDocumento/Nome Solicitação=Declaração\n"
        "Documento/Versão Solicitação=1.0\nDocumento/Nome Arquivo=dados.dat\n"
        "Documento/Sistema Operacional=Linux\nDocumento/Configurações Computador=x86-64\n"
        "\n"
        "Usuário/Tipo Solicitante=PF\nUsuário/Identificação Solicitante=123\n"
        "Usuário/Identificação Vorn=V42\nUsuário/Nome Solicitante=José\n"
        "Controles/Código=ABC\n" +
        extra;
    std::string kept;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind(without, 0) != 0) kept += line + "\n";
    }
    return dir_.Write("header.txt", kept);
  }
  std::string Create(const std::string& name, const std::string& description) {
    const std::string data = dir_.Write("dados.dat", "form data");
    const std::string package = dir_ / name;
    EXPECT_EQ(Run({"create", package, "--header", description, data}), 0) << err_;
    return package;
  }
  std::string out_, err_;
};

TEST_F(PackageCommandsTest, CreatedPackagePassesTheHeaderCheck) {
  const std::string package = Create("FORM2001.ZIP", Description());
  const Variant entries = archive::ListPackageEntries(package);
  ASSERT_EQ(entries.AsArray().items.size(), 2u);
  EXPECT_TRUE(archive::PackageHasEntry(package, "header.cfg"));
  EXPECT_TRUE(archive::PackageHasEntry(package, "dados.dat"));

  EXPECT_EQ(Run({"header", package}), 0) << out_ << err_;
  EXPECT_NE(out_.find("Origem Solicitação=VornGQPJ["), std::string::npos) << out_;
  EXPECT_NE(out_.find("header passes the send check"), std::string::npos);

  archive::ExtractPackageEntries(package::SingleNameList("header.cfg"), package, dir_ / "x/", true);
  EXPECT_NE(ReadAll(dir_ / "x/header.cfg").find("[Usu\xE1rio]\r\nTipo Solicitante=PF\r\n"),
            std::string::npos);
}

TEST_F(PackageCommandsTest, HeaderCheckFailures) {
  const struct {
    const char* what;
    std::string name;
    std::string extra;
    std::string without;
    std::string reported;
  } cases[] = {
      {"missing key", "a.zip", "", "Controles/", "missing Controles/Código"},
      {"foreign tag", "b.zip", "Documento/Origem Solicitação=VornXXXXX\n", "\x01",
       "origin tag \"VornXXXXX\" does not match"},
  };
  for (const auto& c : cases) {
    const std::string package = Create(c.name, Description(c.extra, c.without));
    EXPECT_EQ(Run({"header", package}), 1) << c.what;
    EXPECT_NE(out_.find(c.reported), std::string::npos) << c.what << "\n" << out_;
  }
  const std::string package = Create("c.zip", Description());
  std::filesystem::rename(package, dir_ / "renamed.zip");
  EXPECT_EQ(Run({"header", dir_ / "renamed.zip"}), 1);
  EXPECT_EQ(Run({"header", dir_.Write("no.zip", package::kPlainText)}), 1);
}

TEST_F(PackageCommandsTest, CreateTakesEveryLegalNameLengthAndLeavesNoTemporaryFile) {
  const std::string description = Description();
  for (const std::string& name : {std::string(251, 'F') + ".ZIP", std::string(255, 'G')}) {
    const std::string package = Create(name, description);
    EXPECT_TRUE(archive::PackageHasEntry(package, "header.cfg")) << name.size();
  }
  for (const auto& e : std::filesystem::directory_iterator(dir_ / "")) {
    EXPECT_NE(e.path().filename().string().front(), '.') << e.path();  // no building folder left
  }
}

// header.cfg is read into memory: one that claims more than a configuration file may hold is
// refused from its record, before it is expanded anywhere.
TEST_F(PackageCommandsTest, HeaderRefusesAHugeHeaderCfgBeforeReadingIt) {
  archive::ArchiveHeader h;
  h.method_id = "LH5";
  h.total_size = 256 << 20;
  archive::EntryRecord r;
  const std::string name = "header.cfg";
  r.name_length = static_cast<int16_t>(name.size());
  r.size = 256 << 20;
  r.stored_size = 64;
  r.method = static_cast<uint8_t>(archive::TCompressMethod::cmLH5);
  const auto hb = archive::EncodeHeader(h);
  const auto rb = archive::EncodeRecord(r);
  const std::string bytes = std::string(hb.begin(), hb.end()) + std::string(rb.begin(), rb.end()) +
                            name + std::string(64, '\0');
  const std::string package = dir_.Write("huge.zip", bytes);
  EXPECT_EQ(Run({"header", package}), 1);
  EXPECT_NE(err_.find("header.cfg is 268435456 bytes, too large for a configuration file"),
            std::string::npos)
      << err_;
}

TEST_F(PackageCommandsTest, CreateRefusesBadInputAndLeavesNothing) {
  const std::string description = Description();
  const std::string data = dir_.Write("dados.dat", "x");
  const std::string other = dir_.Write("sub/dados.dat", "y");
  const std::string existing = dir_.Write("exists.zip", "keep");
  const std::string bad_line = dir_.Write("bad.txt", "Documento Sem Barra=1\n");
  const std::string emoji = dir_.Write("emoji.txt", "Documento/Nome=\xF0\x9F\x98\x80\n");
  const std::vector<std::vector<std::string>> cases = {
      {"create", existing, "--header", description, data},
      {"create", dir_ / "n1.zip", "--header", description, dir_ / "missing.dat"},
      {"create", dir_ / "n2.zip", "--header", description, data, other},
      {"create", dir_ / "n3.zip", "--header", bad_line, data},
      {"create", dir_ / "n4.zip", "--header", emoji, data},
      {"create", dir_ / "n5.zip", description, data},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(Run(args), args[2] == "--header" ? 1 : 2) << args[1];
    EXPECT_EQ(err_.rfind("vornpkg: ", 0), 0u) << err_;
  }
  EXPECT_EQ(ReadAll(existing), "keep");
  for (const char* name : {"n1.zip", "n2.zip", "n3.zip", "n4.zip", "n5.zip"}) {
    EXPECT_FALSE(std::filesystem::exists(dir_ / name)) << name;
  }
}

TEST_F(PackageCommandsTest, ReceiptShowsTheRecordOnceSent) {
  const std::string package = Create("FORM2001.ZIP", Description());
  EXPECT_EQ(Run({"receipt", package}), 1);

  Variant data = package::NewProtocolData();
  data.At(1) = Variant("FORM2001.ZIP");
  data.At(3) = Variant("2026/77");
  data.At(14) = Variant("linha 1\r\nlinha 2");
  package::TVornComProtocolManager manager(work_, config_);
  manager.set_protocol_data(data);
  manager.set_package_path(package);
  manager.RecordProtocol(1, 1);

  EXPECT_EQ(Run({"receipt", package}), 0) << err_;
  EXPECT_NE(out_.find("Número Protocolo=2026/77\n"), std::string::npos) << out_;
  EXPECT_NE(out_.find("--\nlinha 1\r\nlinha 2\n"), std::string::npos) << out_;
}

TEST_F(PackageCommandsTest, ServersEditsTheListInItsByteLayout) {
  const std::string cfg = dir_ / "zedidodad-Vorn.cfg";
  EXPECT_EQ(Run({"servers", cfg, "list"}), 1);  // no file yet
  ASSERT_EQ(Run({"servers", cfg, "add", "srv1"}), 0) << err_;
  const std::string srv1 = "\x01\x0C"s + "ComputerName\x06\x04srv1\x00"s;
  EXPECT_EQ(ReadAll(cfg), "\x0E"s + srv1 + "\x00"s);

  ASSERT_EQ(Run({"servers", cfg, "add", "srv2:4000"}), 0);
  ASSERT_EQ(Run({"servers", cfg, "disable", "SRV2"}), 0);
  EXPECT_EQ(ReadAll(cfg), "\x0E"s + srv1 + "\x01\x0C"s +
                              "ComputerName\x06\x04srv2\x04Port\x03\xA0\x0F"s + "\x07"s +
                              "Enabled\x08\x00\x00"s);
  ASSERT_EQ(Run({"servers", cfg}), 0);
  EXPECT_EQ(out_, "srv1:211 enabled\nsrv2:4000 disabled\n");

  EXPECT_EQ(Run({"servers", cfg, "add", "srv1:211"}), 1);
  EXPECT_EQ(Run({"servers", cfg, "remove", "srv3"}), 1);
  EXPECT_EQ(Run({"servers", cfg, "add", "srv3:70000"}), 2);
  ASSERT_EQ(Run({"servers", cfg, "remove", "srv1:211"}), 0);
  ASSERT_EQ(Run({"servers", cfg, "list"}), 0);
  EXPECT_EQ(out_, "srv2:4000 disabled\n");

  const std::string bad = "\x0E\x01\x03"s + "Foo\x06\x01x\x00\x00"s;
  const std::string garbage = dir_.Write("garbage.cfg", bad);
  EXPECT_EQ(Run({"servers", garbage, "add", "x"}), 1);
  EXPECT_EQ(ReadAll(garbage), bad);
}

}  // namespace
}  // namespace vorncom::tools

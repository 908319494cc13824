#include "common/environment.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/registry.h"
#include "support/temp_dir.h"

namespace vorncom::env {
namespace {

using vorncom::testing::IsolatedEnvironment;

class RegistryValueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.WriteValue("SOFTWARE\\Mirtal", "DiretorioInstalacao", std::string("/opt/mirtal"));
    registry_.WriteValue("SOFTWARE\\Mirtal", "Valor Com Ponto", std::string("achado"));
    registry_.WriteValue("SOFTWARE\\Mirtal", "Tentativas", int32_t{3});
    double half = 0.5;
    Registry::Binary bytes(8);
    std::memcpy(bytes.data(), &half, 8);
    registry_.WriteValue("SOFTWARE\\Mirtal", "Fator", bytes);
    registry_.WriteValue("SOFTWARE\\Mirtal   Sul", "Valor", std::string("acento"));
    registry_.SetDenied("SOFTWARE\\Trancada", true);
  }

  Variant Read(const std::string& key, const std::string& name, RegistryKind kind) {
    Variant v;
    ReadRegistryValue(key, name, kind, v);
    return v;
  }

  IsolatedEnvironment env_;
  Registry registry_ = Registry::Default();
};

TEST_F(RegistryValueTest, ReadsEachKind) {
  EXPECT_EQ(Read("SOFTWARE\\Mirtal", "DiretorioInstalacao", RegistryKind::kString),
            Variant("/opt/mirtal"));
  EXPECT_EQ(Read("software\\MIRTAL", "tentativas", RegistryKind::kInteger), Variant(3));
  EXPECT_EQ(Read("SOFTWARE\\Mirtal", "Tentativas", RegistryKind::kBoolean), Variant(true));
  EXPECT_EQ(Read("SOFTWARE\\Mirtal", "Fator", RegistryKind::kReal), Variant(0.5));
  EXPECT_EQ(Read("SOFTWARE\\Mirtal", "Fator", RegistryKind::kDate).ToString(), "12:00:00");
}

TEST_F(RegistryValueTest, NamesAreCleanedBeforeTheLookup) {
  // A full stop in a value name stands for a blank; an accented letter in a key path too.
  EXPECT_EQ(Read("SOFTWARE\\Mirtal", "Valor.Com.Ponto", RegistryKind::kString), Variant("achado"));
  EXPECT_EQ(Read("SOFTWARE\\Mirtal Ç Sul", "Valor", RegistryKind::kString), Variant("acento"));
}

TEST_F(RegistryValueTest, EachFailureHasItsOwnClassAndText) {
  Variant v;
  try {
    ReadRegistryValue("   ", "x", RegistryKind::kString, v);
    FAIL();
  } catch (const ERegistryKeyNull& e) {
    EXPECT_STREQ(e.what(), "O nome da chave do registro que se quer ler está em branco.");
  }
  EXPECT_EQ(v, Variant(false));  // the result starts as false
  try {
    ReadRegistryValue("SOFTWARE\\Mirtal", " ... ", RegistryKind::kString, v);
    FAIL();
  } catch (const ERegistryValueNull& e) {
    EXPECT_STREQ(e.what(), "O nome do valor do registro que se quer ler está em branco.");
  }
  try {
    ReadRegistryValue("SOFTWARE\\Nenhuma", "x", RegistryKind::kString, v);
    FAIL();
  } catch (const ERegistryKeyNotFound& e) {
    EXPECT_STREQ(e.what(), "A chave (SOFTWARE\\Nenhuma) não existe no registro.");
  }
  try {
    ReadRegistryValue("SOFTWARE\\Trancada", "x", RegistryKind::kString, v);
    FAIL();
  } catch (const ERegistryErrorOpeningKey& e) {
    EXPECT_STREQ(e.what(), "Erro ao abrir a chave do registro (SOFTWARE\\Trancada\\x).");
  }
  try {
    ReadRegistryValue("SOFTWARE\\Mirtal", "Falta", RegistryKind::kString, v);
    FAIL();
  } catch (const ERegistryValueNotFound& e) {
    EXPECT_STREQ(e.what(), "A valor da chave (SOFTWARE\\Mirtal\\Falta) não existe no registro.");
  }
  // An integer read as a string, a string as a real: wrong type.
  EXPECT_THROW(ReadRegistryValue("SOFTWARE\\Mirtal", "Tentativas", RegistryKind::kString, v),
               ERegistryErrorReadingValue);
  EXPECT_THROW(ReadRegistryValue("SOFTWARE\\Mirtal", "DiretorioInstalacao", RegistryKind::kReal, v),
               ERegistryErrorReadingValue);
}

TEST_F(RegistryValueTest, InstallationFoldersFollowTheRegistryValue) {
  LocateInstallation();
  EXPECT_EQ(CommonFolder(), "/opt/mirtal/Arquivos Comuns/");
  EXPECT_EQ(LibrariesFolder(), "/opt/mirtal/Arquivos Comuns/Bibliotecas/");
  EXPECT_EQ(ImagesFolder(), "/opt/mirtal/Arquivos Comuns/Imagens/");
}

TEST_F(RegistryValueTest, WinsockVersionComesFromThePlatformUnlessTheRegistrySaysOtherwise) {
  EXPECT_EQ(GetWinsockVersion(), "2.2");
  const std::string key = "SYSTEM\\CurrentControlSet\\Services\\Winsock2\\Parameters";
  registry_.WriteValue(key, "Winsock_Registry_Version", std::string("1.1"));
  EXPECT_EQ(GetWinsockVersion(), "1.1");
  registry_.DeleteValue(key, "Winsock_Registry_Version");
  EXPECT_EQ(GetWinsockVersion(), "");  // key present, value missing: no Windows Sockets 2
}

TEST(RegistryTest, SurvivesDamagedLinesAndRewritesAtomically) {
  vorncom::testing::TempDir dir;
  const std::string path = dir.Write("registry", "lixo sem chave\n[K]\nA=i:notanumber\nB=s:ok\n");
  Registry r(path);
  EXPECT_FALSE(r.ReadValue("K", "A").has_value());
  EXPECT_EQ(std::get<std::string>(*r.ReadValue("k", "b")), "ok");
  r.WriteValue("K\\Sub", "C", int32_t{-5});
  EXPECT_EQ(std::get<int32_t>(*Registry(path).ReadValue("K\\SUB", "c")), -5);
  // No temporary file is left behind.
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST(EnvironmentTest, LibraryFoldersComeFromTheBaseFolder) {
  IsolatedEnvironment env;
  InitializeFolders();
  EXPECT_EQ(BaseFolder(), env.dir().path() + "/");
  EXPECT_EQ(WorkFolder(), env.dir().path() + "/Trabalho/");
  EXPECT_EQ(ConfigFolder(), env.dir().path() + "/Configuracoes/");
  unsetenv("VORNCOM_BASE_DIR");
  InitializeFolders();
  EXPECT_EQ(BaseFolder(),
            std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/");
}

TEST(EnvironmentTest, OsDescriptionIsUndefinedAndCut) {
  std::string text;
  EXPECT_EQ(GetOSDescription(text, 255), 5);
  EXPECT_EQ(text, "SO Indefinido");
  EXPECT_EQ(GetOSDescription(text, 5), 5);
  EXPECT_EQ(text, "SO In");
  GetOSDescription(text, -1);
  EXPECT_EQ(text, "");
}

TEST(EnvironmentTest, FileHelpers) {
  vorncom::testing::TempDir dir;
  ForceDirectories(dir / "a/b/c/");
  EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
  EXPECT_THROW(ForceDirectories(""), Exception);
  ForceDirectories("/");  // the root stands where a bare drive did: nothing happens

  dir.Write("a/um.rec", "1");
  dir.Write("a/dois.rec", "22");
  dir.Write("a/tres.cfg", "333");
  chmod((dir / "a/dois.rec").c_str(), 0444);
  EXPECT_TRUE(DeleteFilesByMask(dir / "a/*.rec"));
  EXPECT_EQ(GetFileSize(dir / "a/um.rec"), -1);
  EXPECT_EQ(GetFileSize(dir / "a/dois.rec"), -1);
  EXPECT_EQ(GetFileSize(dir / "a/tres.cfg"), 3);
  EXPECT_FALSE(DeleteFilesByMask(dir / "a/*.rec"));
  EXPECT_TRUE(DeleteFilesByMask(dir / "a/*"));  // the folder b matches but is skipped
  EXPECT_TRUE(DirectoryExists(dir / "a/b"));
  EXPECT_EQ(GetFileSize(dir / "a"), -1);
  EXPECT_GT(FreeSpace(dir.path()), 0);
  EXPECT_EQ(FreeSpace("/nao/existe/mesmo"), -1);
}

TEST(EnvironmentTest, DateAndTimeParts) {
  EXPECT_EQ(DatePart("09/05/2001 12:30:05"), "09/05/2001");
  EXPECT_EQ(TimePart("09/05/2001 12:30:05"), "12:30:05");
  EXPECT_EQ(DatePart("09/05/2001"), "");
  EXPECT_EQ(TimePart("09/05/2001"), "09/05/20");
}

TEST(EnvironmentTest, LocalAddressIsDottedOrEmpty) {
  const std::string ip = GetLocalIPAddress();
  if (!ip.empty()) {
    in_addr addr{};
    EXPECT_EQ(inet_pton(AF_INET, ip.c_str(), &addr), 1) << ip;
  }
}

TEST(EnvironmentTest, UnattendedIsAnyValueButEmptyOrZero) {
  const char* saved = std::getenv("VORNCOM_UNATTENDED");
  const std::string restore = saved ? saved : "";
  const struct {
    const char* value;  // nullptr: not set
    bool unattended;
  } cases[] = {{nullptr, false}, {"", false},    {"0", false},
               {"1", true},      {"true", true}, {"yes", true}};
  for (const auto& c : cases) {
    if (c.value) {
      setenv("VORNCOM_UNATTENDED", c.value, 1);
    } else {
      unsetenv("VORNCOM_UNATTENDED");
    }
    EXPECT_EQ(UnattendedRequested(), c.unattended) << (c.value ? c.value : "(unset)");
  }
  if (saved) {
    setenv("VORNCOM_UNATTENDED", restore.c_str(), 1);
  } else {
    unsetenv("VORNCOM_UNATTENDED");
  }
}

}  // namespace
}  // namespace vorncom::env

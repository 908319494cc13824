#include "package/configuration_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/cp1252.h"
#include "support/temp_dir.h"

namespace vorncom::package {
namespace {

using testing::TempDir;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class ConfigurationFileTest : public ::testing::Test {
 protected:
  // Writes `utf8` to the file in Windows-1252 and opens it.
  TConfigurationFile Open(const std::string& utf8) {
    dir_.Write("f.cfg", Utf8ToCp1252(utf8));
    return TConfigurationFile(path_, false);
  }
  TempDir dir_;
  std::string path_ = dir_ / "f.cfg";
};

TEST_F(ConfigurationFileTest, ReadsByWindowsRules) {
  const std::string value3000(3000, 'x');
  TConfigurationFile f = Open(
      "; comment=line\r\n"
      "orphan=before any section\r\n"
      "[Documento]\r\n"
      "  Código Sistema  =   abc  \r\n"
      "Quoted=\"  in quotes  \"\r\n"
      "Single='x'\r\n"
      "Mismatched=\"x'\r\n"
      "Empty=\r\n"
      "Erro=erro\r\n"
      "Long=" +
      value3000 +
      "\r\n"
      "Dup=first\r\n"
      "DUP=second\r\n"
      "Eq=a=b\r\n"
      "[Usuário]\n"
      "Nome Solicitante=José\n"
      "[documento]\r\n"
      "Later=second section of the same name\r\n");
  const struct {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"Documento", "Código Sistema", "abc"},
      {"DOCUMENTO", "CÓDIGO SISTEMA", "abc"},  // accented capitals fold too
      {"Documento", "Quoted", "  in quotes  "},
      {"Documento", "Single", "x"},
      {"Documento", "Mismatched", "\"x'"},
      {"Documento", "Empty", ""},
      {"Documento", "Dup", "first"},
      {"Documento", "Eq", "a=b"},
      {"usuário", "nome solicitante", "José"},  // LF-only lines
      {"Documento", "Later", "<default>"},      // only the first section of a name counts
      {"Documento", "orphan", "<default>"},
      {"Nowhere", "Empty", "<default>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(f.ReadString(c.section, c.key, "<default>"), c.expected) << c.section << "/" << c.key;
  }
  EXPECT_EQ(f.ReadString("Documento", "Long"), value3000.substr(0, 2047));
}

TEST_F(ConfigurationFileTest, KeyExistsUsesTheErroRule) {
  TConfigurationFile f =
      Open("[S]\r\nEmpty=\r\nErro=erro\r\nQuotedErro=\"erro\"\r\nUpper=ERRO\r\n");
  EXPECT_TRUE(f.KeyExists("S", "Empty"));
  EXPECT_FALSE(f.KeyExists("S", "Erro"));
  EXPECT_FALSE(f.KeyExists("S", "QuotedErro"));
  EXPECT_TRUE(f.KeyExists("S", "Upper"));
  EXPECT_FALSE(f.KeyExists("S", "Missing"));
  EXPECT_FALSE(TConfigurationFile(dir_ / "missing.cfg", false).KeyExists("S", "Empty"));
}

TEST_F(ConfigurationFileTest, TypedReads) {
  TConfigurationFile f = Open(
      "[S]\r\nhex=0x10\r\nHEX=0XfF\r\nneg=-12\r\nyes=yes\r\nzero=0\r\nbig=2147483648\r\n"
      "partial=12abc\r\nfull=0xFFFFFFFF\r\n");
  const struct {
    const char* key;
    int32_t integer;
    bool boolean;
  } cases[] = {
      {"hex", 16, true},     {"HEX", 16, true},  {"neg", -12, true},
      {"yes", 0, false},     {"zero", 0, false}, {"big", 0, false},
      {"partial", 0, false}, {"full", -1, true}, {"missing", 0, false},
  };
  for (const auto& c : cases) {
    Variant v;
    f.ReadValue("S", c.key, v, TConfigValueKind::vkInteger);
    EXPECT_EQ(v, Variant(c.integer)) << c.key;
    f.ReadValue("S", c.key, v, TConfigValueKind::vkBoolean);
    EXPECT_EQ(v, Variant(c.boolean)) << c.key;
  }
  Variant s;
  f.ReadValue("S", "missing", s, TConfigValueKind::vkString);
  EXPECT_EQ(s, Variant(std::string()));
}

TEST_F(ConfigurationFileTest, WritesKeepEverythingElse) {
  const std::string original =
      "; keep me\r\n[A]\r\nx=1\r\n\r\n[B]\nkeep=LF line\n[C]\r\nlast=no line end";
  dir_.Write("f.cfg", original);
  TConfigurationFile f(path_, false);
  ASSERT_TRUE(f.WriteValue("a", "X", TConfigValueKind::vkInteger, Variant(42)));
  ASSERT_TRUE(f.WriteValue("A", "y", TConfigValueKind::vkBoolean, Variant(true)));
  ASSERT_TRUE(f.WriteValue("C", "new", TConfigValueKind::vkString, Variant("v")));
  ASSERT_TRUE(f.WriteValue("Usuário", "Nome", TConfigValueKind::vkString, Variant("João")));
  EXPECT_EQ(ReadAll(path_),
            "; keep me\r\n[A]\r\nx=42\r\ny=1\r\n\r\n[B]\nkeep=LF line\n[C]\r\nlast=no line end\r\n"
            "new=v\r\n[Usu\xE1rio]\r\nNome=Jo\xE3o\r\n");
  // A second object sees the values; the first sees its own writes.
  EXPECT_EQ(TConfigurationFile(path_, false).ReadString("usuário", "nome"), "João");
  EXPECT_EQ(f.ReadString("A", "x"), "42");
}

TEST_F(ConfigurationFileTest, WritesThatCannotBeStoredAnswerFalseAndChangeNothing) {
  const std::string original = "[S]\r\nk=v\r\n";
  dir_.Write("f.cfg", original);
  TConfigurationFile f(path_, false);
  EXPECT_FALSE(f.WriteValue("S", "k", TConfigValueKind::vkString, Variant("two\r\nlines")));
  EXPECT_FALSE(
      f.WriteValue("S", "k", TConfigValueKind::vkString, Variant("emoji \xF0\x9F\x98\x80")));
  EXPECT_FALSE(f.WriteValue("S", "k", TConfigValueKind::vkString, Variant("bad \xC3")));
  EXPECT_FALSE(f.WriteValue("S", "k", TConfigValueKind::vkString, Variant(std::string("a\0b", 3))));
  EXPECT_FALSE(f.WriteValue("S]", "k", TConfigValueKind::vkString, Variant("v")));
  EXPECT_FALSE(f.WriteValue("S", "k=", TConfigValueKind::vkString, Variant("v")));
  EXPECT_FALSE(f.WriteValue("S", " ", TConfigValueKind::vkString, Variant("v")));
  EXPECT_FALSE(f.WriteValue("S", "k", TConfigValueKind::vkInteger, Variant("twelve")));
  EXPECT_FALSE(f.WriteValue("S", "k", TConfigValueKind::vkString, Variant::Array(1, 2)));
  EXPECT_EQ(ReadAll(path_), original);
  EXPECT_EQ(f.ReadString("S", "k"), "v");
}

TEST_F(ConfigurationFileTest, FolderCreationIsOneLevelOnly) {
  TConfigurationFile one(dir_ / "new/f.cfg", true);
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "new"));
  EXPECT_TRUE(one.WriteValue("S", "k", TConfigValueKind::vkString, Variant("v")));

  TConfigurationFile deep(dir_ / "missing/level/f.cfg", true);  // no error here
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
  EXPECT_FALSE(deep.WriteValue("S", "k", TConfigValueKind::vkString, Variant("v")));
}

TEST_F(ConfigurationFileTest, OpeningFailuresRaiseIniFileError) {
  EXPECT_THROW(TConfigurationFile("", false), EIniFileError);
  EXPECT_THROW(TConfigurationFile(dir_.path(), false), EIniFileError);
  dir_.Write("huge.cfg", "[S]\r\n");
  std::filesystem::resize_file(dir_ / "huge.cfg", TConfigurationFile::kMaxFileSize + 1);
  EXPECT_THROW(TConfigurationFile(dir_ / "huge.cfg", false), EIniFileError);
  if (geteuid() != 0) {
    dir_.Write("locked.cfg", "[S]\r\nk=v\r\n");
    chmod((dir_ / "locked.cfg").c_str(), 0);
    EXPECT_THROW(TConfigurationFile(dir_ / "locked.cfg", false), EIniFileError);
  }
}

TEST_F(ConfigurationFileTest, ReadOnlyFolderRefusesTheWriteAndKeepsTheFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  std::filesystem::create_directory(dir_ / "ro");
  dir_.Write("ro/f.cfg", "[S]\r\nk=v\r\n");
  TConfigurationFile f(dir_ / "ro/f.cfg", false);
  chmod((dir_ / "ro").c_str(), 0555);
  EXPECT_FALSE(f.WriteValue("S", "k", TConfigValueKind::vkString, Variant("w")));
  chmod((dir_ / "ro").c_str(), 0755);
  EXPECT_EQ(ReadAll(dir_ / "ro/f.cfg"), "[S]\r\nk=v\r\n");
}

TEST_F(ConfigurationFileTest, BinaryGarbageIsReadWithoutHarm) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  dir_.Write("f.cfg", garbage + "\r\n[S]\r\nk=v\r\n");
  TConfigurationFile f(path_, false);
  EXPECT_EQ(f.ReadString("S", "k"), "v");
  EXPECT_TRUE(f.WriteValue("S", "k", TConfigValueKind::vkString, Variant("w")));
  EXPECT_EQ(ReadAll(path_), garbage + "\r\n[S]\r\nk=w\r\n");
}

}  // namespace
}  // namespace vorncom::package

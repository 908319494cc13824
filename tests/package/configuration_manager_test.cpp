#include "package/configuration_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "package/binary_file.h"
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

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EConfigurationError& e) {
    return e.what();
  }
  return "<no EConfigurationError>";
}

TEST(ConfigurationManagerTest, LoadGivesTheBytesWithBoundsOneToN) {
  TempDir dir;
  const std::string path = dir.Write("zedidodad-Vorn.cfg", std::string("\x0E\x00", 2));
  TConfigurationManager m;
  m.LoadServerList(path);
  EXPECT_EQ(m.server_data(), Variant(ByteArray{1, {14, 0}}));
}

TEST(ConfigurationManagerTest, LoadFailuresLeaveNullAndNameTheFile) {
  TempDir dir;
  TConfigurationManager m;
  m.LoadServerList(dir.Write("ok.cfg", "x"));
  const std::string missing = dir / "missing.cfg";
  EXPECT_EQ(MessageOf([&] { m.LoadServerList(missing); }),
            "O arquivo de configurações (" + missing + ") não foi encontrado.");
  EXPECT_TRUE(m.server_data().IsNull());

  if (geteuid() != 0) {
    const std::string locked = dir.Write("locked.cfg", "x");
    chmod(locked.c_str(), 0);
    EXPECT_THROW(m.LoadServerList(locked), EBinaryFileError);
    EXPECT_TRUE(m.server_data().IsNull());
  }
}

TEST(ConfigurationManagerTest, SaveReplacesAReadOnlyFileAtomically) {
  TempDir dir;
  const std::string path = dir.Write("c.cfg", "old content");
  chmod(path.c_str(), 0444);
  TConfigurationManager m;
  m.SaveServerList(path, Variant(ByteArray{0, {14, 0, 0}}));
  EXPECT_EQ(ReadAll(path), std::string("\x0E\x00", 2));
}

TEST(ConfigurationManagerTest, FailedSaveKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir.Write("c.cfg", "old content");
  TConfigurationManager m;
  EXPECT_EQ(MessageOf([&] { m.SaveServerList(path, Variant("not bytes")); }),
            "Erro ao criar o arquivo de configurações (" + path + ").");
  EXPECT_EQ(ReadAll(path), "old content");
  const std::string nowhere = dir / "a/b/c.cfg";
  EXPECT_EQ(MessageOf([&] {
              m.SaveServerList(nowhere, Variant(ByteArray{1, {14, 0}}));
            }),
            "Erro ao criar o arquivo de configurações (" + nowhere + ").");
}

}  // namespace
}  // namespace vorncom::package

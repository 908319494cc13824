#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace vorncom {
namespace {
namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Temporary names stay within the file system's limit whatever the target's name, and nothing
// is left beside the target.
TEST(AtomicFile, ReplacesFilesOfEveryLegalNameLength) {
  const fs::path dir =
      fs::temp_directory_path() / ("vorncom_atomic_" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  for (size_t length : {size_t{1}, size_t{200}, size_t{248}, size_t{249}, size_t{255}}) {
    const std::string path = (dir / std::string(length, 'n')).string();
    WriteFileAtomically(path, "first");
    WriteFileAtomically(path, "second");
    EXPECT_EQ(ReadAll(path), "second") << length;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << length;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << length;
    fs::remove(path);
  }
  const std::string a = CreateUniqueFileBeside((dir / std::string(255, 'u')).string());
  const std::string b = CreateUniqueFileBeside((dir / std::string(255, 'u')).string());
  EXPECT_NE(a, b);
  EXPECT_LE(fs::path(a).filename().string().size(), 255u);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vorncom

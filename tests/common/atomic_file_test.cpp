#include "common/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

#include "support/failing_fsync.h"

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

// A replacement that cannot be flushed or renamed is reported, never taken for success. Up to the
// rename the target keeps its bytes; whatever happens, no temporary file stays beside it.
TEST(AtomicFile, FailuresToFlushOrRenameAreReportedAndLeaveNothingBehind) {
  using Step = EFileReplaceError::Step;
  struct Row {
    const char* what;
    int failing_fsync;  // 0: none; 1: the file's; 2: the folder's
    int error;          // injected into that fsync; the errno reported on failure
    bool target_is_folder;
    int fsyncs;                // calls made
    std::optional<Step> step;  // nullopt: success
    const char* target_after;  // contents; nullptr for the folder left in place
  };
  const Row rows[] = {
      {"file flush fails", 1, EIO, false, 1, Step::kFlush, "old"},
      {"disk full at the flush", 1, ENOSPC, false, 1, Step::kFlush, "old"},
      {"rename over a folder fails", 0, EISDIR, true, 1, Step::kRename, nullptr},
      {"folder flush fails after the rename", 2, EIO, false, 2, Step::kFlushFolder, "new"},
      {"file system without folder flushes", 2, EINVAL, false, 2, std::nullopt, "new"},
      {"no failure", 0, 0, false, 2, std::nullopt, "new"},
  };
  for (const Row& row : rows) {
    const fs::path dir =
        fs::temp_directory_path() / ("vorncom_atomic_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const std::string target = (dir / "target").string();
    if (row.target_is_folder) {
      fs::create_directories(dir / "target/inside");
    } else {
      std::ofstream(target) << "old";
    }
    std::optional<Step> step;
    {
      testing::FsyncFailure failure(row.failing_fsync, row.error);
      try {
        WriteFileAtomically(target, "new");
      } catch (const EFileReplaceError& e) {
        step = e.step();
        EXPECT_EQ(e.error(), row.error) << row.what;
        EXPECT_NE(std::string(e.what()).find(target), std::string::npos) << row.what;
      }
      EXPECT_EQ(failure.calls(), row.fsyncs) << row.what;
    }
    EXPECT_EQ(step, row.step) << row.what;
    if (row.target_after) {
      EXPECT_EQ(ReadAll(target), row.target_after) << row.what;
    } else {
      EXPECT_TRUE(fs::is_directory(dir / "target/inside")) << row.what;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << row.what;
    fs::remove_all(dir);
  }
}

}  // namespace
}  // namespace vorncom

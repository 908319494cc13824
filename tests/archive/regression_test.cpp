// Replays every input the archive fuzz targets once failed on.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive_fuzz_common.h"
#include "test_support.h"

namespace vorncom::archive {
namespace {

TEST(FuzzRegression, StoredFindingsRunCleanly) {
  const std::filesystem::path dir = std::filesystem::path(VORNCOM_TEST_DATA_DIR) / "regression";
  int replayed = 0;
  if (std::filesystem::exists(dir)) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      if (!e.path().filename().string().starts_with("archive_")) continue;
      const testing::Bytes b = testing::ReadFile(e.path().string());
      SCOPED_TRACE(e.path().filename().string());
      EXPECT_NO_THROW(fuzz::ScanBytes(b.data(), b.size()));
      EXPECT_NO_THROW(fuzz::ExpandBytes(b.data(), b.size()));
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0) << "no inputs found in " << dir;
}

}  // namespace
}  // namespace vorncom::archive

// Replays every decoder input the fuzzers once crashed on.
#include <gtest/gtest.h>

#include <filesystem>

#include "coder_fuzz_input.h"
#include "lha_container.h"

namespace vorncom::archive {
namespace {

namespace fs = std::filesystem;

TEST(CoderRegressionTest, FuzzFindingsDecodeWithoutFault) {
  const fs::path dir = fs::path(VORNCOM_TEST_DATA_DIR) / "regression";
  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    fuzz::Method method;
    if (name.starts_with("lh5_decode_")) {
      method = fuzz::Method::kLh5;
    } else if (name.starts_with("lzh_decode_")) {
      method = fuzz::Method::kLzh;
    } else {
      continue;
    }
    const auto data = testing::ReadFile(entry.path());
    SCOPED_TRACE(name);
    EXPECT_NO_THROW(fuzz::DecodeInput(method, data.data(), data.size()));
    ++replayed;
  }
  // A replay that finds nothing checks nothing: a moved or renamed folder must fail here.
  EXPECT_GT(replayed, 0) << "no decoder inputs in " << dir;
  RecordProperty("replayed", replayed);
}

}  // namespace
}  // namespace vorncom::archive

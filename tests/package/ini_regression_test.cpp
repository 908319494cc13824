// Replays every input the INI fuzz target once failed on, and a few shapes that stress the reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ini_fuzz_common.h"

namespace vorncom::package {
namespace {

void Check(const std::string& bytes) {
  fuzz::CheckIniBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(IniFuzzRegression, StoredFindingsRunCleanly) {
  const std::filesystem::path dir = std::filesystem::path(VORNCOM_TEST_DATA_DIR) / "regression";
  int replayed = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (!e.path().filename().string().starts_with("ini_")) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    SCOPED_TRACE(e.path().filename().string());
    Check(s.str());
    ++replayed;
  }
  EXPECT_GT(replayed, 0) << "no INI inputs in " << dir;
  RecordProperty("replayed", replayed);
}

TEST(IniFuzzRegression, AwkwardShapes) {
  for (const std::string& text :
       {std::string(), std::string("\r"), std::string("\n\r\n\r"), std::string("[\r\n=\r\n"),
        std::string("[Documento\r\nC\xF3"
                    "digo=1"),
        std::string("[]\r\n=x\r\n[ ]\r\n = \r\n"), std::string("[a]]\r\nk==v\r\n;k=v\r\n[k=v]\r\n"),
        std::string("\0[\0]\0=\0", 7), std::string(5000, '['), std::string(5000, '=')}) {
    Check(text);
  }
}

}  // namespace
}  // namespace vorncom::package

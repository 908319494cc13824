// Cross-checks with independent LHA tools: lhasa decodes our -lh5- and LZH (as -lh1-)
// streams, and our decoder reads the -lh5- streams that jlha writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "archive/coders.h"
#include "coder_harness.h"
#include "lha_container.h"

namespace vorncom::archive {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::MakeData;
using testing::RunCoder;

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command and returns its standard output.
Bytes Capture(const std::string& command) {
  Bytes out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.insert(out.end(), buf, buf + n);
  pclose(pipe);
  return out;
}

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vorncom_peer_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Has lhasa print the archive's single member and returns it.
  Bytes LhasaExtract(const Bytes& archive) {
    const fs::path path = dir_ / "ours.lzh";
    testing::WriteFile(path, archive);
    return Capture("lhasa pq '" + path.string() + "' 2>/dev/null");
  }

  fs::path dir_;
};

struct PeerCase {
  const char* name;
  const char* kind;
  size_t size;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const PeerCase& c, std::ostream* os) { *os << c.name; }

class PeerDataTest : public PeerTest, public ::testing::WithParamInterface<PeerCase> {};

TEST_P(PeerDataTest, LhasaReadsOurLh5) {
  if (!HaveTool("lhasa")) GTEST_SKIP() << "lhasa is not installed";
  const Bytes data = MakeData(GetParam().kind, GetParam().size, 21);
  const Bytes packed = RunCoder(data, [](ByteLayer& io) { EncodeLh5(io); });
  EXPECT_EQ(LhasaExtract(testing::WrapLevel0("-lh5-", packed, data, "data.bin")), data);
}

// -lh1- is the same LZSS and adaptive Huffman stream with a 4 KiB ring of spaces; our ring
// start and search differences only change which matches are chosen.
TEST_P(PeerDataTest, LhasaReadsOurLzhAsLh1) {
  if (!HaveTool("lhasa")) GTEST_SKIP() << "lhasa is not installed";
  const Bytes data = MakeData(GetParam().kind, GetParam().size, 22);
  const Bytes packed = RunCoder(data, [](ByteLayer& io) { EncodeLzh(io); });
  EXPECT_EQ(LhasaExtract(testing::WrapLevel0("-lh1-", packed, data, "data.bin")), data);
}

TEST_P(PeerDataTest, WeReadJlhaLh5) {
  if (!HaveTool("jlha")) GTEST_SKIP() << "jlha is not installed";
  if (std::string(GetParam().kind) == "random" || GetParam().size < 100) {
    GTEST_SKIP() << "jlha stores data that does not shrink";
  }
  const Bytes data = MakeData(GetParam().kind, GetParam().size, 23);
  testing::WriteFile(dir_ / "data.bin", data);
  const std::string cmd =
      "cd '" + dir_.string() + "' && jlha aq theirs.lzh data.bin >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const auto member = testing::UnwrapFirst(testing::ReadFile(dir_ / "theirs.lzh"));
  ASSERT_TRUE(member.has_value());
  ASSERT_EQ(member->method, "-lh5-");
  ASSERT_EQ(member->original_size, data.size());
  const Bytes out = RunCoder(
      member->packed, [&](ByteLayer& io) { DecodeLh5(io, static_cast<int64_t>(data.size())); }, 16);
  EXPECT_EQ(out, data);
  EXPECT_EQ(testing::LhaCrc16(out), member->crc);
}

INSTANTIATE_TEST_SUITE_P(Inputs, PeerDataTest,
                         ::testing::Values(PeerCase{"one_byte", "text", 1},
                                           PeerCase{"text", "text", 50000},
                                           PeerCase{"random", "random", 20000},
                                           PeerCase{"runs", "runs", 100000},
                                           PeerCase{"binary_blocks", "binary", 600000}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vorncom::archive

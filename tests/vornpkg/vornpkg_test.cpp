// Drives the vornpkg binary as a user would and checks exit status, output and files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "test_support.h"

namespace vorncom::archive {
namespace {

struct Result {
  int status = -1;
  std::string out;
};

Result Vornpkg(const std::string& args) {
  const std::string command = std::string(VORNPKG_PATH) + " " + args + " 2>&1";
  Result r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return r;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    r.out.append(buffer.data(), n);
  const int raw = ::pclose(pipe);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

class VornpkgTest : public ::testing::Test {
 protected:
  std::string Q(const std::string& name) const { return "'" + dir_ / name + "'"; }
  testing::TempDir dir_;
};

TEST_F(VornpkgTest, AddListTestExtractRoundTrip) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "campo " + std::to_string(i % 17) + "\n";
  testing::WriteFile(dir_ / "dados.txt", text);
  testing::WriteFile(dir_ / "header.cfg", "[Documento]\n");

  Result r =
      Vornpkg("add " + Q("p.vcp") + " " + Q("dados.txt") + " " + Q("header.cfg") + " --key 9");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("added dados.txt"), std::string::npos) << r.out;

  r = Vornpkg("list " + Q("p.vcp"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "dados.txt\nheader.cfg\n");
  r = Vornpkg("list -v " + Q("p.vcp"));
  EXPECT_NE(r.out.find("LH5"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("locked"), std::string::npos) << r.out;

  EXPECT_EQ(Vornpkg("test " + Q("p.vcp") + " --key 9").status, 0);
  r = Vornpkg("test " + Q("p.vcp"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("File locked -- valid key required"), std::string::npos) << r.out;

  r = Vornpkg("extract " + Q("p.vcp") + " " + Q("out") + " --key 9");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(testing::ToString(testing::ReadFile(dir_ / "out/dados.txt")), text);
}

// An update's temporary name must fit where the archive's does, also beside a name of 255 bytes.
TEST_F(VornpkgTest, LegalLongNamesWorkForAddAndUpdate) {
  testing::WriteFile(dir_ / "a.txt", std::string(100, 'a'));
  testing::WriteFile(dir_ / "b.txt", std::string(100, 'b'));
  for (const std::string& name : {std::string(255, 'p'), std::string(251, 'q') + ".vcp"}) {
    ASSERT_EQ(Vornpkg("add " + Q(name) + " " + Q("a.txt")).status, 0) << name.size();
    const Result r = Vornpkg("add " + Q(name) + " " + Q("b.txt"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(Vornpkg("list " + Q(name)).out, "b.txt\na.txt\n");
    EXPECT_EQ(Vornpkg("test " + Q(name)).status, 0);
    std::filesystem::remove(dir_ / name);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.str()),
                          std::filesystem::directory_iterator()),
            2);  // nothing left behind
}

TEST_F(VornpkgTest, DamageAndBadCommandLinesHaveTheirExitStatus) {
  testing::WriteFile(dir_ / "f", std::string(2000, 'z') + "end");
  ASSERT_EQ(Vornpkg("add " + Q("p.vcp") + " " + Q("f") + " --method rle").status, 0);
  testing::Bytes b = testing::ReadFile(dir_ / "p.vcp");
  b.back() ^= 0x40;
  testing::WriteFile(dir_ / "p.vcp", b);
  Result r = Vornpkg("test " + Q("p.vcp"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Bad checksum during expansion"), std::string::npos) << r.out;
  // Cut right after an entry record, or inside it: damage, not an empty archive.
  for (size_t cut : {21 + 25, 21 + 10}) {
    testing::WriteFile(dir_ / "cut.vcp", testing::Bytes(b.begin(), b.begin() + cut));
    r = Vornpkg("test " + Q("cut.vcp"));
    EXPECT_EQ(r.status, 1) << cut;
    EXPECT_NE(r.out.find(std::to_string(cut - 21) + " bytes at the end hold no complete entry"),
              std::string::npos)
        << r.out;
  }

  testing::WriteFile(dir_ / "junk", std::string(64, 'J'));
  r = Vornpkg("list " + Q("junk"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Can't recognize compressed file header"), std::string::npos) << r.out;

  EXPECT_EQ(Vornpkg("").status, 2);
  EXPECT_EQ(Vornpkg("frobnicate").status, 2);
  EXPECT_EQ(Vornpkg("list").status, 2);
  EXPECT_EQ(Vornpkg("add " + Q("p.vcp") + " " + Q("f") + " --method zip").status, 2);
  EXPECT_EQ(Vornpkg("add " + Q("p.vcp") + " " + Q("f") + " --key -3").status, 2);
  EXPECT_EQ(Vornpkg("add " + Q("p.vcp") + " " + Q("missing")).status, 1);
  EXPECT_EQ(Vornpkg("list --help").status, 0);
}

}  // namespace
}  // namespace vorncom::archive

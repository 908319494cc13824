#include "package/binary_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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

Variant Bytes(int32_t lower_bound, std::vector<uint8_t> bytes) {
  return Variant(ByteArray{lower_bound, std::move(bytes)});
}

TEST(BinaryFileTest, WriteDataWritesUpToTheUpperBound) {
  TempDir dir;
  const struct {
    Variant data;
    bool ok;
    std::string written;
  } cases[] = {
      {Bytes(0, {1, 2, 3, 4, 5}), true, "\x01\x02\x03\x04"},  // bounds 0..4
      {Bytes(1, {1, 2, 3, 4}), true, "\x01\x02\x03\x04"},     // bounds 1..4
      {Bytes(0, {9}), true, ""},                              // bounds 0..0
      {Bytes(1, {}), true, ""},
      {Bytes(3, {1, 2}), false, "old"},  // upper bound 4 beyond the two bytes held
      {Variant("text"), false, "old"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.Write("f.bin", "old");
    {
      TBinaryFile f(path, TBinaryFile::kModeCreate);
      EXPECT_EQ(f.WriteData(c.data), c.ok);
    }
    EXPECT_EQ(ReadAll(path), c.written);
  }
}

TEST(BinaryFileTest, ReadDataGivesBoundsOneToSize) {
  TempDir dir;
  const std::string path = dir.Write("f.bin", std::string("\x00\xFF\x10", 3));
  TBinaryFile f(path, TBinaryFile::kModeRead);
  Variant data;
  f.ReadData(data);
  EXPECT_EQ(data, Bytes(1, {0x00, 0xFF, 0x10}));

  const std::string empty = dir.Write("empty.bin", "");
  TBinaryFile g(empty, TBinaryFile::kModeRead);
  g.ReadData(data);
  EXPECT_EQ(data.LowerBound(), 1);
  EXPECT_EQ(data.UpperBound(), 0);
}

TEST(BinaryFileTest, OpeningFailuresRaiseBinaryFileError) {
  TempDir dir;
  EXPECT_THROW(TBinaryFile(dir / "missing.bin", TBinaryFile::kModeRead), EBinaryFileError);
  EXPECT_THROW(TBinaryFile(dir.path(), TBinaryFile::kModeRead), EBinaryFileError);
  EXPECT_THROW(TBinaryFile(dir / "a/b/c.bin", TBinaryFile::kModeCreate), EBinaryFileError);
  EXPECT_THROW(TBinaryFile(dir / "f.bin", 1), EBinaryFileError);
  try {
    TBinaryFile(dir / "missing.bin", TBinaryFile::kModeRead);
  } catch (const EBinaryFileError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.bin"), std::string::npos);
  }
}

TEST(BinaryFileTest, CreatesTheLastFolderLevel) {
  TempDir dir;
  TBinaryFile f(dir / "sub/f.bin", TBinaryFile::kModeCreate);
  EXPECT_TRUE(f.WriteData(Bytes(1, {7})));
  EXPECT_EQ(ReadAll(dir / "sub/f.bin"), "\x07");
}

TEST(BinaryFileTest, AFileClosedWithoutWritingKeepsItsContent) {
  TempDir dir;
  const std::string path = dir.Write("f.bin", "keep");
  { TBinaryFile f(path, TBinaryFile::kModeCreate); }
  EXPECT_EQ(ReadAll(path), "keep");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace vorncom::package

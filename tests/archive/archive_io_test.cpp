#include <gtest/gtest.h>

#include <sstream>

#include "archive/archive_io.h"
#include "archive/archiver.h"
#include "archive/errors.h"
#include "test_support.h"

namespace vorncom::archive {
namespace {
using testing::Bytes;

Bytes Header(const std::string& id = "NON", int32_t total = 0, uint8_t type = 1) {
  ArchiveHeader h;
  h.method_id = id;
  h.total_size = total;
  h.type = type;
  const auto a = EncodeHeader(h);
  return Bytes(a.begin(), a.end());
}

Bytes Entry(const std::string& name, const Bytes& data, int32_t checksum, int32_t size = -1) {
  EntryRecord r;
  r.name_length = static_cast<int16_t>(name.size());
  r.size = size < 0 ? static_cast<int32_t>(data.size()) : size;
  r.stored_size = static_cast<int32_t>(data.size());
  r.checksum = checksum;
  const auto a = EncodeRecord(r);
  Bytes b(a.size() + name.size() + data.size());
  auto at = std::copy(a.begin(), a.end(), b.begin());
  at = std::copy(name.begin(), name.end(), at);
  std::copy(data.begin(), data.end(), at);
  return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<ScannedEntry> Scan(const Bytes& archive, TArchiver& archiver) {
  std::istringstream in(testing::ToString(archive));
  std::vector<ScannedEntry> list;
  archiver.ScanArchive(in, list);
  return list;
}

std::vector<ScannedEntry> Scan(const Bytes& archive) {
  TArchiver archiver;
  return Scan(archive, archiver);
}

TEST(ArchiveLayout, FieldsSitWhereTheFormatSaysLittleEndian) {
  ArchiveHeader h;
  h.method_id = "LH5";
  h.total_size = 0x01020304;
  h.lock = 2;
  const auto hb = EncodeHeader(h);
  EXPECT_EQ(Bytes(hb.begin(), hb.end()), (Bytes{'Z', 'E', 'L', 'K', 0x1A, 'L', 'H', '5', 4, 3, 2,
                                                1,   1,   0,   0,   0,    0,   2,   0,   0, 0}));
  EntryRecord r{3, 0x11223344, 0x0020, 5, 6, 4, -2, 2};
  const auto rb = EncodeRecord(r);
  EXPECT_EQ(Bytes(rb.begin(), rb.end()),
            (Bytes{3, 0, 0x44, 0x33, 0x22, 0x11, 0x20, 0,    5, 0, 0, 0, 6,
                   0, 0, 0,    4,    0xFE, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0}));
  const EntryRecord back = DecodeRecord(rb);
  EXPECT_EQ(back.checksum, -2);
  EXPECT_EQ(back.date_time, 0x11223344);
}

TEST(ArchiveLayout, OneEmptyFileIsHeaderRecordAndName) {
  testing::TempDir dir;
  testing::WriteFile(dir / "e.txt", Bytes{});
  for (int32_t key : {0, 77}) {
    const std::string archive = dir / ("k" + std::to_string(key) + ".vcp");
    TArchiver archiver;
    archiver.SetTargetPath(dir.str());
    archiver.Key = key;
    std::vector<std::string> files{dir / "e.txt"};
    archiver.CompressFiles(archive, files, TCompressMethod::cmRLE);
    const Bytes b = testing::ReadFile(archive);
    ASSERT_EQ(b.size(), 21u + 25u + 5u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), (Bytes{'Z', 'E', 'L', 'K', 0x1A, 'R', 'L', 'E'}));
    const EntryRecord r = DecodeRecord(std::span<const uint8_t, 25>(b.data() + 21, 25));
    EXPECT_EQ(r.name_length, 5);
    EXPECT_EQ(r.size, 0);
    EXPECT_EQ(r.stored_size, 0);
    EXPECT_EQ(r.checksum, key);
    EXPECT_EQ(r.lock, key > 0 ? 2 : 0);
    EXPECT_EQ(testing::ToString(Bytes(b.begin() + 46, b.end())), "e.txt");
  }
}

TEST(ArchiveReading, ShortFilesAreEmptyArchives) {
  const Bytes full = Header() + Entry("a", {1}, 1);
  for (size_t n : {size_t{0}, size_t{20}, size_t{21}, size_t{45}}) {
    EXPECT_TRUE(Scan(Bytes(full.begin(), full.begin() + static_cast<ptrdiff_t>(n))).empty()) << n;
  }
  // Even garbage is no error while it is too short to be a header.
  EXPECT_TRUE(Scan(Bytes(20, 0xEE)).empty());
  EXPECT_EQ(Scan(full).size(), 1u);
}

TEST(ArchiveReading, TruncatedRecordOrNameEndsTheListQuietly) {
  const Bytes two = Header() + Entry("first", {1, 2}, 3) + Entry("second", {4}, 4);
  const size_t second_at = 21 + 25 + 5 + 2;
  for (size_t cut : {second_at + 10, second_at + 25 + 3}) {
    const auto list = Scan(Bytes(two.begin(), two.begin() + static_cast<ptrdiff_t>(cut)));
    ASSERT_EQ(list.size(), 1u) << cut;
    EXPECT_EQ(list[0].name, "first");
  }
}

struct BadHeaderCase {
  const char* what;
  Bytes archive;
  std::string message;
};

class BadHeaders : public ::testing::TestWithParam<BadHeaderCase> {};

TEST_P(BadHeaders, ScanAndExpandRaiseTheFormatError) {
  const auto& c = GetParam();
  TArchiver archiver;
  try {
    Scan(c.archive);
    ADD_FAILURE() << "scan accepted it";
  } catch (const Exception& e) {
    EXPECT_EQ(e.what(), c.message);
  }
  std::istringstream in(testing::ToString(c.archive));
  std::vector<std::string> names{"a"};
  try {
    archiver.ExpandFiles(in, &names);
    ADD_FAILURE() << "expand accepted it";
  } catch (const Exception& e) {
    EXPECT_EQ(e.what(), c.message);
  }
}

Bytes WithByte(Bytes b, size_t at, uint8_t v) {
  b[at] = v;
  return b;
}

const Bytes kGood = Header("NON", 1) + Entry("a", {1}, 1);

INSTANTIATE_TEST_SUITE_P(
    Table, BadHeaders,
    ::testing::Values(
        BadHeaderCase{"wrong magic", WithByte(kGood, 0, 'z'),
                      "Can't recognize compressed file header"},
        BadHeaderCase{"magic without 1A", WithByte(kGood, 4, 0x1B),
                      "Can't recognize compressed file header"},
        BadHeaderCase{"type 0", WithByte(kGood, 12, 0), "Archive type must be caMulti"},
        BadHeaderCase{"type 2", WithByte(kGood, 12, 2), "Archive type must be caMulti"},
        BadHeaderCase{"lower-case id", Header("lh5", 1) + Entry("a", {1}, 1),
                      "Unrecognized compression method: \"lh5\" in header"},
        BadHeaderCase{"negative stored size", WithByte(kGood, 21 + 15, 0x80),
                      "Can't recognize compressed file header"},
        BadHeaderCase{"negative size", WithByte(kGood, 21 + 11, 0xFF),
                      "Can't recognize compressed file header"},
        BadHeaderCase{"negative name length", WithByte(kGood, 21 + 1, 0xFF),
                      "Can't recognize compressed file header"}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (auto& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(ArchiveReading, UnknownIdIsReadableWhenRecognized) {
  const Bytes archive = Header("XYZ", 1) + Entry("a", {1}, 1);
  TArchiver archiver;
  std::string asked;
  archiver.OnRecognize = [&](const std::string& id, bool& ok) {
    asked = id;
    ok = true;
  };
  EXPECT_EQ(Scan(archive, archiver).size(), 1u);
  EXPECT_EQ(asked, "XYZ");
  // Built-in ids never reach the event.
  asked.clear();
  Scan(Header("LH5", 1) + Entry("a", {1}, 1), archiver);
  EXPECT_TRUE(asked.empty());
}

TEST(ArchiveReading, ListingGoesPastTheTotalWhileExpansionStops) {
  testing::TempDir dir;
  // The total accounts for the first entry only: the second is beyond it.
  const Bytes archive =
      Header("NON", 2) + Entry("one", {1, 1}, 2) + Entry("two", {}, 0) + Entry("three", {5}, 5);
  EXPECT_EQ(Scan(archive).size(), 3u);
  TArchiver archiver;
  archiver.SetTargetPath(dir.str());
  std::istringstream in(testing::ToString(archive));
  archiver.ExpandFiles(in, nullptr);
  EXPECT_TRUE(std::filesystem::exists(dir / "one"));
  EXPECT_FALSE(std::filesystem::exists(dir / "two"));
  EXPECT_FALSE(std::filesystem::exists(dir / "three"));
}

TEST(ArchiveReading, StoredDataPastTheEndIsABadChecksumNotAHugeWrite) {
  testing::TempDir dir;
  Bytes archive = Header("NON", 3) + Entry("a", {1, 2, 3}, 6);
  // Stored size 0x7FFFFFF0 with three bytes present.
  archive[21 + 12] = 0xF0;
  archive[21 + 15] = 0x7F;
  for (uint8_t method : {uint8_t{0}, uint8_t{1}, uint8_t{2}, uint8_t{4}}) {
    archive[21 + 16] = method;
    TArchiver archiver;
    archiver.SetTargetPath(dir.str());
    std::istringstream in(testing::ToString(archive));
    EXPECT_THROW(archiver.ExpandFiles(in, nullptr), EBadChecksum) << int(method);
    EXPECT_EQ(Scan(archive).size(), 1u);
  }
}

}  // namespace
}  // namespace vorncom::archive

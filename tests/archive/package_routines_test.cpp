#include "archive/package_routines.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "archive/archive_io.h"
#include "archive/archiver.h"
#include "archive/qev_compress.h"
#include "test_support.h"

namespace vorncom::archive {
namespace {
namespace fs = std::filesystem;
using testing::Bytes;

Variant NameList(std::initializer_list<std::string> names) {
  Variant v = Variant::Array(0, names.size());
  size_t i = 0;
  for (const auto& n : names) v.AsArray().items[i++] = Variant(n);
  return v;
}

std::vector<std::string> Strings(const Variant& v) {
  std::vector<std::string> out;
  if (v.IsArray())
    for (const auto& item : v.AsArray().items) out.push_back(item.ToString());
  return out;
}

class Recorder : public PackageProgress {
 public:
  void ShowFile(const std::string& name) override { files.push_back(name); }
  void ShowPercent(int percent) override { percents.push_back(percent); }
  std::vector<std::string> files;
  std::vector<int> percents;
};

// Writes an archive by hand whose stored names are taken as they are. Each entry stores one byte;
// `sizes` gives the uncompressed size its record claims (1 when not given).
void WriteRawArchive(const std::string& path, const std::vector<std::string>& names,
                     const std::vector<int32_t>& sizes = {}) {
  Bytes b;
  ArchiveHeader h;
  h.total_size = static_cast<int32_t>(names.size());
  const auto hb = EncodeHeader(h);
  b.insert(b.end(), hb.begin(), hb.end());
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& n = names[i];
    EntryRecord r;
    r.name_length = static_cast<int16_t>(n.size());
    r.size = r.stored_size = 1;
    if (i < sizes.size()) r.size = sizes[i];
    r.checksum = 'x';
    const auto rb = EncodeRecord(r);
    b.insert(b.end(), rb.begin(), rb.end());
    b.insert(b.end(), n.begin(), n.end());
    b.push_back('x');
  }
  testing::WriteFile(path, b);
}

class PackageRoutinesTest : public ::testing::Test {
 protected:
  std::string pkg() const { return dir_ / "form.vcp"; }
  testing::TempDir dir_;
};

TEST_F(PackageRoutinesTest, AddListHasExtractRoundTrip) {
  testing::WriteFile(dir_ / "header.cfg", "[Documento]\nTipo=1\n");
  testing::WriteFile(dir_ / "dados.xml", std::string(20000, 'd'));
  Recorder progress;
  AddFilesToPackage(NameList({dir_ / "header.cfg", dir_ / "dados.xml"}), "", pkg(), true,
                    &progress);
  EXPECT_EQ(Strings(ListPackageEntries(pkg())),
            (std::vector<std::string>{"dados.xml", "header.cfg"}));
  EXPECT_EQ(progress.files, (std::vector<std::string>{"header.cfg", "dados.xml"}));
  EXPECT_TRUE(PackageHasEntry(pkg(), "header.cfg"));
  EXPECT_FALSE(PackageHasEntry(pkg(), "Header.cfg"));

  Recorder bar;
  ExtractAllPackageEntries(pkg(), dir_ / "out", true, &bar);
  EXPECT_EQ(testing::ToString(testing::ReadFile(dir_ / "out/dados.xml")), std::string(20000, 'd'));
  EXPECT_EQ(bar.percents.front(), 0);
  EXPECT_EQ(bar.percents.back(), 100);

  ExtractPackageEntries(NameList({"HEADER.CFG"}), pkg(), dir_ / "one", true, nullptr);
  EXPECT_TRUE(fs::exists(dir_ / "one/header.cfg"));
  EXPECT_FALSE(fs::exists(dir_ / "one/dados.xml"));
}

TEST_F(PackageRoutinesTest, ListOfAnArchiveWithoutEntriesIsEmptyVariant) {
  testing::WriteFile(pkg(), Bytes(45, 0));
  EXPECT_TRUE(ListPackageEntries(pkg()).IsEmpty());
  EXPECT_FALSE(PackageHasEntry(pkg(), ""));
}

TEST_F(PackageRoutinesTest, InsertAnswersWhetherTheCountGrewByTheFiles) {
  testing::WriteFile(dir_ / "protocolo.rec", "[Protocolo]\n");
  testing::WriteFile(dir_ / "header.cfg", "h");
  // No archive yet: false, and nothing is created.
  EXPECT_FALSE(InsertFilesIntoPackage(NameList({dir_ / "header.cfg"}), pkg()));
  EXPECT_FALSE(fs::exists(pkg()));

  AddFilesToPackage(NameList({dir_ / "header.cfg"}), "", pkg(), true, nullptr);
  EXPECT_TRUE(InsertFilesIntoPackage(NameList({dir_ / "protocolo.rec"}), pkg()));
  // Same name again: the entry is replaced, the count stays.
  EXPECT_FALSE(InsertFilesIntoPackage(NameList({dir_ / "protocolo.rec"}), pkg()));
  EXPECT_EQ(Strings(ListPackageEntries(pkg())),
            (std::vector<std::string>{"protocolo.rec", "header.cfg"}));
  // Case-different name: the update treats it as the same entry, the exact test does not.
  testing::WriteFile(dir_ / "Protocolo.rec", "[Protocolo]\nNumero=1\n");
  EXPECT_FALSE(InsertFilesIntoPackage(NameList({dir_ / "Protocolo.rec"}), pkg()));
  EXPECT_TRUE(PackageHasEntry(pkg(), "Protocolo.rec"));
  EXPECT_FALSE(PackageHasEntry(pkg(), "protocolo.rec"));
  EXPECT_FALSE(InsertFilesIntoPackage(NameList({dir_ / "missing"}), pkg()));
}

TEST_F(PackageRoutinesTest, InsertedStreamGoesInOnlyBesideOtherNames) {
  const std::string record = "[Documento]\r\nNome Arquivo=form.vcp\r\n";
  const struct {
    const char* what;
    std::vector<std::string> entries;  // empty: no archive; {"-"}: a file that is no archive
    bool inserted;
  } cases[] = {
      {"beside other entries", {"header.cfg"}, true},
      {"a record already in", {"header.cfg", "protocolo.rec"}, false},
      {"one in other letter case", {"PROTOCOLO.REC"}, false},
      {"no archive", {}, false},
      {"no entries", {""}, false},
      {"no archive format", {"-"}, false},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_ / "p");
    fs::create_directory(dir_ / "p");
    const std::string package = dir_ / "p/form.vcp";
    if (c.entries == std::vector<std::string>{"-"}) {
      testing::WriteFile(package, std::string(200, 't'));
    } else if (c.entries == std::vector<std::string>{""}) {
      WriteRawArchive(package, {});
    } else if (!c.entries.empty()) {
      WriteRawArchive(package, c.entries);
    }
    const Bytes before = fs::exists(package) ? testing::ReadFile(package) : Bytes();
    std::istringstream source(record);
    EXPECT_EQ(InsertStreamIntoPackage(source, "protocolo.rec", package), c.inserted) << c.what;
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir_ / "p")) files.push_back(e.path().filename());
    if (!c.inserted) {
      EXPECT_EQ(fs::exists(package) ? testing::ReadFile(package) : Bytes(), before) << c.what;
      EXPECT_EQ(files.size(), c.entries.empty() ? 0u : 1u) << c.what;
      continue;
    }
    EXPECT_EQ(files, std::vector<std::string>{"form.vcp"}) << c.what;
    EXPECT_EQ(Strings(ListPackageEntries(package)),
              (std::vector<std::string>{"protocolo.rec", "header.cfg"}));
    ExtractPackageEntries(NameList({"protocolo.rec"}), package, dir_ / "p/out", true, nullptr);
    EXPECT_EQ(testing::ToString(testing::ReadFile(dir_ / "p/out/protocolo.rec")), record);
  }
}

// Sizes are what the records claim; an entry over the limit is never expanded.
TEST_F(PackageRoutinesTest, ExtractedEntryStaysWithinItsLimit) {
  const struct {
    const char* what;
    std::vector<std::string> names;
    std::vector<int32_t> sizes;
    bool answer;
    std::vector<std::string> written;
  } cases[] = {
      {"within", {"header.cfg", "dados"}, {1, 9}, true, {"header.cfg"}},
      {"over", {"header.cfg"}, {2}, false, {}},
      {"a later copy over", {"header.cfg", "header.cfg"}, {1, 2}, false, {}},
      {"other letter case over", {"HEADER.CFG", "header.cfg"}, {2, 1}, true, {"header.cfg"}},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir_ / "out");
    WriteRawArchive(pkg(), c.names, c.sizes);
    EXPECT_EQ(ExtractPackageEntry("header.cfg", pkg(), dir_ / "out", 1), c.answer) << c.what;
    std::vector<std::string> found;
    if (fs::exists(dir_ / "out"))
      for (const auto& e : fs::directory_iterator(dir_ / "out"))
        found.push_back(e.path().filename());
    EXPECT_EQ(found, c.written) << c.what;
  }
}

TEST_F(PackageRoutinesTest, NameListThatIsNotAnArrayDoesNothing) {
  WriteRawArchive(pkg(), {"a"});
  EXPECT_NO_THROW(ExtractPackageEntries(Variant("a"), pkg(), dir_ / "out", true, nullptr));
  EXPECT_NO_THROW(
      ExtractPackageEntries(Variant(), dir_ / "missing.vcp", dir_ / "out", true, nullptr));
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

TEST(TqevCompressNames, ShapeStoredNamesAndTargets) {
  struct Case {
    bool names_only;
    TCProcessMode mode;
    std::string directory, in, out;
  };
  const auto C = TCProcessMode::pmCompress;
  const auto E = TCProcessMode::pmExpand;
  const Case cases[] = {
      {true, C, "", "/home/u/form/header.cfg", "header.cfg"},
      {false, C, "", "C:\\dados\\header.cfg", "\\dados\\header.cfg"},
      {false, C, "", "\\\\server\\share\\pasta\\a.xml", "\\pasta\\a.xml"},
      {false, C, "", "/home/u/a.xml", "/home/u/a.xml"},
      {true, E, "/tmp/work/", "/pasta/a.xml", "/tmp/work/a.xml"},
      {true, E, "/tmp/work", "a.xml", "/tmp/work/a.xml"},
      {false, E, "/tmp/work/", "/pasta/a.xml", "/tmp/work/pasta/a.xml"},
      {false, E, "/tmp/work", "a.xml", "/tmp/work/a.xml"},
      {false, E, "/tmp/work", "C:/x/../../etc", ""},
      {true, E, "/tmp/work", "x/..", ""},
  };
  for (const auto& c : cases) {
    TqevCompress handler;
    handler.names_only = c.names_only;
    handler.directory = c.directory;
    std::string name = c.in;
    handler.CheckFile(name, c.mode);
    EXPECT_EQ(name, c.out) << c.in;
  }
}

TEST_F(PackageRoutinesTest, ExtractionNeverLeavesTheTargetFolder) {
  WriteRawArchive(pkg(), {"..\\..\\escaped", "\\tmp\\abs", "sub\\..\\..\\up", "ok", "dir\\in"});
  ExtractAllPackageEntries(pkg(), dir_ / "t1/out", false, nullptr);
  EXPECT_EQ(testing::ToString(testing::ReadFile(dir_ / "t1/out/ok")), "x");
  EXPECT_TRUE(fs::exists(dir_ / "t1/out/tmp/abs"));
  EXPECT_TRUE(fs::exists(dir_ / "t1/out/dir/in"));
  EXPECT_FALSE(fs::exists(dir_ / "escaped"));
  EXPECT_FALSE(fs::exists(dir_ / "t1/escaped"));
  EXPECT_FALSE(fs::exists(dir_ / "t1/up"));

  WriteRawArchive(pkg(), {"..", "a\\..", "deep\\name"});
  ExtractAllPackageEntries(pkg(), dir_ / "t2", true, nullptr);
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir_ / "t2")) found.push_back(e.path().filename());
  EXPECT_EQ(found, (std::vector<std::string>{"name"}));
}

}  // namespace
}  // namespace vorncom::archive

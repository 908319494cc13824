#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "archive/archive_io.h"
#include "archive/archiver.h"
#include "archive/errors.h"
#include "archive/file_system.h"
#include "support/failing_fsync.h"
#include "test_support.h"

namespace vorncom::archive {
namespace {
namespace fs = std::filesystem;
using testing::Bytes;

class ArchiverTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, const Bytes& data) {
    const std::string path = dir_ / name;
    testing::WriteFile(path, data);
    return path;
  }
  std::string Make(const std::string& name, const std::string& text) {
    return Make(name, Bytes(text.begin(), text.end()));
  }

  // Compresses files (paths relative to the folder) with the stored names relative to it.
  std::vector<std::string> Add(const std::string& archive, std::vector<std::string> names,
                               TCompressMethod method, int32_t key = 0) {
    TArchiver a;
    a.SetTargetPath(dir_.str());
    a.Key = key;
    for (auto& n : names) n = dir_ / n;
    a.CompressFiles(dir_ / archive, names, method);
    return names;
  }

  std::vector<ScannedEntry> List(const std::string& archive) {
    TArchiver a;
    std::vector<ScannedEntry> list;
    a.ScanArchiveFile(dir_ / archive, list);
    return list;
  }

  std::vector<std::string> Names(const std::string& archive) {
    std::vector<std::string> names;
    for (const auto& e : List(archive)) names.push_back(e.name);
    return names;
  }

  // Expands into `out` (a subfolder); returns the written paths.
  std::vector<std::string> Expand(const std::string& archive, const std::string& out,
                                  int32_t key = 0) {
    TArchiver a;
    a.SetTargetPath(dir_ / out);
    a.MakeDirectories = true;
    a.Key = key;
    std::ifstream in(dir_ / archive, std::ios::binary);
    std::vector<ScannedEntry> all;
    a.ScanArchive(in, all);
    std::vector<std::string> names;
    for (const auto& e : all) names.push_back(e.name);
    in.clear();
    in.seekg(0);
    a.ExpandFiles(in, &names);
    return names;
  }

  // The names in the folder, sorted: what an operation left behind.
  std::vector<std::string> FolderNames() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.str()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  testing::TempDir dir_;
};

TEST_F(ArchiverTest, EveryBuiltInMethodRoundTripsWithDateAndReadOnly) {
  const Bytes text = testing::RandomBytes(30000, 5);
  Bytes runs(50000, 'r');
  runs[100] = 0x94;
  Make("rand.bin", text);
  Make("runs.bin", runs);
  Make("empty", Bytes{});
  ::chmod((dir_ / "runs.bin").c_str(), 0444);
  const std::time_t when = 1700000000;  // 2023-11-14, an even second
  struct timespec times[2] = {{when, 0}, {when, 0}};
  ::utimensat(AT_FDCWD, (dir_ / "rand.bin").c_str(), times, 0);

  for (auto method : {TCompressMethod::cmNone, TCompressMethod::cmRLE, TCompressMethod::cmLZH,
                      TCompressMethod::cmLH5}) {
    const std::string tag = std::to_string(static_cast<int>(method));
    const auto stored = Add("m" + tag, {"rand.bin", "runs.bin", "empty"}, method);
    EXPECT_EQ(stored, (std::vector<std::string>{"rand.bin", "runs.bin", "empty"}));
    const auto list = List("m" + tag);
    ASSERT_EQ(list.size(), 3u);
    // Random data does not shrink, so it falls back to the stored method.
    EXPECT_EQ(list[0].info.method, 0);
    EXPECT_EQ(list[1].info.method, static_cast<uint8_t>(method));
    EXPECT_TRUE(list[1].info.attributes & kAttrReadOnly);
    EXPECT_FALSE(list[0].info.attributes & kAttrReadOnly);

    const auto written = Expand("m" + tag, "out" + tag);
    // The empty file is beyond the header's total and is not expanded.
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(testing::ReadFile(written[0]), text);
    EXPECT_EQ(testing::ReadFile(written[1]), runs);
    struct stat st {};
    ASSERT_EQ(::stat(written[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, when);
    ASSERT_EQ(::stat(written[1].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
  }
}

TEST_F(ArchiverTest, OutputAsLongAsTheInputStaysCompressedOneByteMoreIsStored) {
  Make("equal", Bytes{7, 7, 7});         // RLE: 7 94 03
  Make("longer", Bytes{7, 7, 7, 0x94});  // RLE: 7 94 03 94 00
  Add("budget", {"equal", "longer"}, TCompressMethod::cmRLE);
  const auto list = List("budget");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].info.method, 1);
  EXPECT_EQ(list[0].info.stored_size, 3);
  EXPECT_EQ(list[1].info.method, 0);
  EXPECT_EQ(list[1].info.stored_size, 4);
  const auto written = Expand("budget", "out");
  EXPECT_EQ(testing::ReadFile(written[1]), (Bytes{7, 7, 7, 0x94}));
  // The abandoned attempt leaves nothing behind: the archive ends with the stored bytes.
  EXPECT_EQ(fs::file_size(dir_ / "budget"), 21u + 25 + 5 + 3 + 25 + 6 + 4);
}

TEST_F(ArchiverTest, KeyChangesOnlyStoredBytesChecksumAndLockFlags) {
  Bytes data(4000, 'a');
  for (size_t i = 0; i < data.size(); i += 7) data[i] = static_cast<uint8_t>(i);
  Make("f", data);
  const int32_t key = 0x01020304;
  Add("plain", {"f"}, TCompressMethod::cmRLE);
  Add("locked", {"f"}, TCompressMethod::cmRLE, key);
  const Bytes p = testing::ReadFile(dir_ / "plain"), l = testing::ReadFile(dir_ / "locked");
  ASSERT_EQ(p.size(), l.size());
  for (size_t i = 0; i < 17; ++i) EXPECT_EQ(p[i], l[i]) << i;
  EXPECT_EQ(l[17], 2);
  const auto rp = DecodeRecord(std::span<const uint8_t, 25>(p.data() + 21, 25));
  const auto rl = DecodeRecord(std::span<const uint8_t, 25>(l.data() + 21, 25));
  EXPECT_EQ(rl.checksum, rp.checksum + key);
  EXPECT_EQ(rl.lock, 2);
  EXPECT_EQ(rp.lock, 0);
  EXPECT_EQ(rl.stored_size, rp.stored_size);
  EXPECT_EQ(Bytes(p.begin() + 21 + 2, p.begin() + 21 + 17),
            Bytes(l.begin() + 21 + 2, l.begin() + 21 + 17));
  EXPECT_NE(Bytes(p.begin() + 47, p.end()), Bytes(l.begin() + 47, l.end()));
  EXPECT_EQ(testing::ReadFile(Expand("locked", "right", key)[0]), data);
}

TEST_F(ArchiverTest, LockedEntryWithoutOrWithWrongKeyFailsAndLeavesNoFile) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "linha " + std::to_string(i * 7 % 13) + " do formulario\n";
  Make("secret", text);
  for (auto method : {TCompressMethod::cmRLE, TCompressMethod::cmLZH, TCompressMethod::cmLH5})
    for (int32_t key : {0, 4321, 1235}) {
      const std::string locked = "locked" + std::to_string(static_cast<int>(method));
      if (key == 0) Add(locked, {"secret"}, method, 1234);
      EXPECT_EQ(List(locked)[0].info.method, static_cast<uint8_t>(method));
      const std::string out = locked + "out" + std::to_string(key);
      try {
        Expand(locked, out, key);
        ADD_FAILURE() << "key " << key << " opened it";
      } catch (const EInvalidKey& e) {
        EXPECT_STREQ(e.what(), "File locked -- valid key required");
      }
      EXPECT_FALSE(fs::exists(dir_ / (out + "/secret"))) << key;
    }
  EXPECT_EQ(testing::ToString(testing::ReadFile(Expand("locked4", "right", 1234)[0])), text);
}

TEST_F(ArchiverTest, DecodersReadTheStoredDataInAnyChunking) {
  Bytes data;
  for (int i = 0; i < 20000; ++i)
    data.push_back(static_cast<uint8_t>("VornCom "[i % 8] + i / 4000));
  Make("f", data);
  for (auto method : {TCompressMethod::cmRLE, TCompressMethod::cmLZH, TCompressMethod::cmLH5}) {
    const std::string name = "c" + std::to_string(static_cast<int>(method));
    Add(name, {"f"}, method, 99);
    const Bytes archive = testing::ReadFile(dir_ / name);
    const auto rec = DecodeRecord(std::span<const uint8_t, 25>(archive.data() + 21, 25));
    ASSERT_EQ(rec.method, static_cast<uint8_t>(method));
    const Bytes stored(archive.begin() + 21 + 25 + 1, archive.end());
    for (size_t chunk : {size_t{1}, size_t{16}}) {
      testing::ChunkedBuf buf(stored, chunk);
      std::istream in(&buf);
      std::ostringstream out;
      TArchiver a;
      a.Key = 99;
      a.ExpandStream(out, in, rec.lock, "", method, rec.checksum, rec.size, rec.stored_size);
      EXPECT_EQ(out.str(), testing::ToString(data)) << name << " chunk " << chunk;
    }
  }
}

TEST_F(ArchiverTest, NegativeKeyLocksNothing) {
  Make("f", "free text");
  Add("neg", {"f"}, TCompressMethod::cmRLE, -5);
  const auto list = List("neg");
  EXPECT_FALSE(list[0].info.locked);
  EXPECT_EQ(list[0].info.checksum, 0x387);  // the plain byte sum
  EXPECT_EQ(testing::ToString(testing::ReadFile(Expand("neg", "out")[0])), "free text");
}

TEST_F(ArchiverTest, NamesAreWindows1252WithBackslashesInsideTheArchive) {
  fs::create_directories(dir_ / "sub");
  Make("sub/ação.txt", "conteúdo");
  EXPECT_EQ(Add("names", {"sub/ação.txt"}, TCompressMethod::cmNone),
            (std::vector<std::string>{"sub\\ação.txt"}));
  const Bytes b = testing::ReadFile(dir_ / "names");
  const auto rec = DecodeRecord(std::span<const uint8_t, 25>(b.data() + 21, 25));
  ASSERT_EQ(rec.name_length, 12);
  EXPECT_EQ(Bytes(b.begin() + 46, b.begin() + 58),
            (Bytes{'s', 'u', 'b', '\\', 'a', 0xE7, 0xE3, 'o', '.', 't', 'x', 't'}));
  EXPECT_EQ(Names("names"), (std::vector<std::string>{"sub\\ação.txt"}));
  EXPECT_EQ(testing::ToString(testing::ReadFile(Expand("names", "out")[0])), "conteúdo");
  EXPECT_TRUE(fs::exists(dir_ / "out/sub/ação.txt"));
}

TEST_F(ArchiverTest, AlteredDataFailsTheChecksumAndLeavesThePartialFile) {
  Make("f", std::string(100, 'x') + "end");
  Add("a", {"f"}, TCompressMethod::cmNone);
  Bytes b = testing::ReadFile(dir_ / "a");
  b.back() ^= 1;
  testing::WriteFile(dir_ / "a", b);
  try {
    Expand("a", "out");
    ADD_FAILURE();
  } catch (const EBadChecksum& e) {
    EXPECT_STREQ(e.what(), "Bad checksum during expansion -- data may be invalid");
  }
  EXPECT_EQ(fs::file_size(dir_ / "out/f"), 103u);
}

TEST_F(ArchiverTest, StoredEntryWithZeroChecksumIsAccepted) {
  Make("f", "abc");
  Add("a", {"f"}, TCompressMethod::cmNone);
  Bytes b = testing::ReadFile(dir_ / "a");
  std::fill(b.begin() + 21 + 17, b.begin() + 21 + 21, 0);
  testing::WriteFile(dir_ / "a", b);
  EXPECT_EQ(testing::ToString(testing::ReadFile(Expand("a", "out")[0])), "abc");
}

TEST_F(ArchiverTest, UpdatePutsNewEntriesFirstThenSurvivorsInTheirOrder) {
  for (const char* n : {"a", "b", "c", "d"}) Make(n, std::string("old ") + n);
  Add("pkg.vcp", {"a", "b", "c"}, TCompressMethod::cmRLE);
  fs::permissions(dir_ / "pkg.vcp", fs::perms(0640));
  Make("B", "new B");
  const auto stored = Add("pkg.vcp", {"B", "d"}, TCompressMethod::cmRLE);
  EXPECT_EQ(stored, (std::vector<std::string>{"B", "d"}));
  EXPECT_EQ(Names("pkg.vcp"), (std::vector<std::string>{"B", "d", "a", "c"}));
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{"B", "a", "b", "c", "d", "pkg.vcp"}));
  EXPECT_EQ(fs::status(dir_ / "pkg.vcp").permissions(), fs::perms(0640));
  const auto written = Expand("pkg.vcp", "out");
  ASSERT_EQ(written.size(), 4u);
  EXPECT_EQ(testing::ToString(testing::ReadFile(written[0])), "new B");
  EXPECT_EQ(testing::ToString(testing::ReadFile(written[3])), "old c");
}

TEST_F(ArchiverTest, FailedUpdateLeavesTheArchiveAsItWas) {
  Make("a", "a");
  // Not an archive: the merge refuses it after the new entries are written.
  Make("pkg.vcp", std::string(30, 'J'));
  const Bytes before = testing::ReadFile(dir_ / "pkg.vcp");
  EXPECT_THROW(Add("pkg.vcp", {"a"}, TCompressMethod::cmNone), EInvalidHeader);
  EXPECT_EQ(testing::ReadFile(dir_ / "pkg.vcp"), before);
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{"a", "pkg.vcp"}));
}

TEST_F(ArchiverTest, ListNamingTheOutputFileDropsIt) {
  Make("a", "a");
  EXPECT_EQ(Add("new.vcp", {"a", "NEW.vcp"}, TCompressMethod::cmNone),
            (std::vector<std::string>{"a"}));
  EXPECT_EQ(Add("new.vcp", {"new.$$$", "a"}, TCompressMethod::cmNone),
            (std::vector<std::string>{"a"}));
  EXPECT_EQ(Names("new.vcp"), (std::vector<std::string>{"a"}));
}

TEST_F(ArchiverTest, UnopenableFileIsSkippedOrRaisedAsAsked) {
  Make("a", "a");
  EXPECT_EQ(Add("x.vcp", {"missing", "a"}, TCompressMethod::cmNone),
            (std::vector<std::string>{"a"}));
  TArchiver strict;
  strict.ExceptionOnFileError = true;
  std::vector<std::string> files{dir_ / "missing"};
  EXPECT_THROW(strict.CompressFiles(dir_ / "y.vcp", files, TCompressMethod::cmNone),
               std::system_error);
  EXPECT_FALSE(fs::exists(dir_ / "y.vcp"));
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{"a", "x.vcp"}));
}

TEST_F(ArchiverTest, CheckFileStarEndsTheOperationEmptySkips) {
  std::vector<std::string> files;
  for (const char* n : {"1", "2", "3", "4", "5"}) files.push_back(Make(n, n));
  TArchiver a;
  a.SetTargetPath(dir_.str());
  int calls = 0;
  a.OnCheckFile = [&](std::string& name, TCProcessMode) {
    if (++calls == 3) name = "*";
  };
  a.CompressFiles(dir_ / "five", files, TCompressMethod::cmNone);
  EXPECT_EQ(files, (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(Names("five"), files);

  TArchiver b;
  b.SetTargetPath(dir_ / "out");
  b.MakeDirectories = true;
  b.OnCheckFile = [&](std::string& name, TCProcessMode mode) {
    EXPECT_EQ(mode, TCProcessMode::pmExpand);
    if (name.ends_with("/1")) name.clear();
  };
  std::ifstream in(dir_ / "five", std::ios::binary);
  std::vector<std::string> names{"1", "2"};
  b.ExpandFiles(in, &names);
  EXPECT_EQ(names, (std::vector<std::string>{dir_ / "out/2"}));
}

TEST_F(ArchiverTest, ExpandingNeverWritesOutsideTheTargetFolder) {
  const struct {
    std::string stored, written;  // written: under the target folder; "" when refused
  } cases[] = {
      {"../x", ""},        {"a/../../x", ""},   {"a\\..\\..\\x", ""},
      {"/abs/x", "abs/x"}, {"dir\\f", "dir/f"},
  };
  for (const auto& c : cases) {
    Bytes raw;
    ArchiveHeader h;
    h.total_size = 1;
    const auto hb = EncodeHeader(h);
    raw.insert(raw.end(), hb.begin(), hb.end());
    EntryRecord r;
    r.name_length = static_cast<int16_t>(c.stored.size());
    r.size = r.stored_size = 1;
    r.checksum = 'x';
    const auto rb = EncodeRecord(r);
    raw.insert(raw.end(), rb.begin(), rb.end());
    raw.insert(raw.end(), c.stored.begin(), c.stored.end());
    raw.push_back('x');
    testing::WriteFile(dir_ / "raw", raw);

    const std::string target = dir_ / "t/u";
    fs::remove_all(dir_ / "t");
    TArchiver a;
    a.SetTargetPath(target);
    a.MakeDirectories = true;
    std::ifstream in(dir_ / "raw", std::ios::binary);
    std::vector<std::string> names{c.stored};
    if (c.written.empty()) {
      EXPECT_THROW(a.ExpandFiles(in, &names), EInvalidHeader) << c.stored;
    } else {
      a.ExpandFiles(in, &names);
      EXPECT_EQ(names, (std::vector<std::string>{target + "/" + c.written})) << c.stored;
    }
    EXPECT_FALSE(fs::exists(dir_ / "x")) << c.stored;
    EXPECT_FALSE(fs::exists(dir_ / "t/x")) << c.stored;
    EXPECT_FALSE(fs::exists("/abs/x")) << c.stored;
  }
}

TEST_F(ArchiverTest, CustomMethodGoesThroughTheEvents) {
  Make("f", "hello");
  TArchiver a;
  a.SetTargetPath(dir_.str());
  a.OnCompress = [](std::ostream& dest, std::istream& source, std::string& id, int32_t& size,
                    int32_t& sum) {
    std::string s(std::istreambuf_iterator<char>(source), {});
    for (auto& c : s) c = static_cast<char>(c + 1);
    dest << s;
    size = static_cast<int32_t>(s.size());
    sum = 42;
    id = "ROT";
  };
  std::vector<std::string> files{dir_ / "f"};
  a.CompressFiles(dir_ / "c", files, TCompressMethod::cmCustom);
  const Bytes b = testing::ReadFile(dir_ / "c");
  EXPECT_EQ(testing::ToString(Bytes(b.begin() + 5, b.begin() + 8)), "ROT");
  EXPECT_EQ(testing::ToString(Bytes(b.end() - 5, b.end())), "ifmmp");

  TArchiver x;
  x.SetTargetPath(dir_ / "out");
  x.MakeDirectories = true;
  std::string seen_id;
  x.OnRecognize = [](const std::string& id, bool& ok) { ok = id == "ROT"; };
  x.OnExpand = [&](std::ostream& dest, std::istream& source, int32_t source_size, int32_t,
                   const std::string& id, int32_t& sum) {
    std::string s(static_cast<size_t>(source_size), '\0');
    source.read(s.data(), source_size);
    for (auto& c : s) c = static_cast<char>(c - 1);
    dest << s;
    seen_id = id;
    sum = 42;
  };
  std::ifstream in(dir_ / "c", std::ios::binary);
  x.ExpandFiles(in, nullptr);
  EXPECT_EQ(seen_id, "ROT");
  EXPECT_EQ(testing::ToString(testing::ReadFile(dir_ / "out/f")), "hello");
}

// Lowers the largest file this process may write, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lower = saved_;
    lower.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit saved_{};
  void (*old_handler_)(int) = nullptr;
};

TEST_F(ArchiverTest, WriteErrorsBecomeDiskSpaceErrorsAndKeepTheOldArchive) {
  Make("big", testing::RandomBytes(200000, 9));
  Make("small", "small");
  try {
    FileSizeLimit limit(100000);
    Add("new.vcp", {"big"}, TCompressMethod::cmLH5);
    ADD_FAILURE() << "no error";
  } catch (const EInsufficientDiskSpace& e) {
    EXPECT_STREQ(e.what(), "Disk protected or full during compression");
  }
  EXPECT_FALSE(fs::exists(dir_ / "new.vcp"));
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{"big", "small"}));

  Add("old.vcp", {"big"}, TCompressMethod::cmNone);
  const Bytes before = testing::ReadFile(dir_ / "old.vcp");
  try {
    FileSizeLimit limit(100000);
    Add("old.vcp", {"small"}, TCompressMethod::cmNone);
    ADD_FAILURE() << "no error";
  } catch (const EInsufficientDiskSpace& e) {
    EXPECT_STREQ(e.what(), "Disk full or write error during compression");
  }
  EXPECT_EQ(testing::ReadFile(dir_ / "old.vcp"), before);
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{"big", "old.vcp", "small"}));
}

// Another process's update of the same archive, half written, is not this update's file.
TEST_F(ArchiverTest, ConcurrentUpdatesNeverShareATemporaryFile) {
  Make("a", "a");
  Make("b", "b");
  Add("pkg.vcp", {"a"}, TCompressMethod::cmNone);
  const std::string others = Make("pkg.$$$", "another update, half written");
  Add("pkg.vcp", {"b"}, TCompressMethod::cmNone);
  EXPECT_EQ(Names("pkg.vcp"), (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(testing::ToString(testing::ReadFile(others)), "another update, half written");
  EXPECT_EQ(FolderNames(), (std::vector<std::string>{"a", "b", "pkg.$$$", "pkg.vcp"}));
}

// Bytes the disk did not take are a write error: the archive stays as it was.
TEST_F(ArchiverTest, AFailedFlushIsADiskErrorAndKeepsTheArchive) {
  Make("a", "a");
  Make("b", "b");
  for (const bool update : {false, true}) {
    if (update) Add("pkg.vcp", {"a"}, TCompressMethod::cmNone);
    const std::vector<std::string> before = FolderNames();
    const Bytes old_archive = update ? testing::ReadFile(dir_ / "pkg.vcp") : Bytes{};
    try {
      vorncom::testing::FsyncFailure failure(1, EIO);
      Add("pkg.vcp", {"b"}, TCompressMethod::cmNone);
      ADD_FAILURE() << "no error, update " << update;
    } catch (const EInsufficientDiskSpace& e) {
      EXPECT_STREQ(e.what(), update ? "Disk full or write error during compression"
                                    : "Disk protected or full during compression");
    }
    EXPECT_EQ(FolderNames(), before) << update;
    if (update) {
      EXPECT_EQ(testing::ReadFile(dir_ / "pkg.vcp"), old_archive);
    }
  }
}

TEST(DosDateTime, RoundTripsLocalTimesAndClampsBefore1980) {
  const std::time_t t = 1234567890;  // even second
  EXPECT_EQ(TimeFromDosDateTime(DosDateTimeFromTime(t)), t);
  const int32_t early = DosDateTimeFromTime(0);
  EXPECT_EQ(static_cast<uint32_t>(early), (1u << 5 | 1u) << 16);
  EXPECT_EQ(TimeFromDosDateTime(0), -1);
}

TEST(TemporaryName, ReplacesOnlyTheFileNamesExtension) {
  EXPECT_EQ(ChangeFileExt("/a/pkg.vcp", ".$$$"), "/a/pkg.$$$");
  EXPECT_EQ(ChangeFileExt("/a.b/pkg", ".$$$"), "/a.b/pkg.$$$");
  EXPECT_EQ(ChangeFileExt("pkg.tar.vcp", ".$$$"), "pkg.tar.$$$");
}

}  // namespace
}  // namespace vorncom::archive

#include "archive/archive_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "archive/archive_io.h"
#include "archive/archiver.h"
#include "archive/coder_state.h"
#include "archive/errors.h"
#include "test_support.h"

namespace vorncom::archive {
namespace {
using testing::Bytes;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

uint32_t Sum(const Bytes& data) {
  uint32_t sum = 0;
  for (uint8_t b : data) sum += b;
  return sum;
}

// The stored data of `data` under `method`, as the engine writes it.
Bytes Code(TCompressMethod method, const Bytes& data) {
  testing::ChunkedBuf buf(data, 8192);
  std::istream in(&buf);
  std::ostringstream out;
  TCoderState state;
  TCoderState::Run run;
  run.method = method;
  run.input_size = static_cast<int64_t>(data.size());
  uint32_t sum = 0;
  state.Process(out, in, run, sum);
  const std::string s = out.str();
  return Bytes(s.begin(), s.end());
}

Bytes Header(const std::string& id, int32_t total) {
  ArchiveHeader h;
  h.method_id = id;
  h.total_size = total;
  const auto a = EncodeHeader(h);
  return Bytes(a.begin(), a.end());
}

Bytes Entry(const std::string& name, TCompressMethod method, const Bytes& stored, int32_t size,
            uint32_t checksum) {
  EntryRecord r;
  r.name_length = static_cast<int16_t>(name.size());
  r.size = size;
  r.stored_size = static_cast<int32_t>(stored.size());
  r.method = static_cast<uint8_t>(method);
  r.checksum = static_cast<int32_t>(checksum);
  const auto a = EncodeRecord(r);
  return Bytes(a.begin(), a.end()) + Bytes(name.begin(), name.end()) + stored;
}

// A sound entry: its data coded with `method`.
Bytes Sound(const std::string& name, TCompressMethod method, const Bytes& data) {
  return Entry(name, method, Code(method, data), static_cast<int32_t>(data.size()), Sum(data));
}

ArchiveCheck Check(const Bytes& archive, const ArchiveCheckOptions& options = {}) {
  std::istringstream in(testing::ToString(archive));
  return CheckArchive(in, options);
}

const Bytes kConfig = [] {
  std::string text = "[Documento]\r\n";
  for (int i = 0; i < 20; ++i) text += "Campo" + std::to_string(i) + "=valor valor valor\r\n";
  return Bytes(text.begin(), text.end());
}();

TEST(ArchiveCheck, BombIsRefusedFromItsRecordsBeforeAnythingIsExpanded) {
  // 1 GiB of zeros claimed by a few hundred bytes: an LH5 block of 65536 matches of 256 bytes
  // is what a bomb looks like; here the claim alone must do.
  const int32_t gib = int32_t{1} << 30;
  const Bytes archive = Header("LH5", gib) + Sound("header.cfg", TCompressMethod::cmLH5, kConfig) +
                        Entry("zeros.bin", TCompressMethod::cmLH5, Bytes(400, 0), gib, 0);
  ASSERT_LT(archive.size(), 600u);

  const testing::TempDir dir;
  int expanded = 0;
  ArchiveCheckOptions options;
  options.max_expanded_bytes = 50 << 20;
  options.capture = "header.cfg";
  options.on_entry = [&](const std::string&) { ++expanded; };
  options.progress = [&](int&) { ++expanded; };
  try {
    Check(archive, options);
    ADD_FAILURE() << "a claim of 1 GiB passed a limit of 50 MiB";
  } catch (const EExpansionLimit& e) {
    EXPECT_NE(std::string(e.what()).find(std::to_string(gib + kConfig.size())), std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find(std::to_string(50 << 20)), std::string::npos) << e.what();
  }
  EXPECT_EQ(expanded, 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.str()));
}

TEST(ArchiveCheck, CapturesOneEntryInMemoryWithinItsBound) {
  const Bytes data = testing::RandomBytes(3000, 4);
  const Bytes archive = Header("LH5", 0) + Sound("dados.bin", TCompressMethod::cmNone, data) +
                        Sound("header.cfg", TCompressMethod::cmLH5, kConfig);
  ArchiveCheckOptions options;
  options.capture = "header.cfg";
  ArchiveCheck check = Check(archive, options);
  EXPECT_TRUE(check.sound()) << check.Problem();
  EXPECT_EQ(check.entries, 2);
  ASSERT_TRUE(check.captured);
  EXPECT_EQ(*check.captured, testing::ToString(kConfig));

  options.capture = "Header.cfg";  // names match exactly
  EXPECT_FALSE(Check(archive, options).captured);

  options.capture = "dados.bin";
  options.capture_limit = 2999;
  EXPECT_THROW(Check(archive, options), EExpansionLimit);
  options.capture_limit = 3000;
  EXPECT_EQ(Check(archive, options).captured, testing::ToString(data));
}

// Counts what is written and keeps nothing.
class CountingBuf : public std::streambuf {
 public:
  int64_t count = 0;

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    count += n;
    return n;
  }
  int_type overflow(int_type c) override {
    ++count;
    return traits_type::not_eof(c);
  }
};

// A record whose size is not what its data expands to fails like a bad checksum in every
// method, writes no more than the record says, and stops at once when the data runs out.
TEST(EntrySize, DataThatDoesNotExpandToTheRecordedSizeFailsInEveryMethod) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "linha " + std::to_string(i % 23) + " do formulario\n";
  Bytes data(text.begin(), text.end());
  data.insert(data.end(), 300, 'z');  // ends on a long match in the LZ methods
  const auto size = static_cast<int32_t>(data.size());
  const int32_t huge = 100 << 20;
  struct Lie {
    const char* what;
    bool empty_data;
    int32_t size;
  } lies[] = {
      {"exact", false, size},
      {"one byte less", false, size - 1},
      {"one byte more", false, size + 1},
      {"twice", false, 2 * size},
      {"none at all", false, 0},
      {"no stored bytes, 100 MiB", true, huge},
  };
  for (TCompressMethod method : {TCompressMethod::cmNone, TCompressMethod::cmRLE,
                                 TCompressMethod::cmLZH, TCompressMethod::cmLH5}) {
    const Bytes stored = Code(method, data);
    for (const Lie& lie : lies) {
      for (int32_t key : {0, 77}) {
        SCOPED_TRACE(std::string(lie.what) + ", method " + std::to_string(int(method)) + ", key " +
                     std::to_string(key));
        Bytes in_archive = lie.empty_data ? Bytes() : stored;
        if (key != 0)  // the lock: XOR with the key's bytes (77, 0, 0, 0)
          for (size_t i = 0; i < in_archive.size(); i += 4) in_archive[i] ^= 77;
        std::istringstream in(testing::ToString(in_archive));
        CountingBuf sink;
        std::ostream out(&sink);
        TArchiver archiver;
        archiver.Key = key;
        const uint32_t checksum = (lie.empty_data ? 0 : Sum(data)) + static_cast<uint32_t>(key);
        auto expand = [&] {
          archiver.ExpandStream(out, in, key ? kLocked : 0, "LH5", method,
                                static_cast<int32_t>(checksum), lie.size,
                                static_cast<int32_t>(in_archive.size()));
        };
        if (lie.size == size && !lie.empty_data) {
          EXPECT_NO_THROW(expand());
          EXPECT_EQ(sink.count, size);
        } else if (key == 0) {
          EXPECT_THROW(expand(), EBadChecksum);
        } else {
          EXPECT_THROW(expand(), EInvalidKey);
        }
        EXPECT_LE(sink.count, lie.size);
        EXPECT_LT(sink.count, 1 << 20);
      }
    }
  }
}

// What the readers pass over quietly, a check reports.
TEST(ArchiveCheck, ReportsEveryKindOfDamage) {
  const Bytes data(500, 'q');
  const Bytes one = Header("LH5", 500) + Sound("q.txt", TCompressMethod::cmRLE, data);
  const Bytes record_only = Bytes(one.begin(), one.begin() + 21 + 25);
  struct Case {
    const char* what;
    Bytes archive;
    int64_t failed;
    int64_t tail;
  } cases[] = {
      {"sound", one, 0, 0},
      {"header alone", Header("LH5", 0), 0, 0},
      {"shorter than a header", Bytes(one.begin(), one.begin() + 20), 0, 0},
      {"cut right after the record", record_only, 0, 25},
      {"cut inside the name", Bytes(one.begin(), one.begin() + 21 + 25 + 3), 0, 28},
      {"remnant after the last entry", one + Bytes(7, 1), 0, 7},
      {"second entry cut after its record",
       one + Bytes(record_only.begin() + 21, record_only.end()), 0, 25},
      {"data cut short", Bytes(one.begin(), one.end() - 1), 1, 0},
      {"bad checksum", Header("LH5", 500) + Entry("q.txt", TCompressMethod::cmNone, data, 500, 1),
       1, 0},
  };
  for (const Case& c : cases) {
    const ArchiveCheck check = Check(c.archive);
    EXPECT_EQ(check.failed, c.failed) << c.what;
    EXPECT_EQ(check.incomplete_tail, c.tail) << c.what;
    EXPECT_EQ(check.sound(), c.failed == 0 && c.tail == 0) << c.what;
    EXPECT_EQ(check.Problem().empty(), check.sound()) << c.what << ": " << check.Problem();
  }
}

}  // namespace
}  // namespace vorncom::archive

#include <gtest/gtest.h>

#include <random>

#include "archive/bits/bit_writer.h"
#include "archive/coder_errors.h"
#include "archive/coders.h"
#include "archive/lh5/lh5_encoder.h"
#include "coder_harness.h"

namespace vorncom::archive {
namespace {

using testing::Bytes;
using testing::MakeData;
using testing::RunCoder;

Bytes Encode(const Bytes& data) {
  return RunCoder(data, [](ByteLayer& io) { EncodeLh5(io); });
}

Bytes Decode(const Bytes& packed, int64_t count, size_t chunk = 1 << 20) {
  return RunCoder(
      packed, [count](ByteLayer& io) { DecodeLh5(io, count); }, chunk);
}

struct RoundTrip {
  const char* name;
  const char* kind;
  size_t size;
};

class Lh5RoundTripTest : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(Lh5RoundTripTest, DecodesBackInAnyChunking) {
  const Bytes data = MakeData(GetParam().kind, GetParam().size);
  const Bytes packed = Encode(data);
  for (size_t chunk : {size_t{1}, size_t{16}, size_t{1} << 20}) {
    EXPECT_EQ(Decode(packed, static_cast<int64_t>(data.size()), chunk), data) << chunk;
  }
  if (std::string(GetParam().kind) != "random") {
    EXPECT_LT(packed.size(), data.size() / 2 + 16);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Lh5RoundTripTest,
    ::testing::Values(RoundTrip{"one_byte", "random", 1}, RoundTrip{"two_bytes", "text", 2},
                      RoundTrip{"short_text", "text", 300}, RoundTrip{"runs", "runs", 20000},
                      RoundTrip{"random", "random", 30000},
                      // Past the first slide of the window (7936 bytes) and several more.
                      RoundTrip{"text_windows", "text", 70000},
                      // Past one 16 KiB block buffer many times over.
                      RoundTrip{"binary_blocks", "binary", 400000},
                      RoundTrip{"long_runs", "runs", 300000},
                      // All literals: blocks end at their 65535-item limit, not by cost.
                      RoundTrip{"random_past_the_block_limit", "random", 200000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Lh5Test, EmptyInputEncodesToNothingAndZeroCountReadsNothing) {
  EXPECT_TRUE(Encode({}).empty());
  EXPECT_TRUE(Decode(Bytes{1, 2, 3}, 0).empty());
}

TEST(Lh5Test, HundredEqualBytesAreOneLiteralAndOneMatchInOneBlock) {
  const Bytes data(100, 'x');
  const Bytes packed = Encode(data);
  ASSERT_GE(packed.size(), 2u);
  EXPECT_EQ((packed[0] << 8) | packed[1], 2);  // the block's count of codes
  EXPECT_LT(packed.size(), 12u);
  EXPECT_EQ(Decode(packed, 100), data);
}

// The exhaustive encoder's chain finder searches only where the parse needs a match; the trie
// searches everywhere.
// Any difference in the longest match or in the choice among equally long ones changes the
// stream, so equal streams over inputs that stress both (long chains of equal prefixes, runs
// that end, matches at the window's far edge, several slides) show the finders agree.
TEST(Lh5Test, ChainFinderCodesExactlyAsTheTrie) {
  std::mt19937 rng(21);
  std::vector<Bytes> inputs;
  for (const char* kind : {"text", "runs", "binary", "random"})
    for (unsigned seed = 1; seed <= 2; ++seed) inputs.push_back(MakeData(kind, 150000, seed));
  Bytes small_alphabet(120000);  // many candidates of every length on each chain
  for (auto& b : small_alphabet) b = static_cast<uint8_t>('a' + rng() % 3);
  inputs.push_back(small_alphabet);
  Bytes far_repeats;  // blocks repeated from just inside and just outside the window
  Bytes block(300);
  for (auto& b : block) b = static_cast<uint8_t>(rng());
  for (unsigned gap : {8191 - 300, 8192 - 300, 8193 - 300, 100}) {
    far_repeats.insert(far_repeats.end(), block.begin(), block.end());
    for (unsigned i = 0; i < gap; ++i) far_repeats.push_back(static_cast<uint8_t>(rng()));
    far_repeats.insert(far_repeats.end(), block.begin(), block.end());
  }
  inputs.push_back(far_repeats);
  // Text that starts with spaces: the spaces ahead of the input in the window match it, but no
  // string starts there, so a match never reaches back into them.
  const std::string seed = "  *    *   ";
  std::string spaced;
  for (size_t i = 0; i < 187; ++i) spaced += seed.substr(i % seed.size());
  inputs.emplace_back(spaced.begin(), spaced.end());

  for (size_t i = 0; i < inputs.size(); ++i) {
    const Bytes by_trie = RunCoder(inputs[i], [](ByteLayer& io) { lh5::EncodeLh5WithTrie(io); });
    const Bytes by_chain = RunCoder(inputs[i], [](ByteLayer& io) { lh5::EncodeLh5Exhaustive(io); });
    ASSERT_EQ(by_chain, by_trie) << "input " << i;
    EXPECT_EQ(Decode(by_trie, static_cast<int64_t>(inputs[i].size())), inputs[i]) << i;
  }
}

TEST(Lh5Test, OverlongStoredDataStopsAtTheCount) {
  const Bytes data = MakeData("text", 5000);
  Bytes packed = Encode(data);
  packed.insert(packed.end(), 64, 0xA5);
  EXPECT_EQ(Decode(packed, 5000), data);

  const Bytes prefix = Decode(packed, 1000);
  ASSERT_GE(prefix.size(), 1000u);
  EXPECT_LE(prefix.size(), 1000u + 255);  // a final match is copied whole
  EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), data.begin()));
}

// Zero bits past the end would decode to the full count (an empty stream to zeros without end).
TEST(Lh5Test, StoredDataThatRunsOutFailsAtOnce) {
  const Bytes data = MakeData("text", 80000, 5);
  const Bytes packed = Encode(data);
  for (size_t keep : {size_t{0}, size_t{1}, size_t{2}, packed.size() / 2, packed.size() - 1}) {
    const Bytes cut(packed.begin(), packed.begin() + static_cast<ptrdiff_t>(keep));
    EXPECT_THROW(Decode(cut, int64_t{1} << 20), ESizeMismatch) << keep;
  }
  EXPECT_EQ(Decode(packed, 80000), data);
}

TEST(Lh5Test, IncompressibleDataExceedsTheBudget) {
  const Bytes data = MakeData("random", 4096);
  EXPECT_THROW(RunCoder(
                   data, [](ByteLayer& io) { EncodeLh5(io); }, 1 << 20, 4096),
               EUnableToCompress);
}

TEST(LzDecoderTest, CancelledRunStopsBeforeTheCount) {
  const Bytes data = MakeData("random", 40000);
  const int64_t count = int64_t{1} << 36;  // far more than a run could decode in time
  for (auto decode : {DecodeLh5, DecodeLzh}) {
    testing::ChunkedBuf buf(data, 1 << 20);
    std::istream in(&buf);
    std::ostringstream out;
    ByteLayer::Options options;
    options.input_size = static_cast<int64_t>(data.size());
    options.progress = [](int& percent) { percent = -1; };
    ByteLayer io(in, out, options);
    decode(io, count);
    EXPECT_TRUE(io.cancelled());
    EXPECT_LT(io.bytes_written(), int64_t{1} << 24);
  }
}

struct VectorSink {
  Bytes bytes;
  void WriteByte(uint8_t b) { bytes.push_back(b); }
};

// Hand-made block headers, each with one table that does not fill its code space.
Bytes BadBlock(int which) {
  VectorSink sink;
  BitWriter<VectorSink> out(sink);
  out.Put(16, 1);
  if (which == 0) {
    out.Put(5, 3);  // code-length code: lengths 1, 1, 1 overfill
    for (int i = 0; i < 3; ++i) out.Put(3, 1);
    out.Put(2, 0);
  } else {
    out.Put(5, 4);  // code-length code: four codes of 2 bits (00 01 10 11 -> t0..t3)
    for (int i = 0; i < 3; ++i) out.Put(3, 2);
    out.Put(2, 0);
    out.Put(3, 2);
    if (which == 1) {
      out.Put(9, 1);  // a single length-1 character code: half the space unused
      out.Put(2, 3);
    } else {
      out.Put(9, 2);  // two length-1 character codes
      out.Put(2, 3);
      out.Put(2, 3);
      out.Put(4, 2);  // position lengths 1 and 2: a quarter unused
      out.Put(3, 1);
      out.Put(3, 2);
    }
  }
  out.Put(32, 0);
  out.Finish();
  return sink.bytes;
}

TEST(Lh5Test, CorruptTablesAreRejected) {
  for (int which = 0; which < 3; ++which) {
    EXPECT_THROW(Decode(BadBlock(which), 10), ELZHBadDecodeTable) << which;
  }
  // More code-length codes than exist.
  Bytes too_many = {0x00, 0x01, 0xA0, 0, 0, 0, 0, 0};  // count 1, then n = 20
  EXPECT_THROW(Decode(too_many, 10), ELZHBadDecodeTable);
}

TEST(Lh5Test, CorruptingAValidStreamNeverCrashes) {
  const Bytes data = MakeData("binary", 20000, 9);
  const Bytes packed = Encode(data);
  int rejected = 0;
  for (size_t at = 2; at < 40 && at < packed.size(); ++at) {
    Bytes broken = packed;
    broken[at] ^= 0x24;
    try {
      Decode(broken, 20000);
    } catch (const ELZHBadDecodeTable& e) {
      EXPECT_STREQ(e.what(), "Bad decode table in archive!");
      ++rejected;
    }
  }
  EXPECT_GT(rejected, 0);  // flips inside the tables are caught
}

}  // namespace
}  // namespace vorncom::archive

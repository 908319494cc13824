#include <gtest/gtest.h>

#include "archive/coder_errors.h"
#include "archive/coders.h"
#include "archive/lzh/adaptive_huffman.h"
#include "coder_harness.h"

namespace vorncom::archive {
namespace {

using testing::Bytes;
using testing::MakeData;
using testing::RunCoder;

Bytes Encode(const Bytes& data) {
  return RunCoder(data, [](ByteLayer& io) { EncodeLzh(io); });
}

Bytes Decode(const Bytes& packed, int64_t count, size_t chunk = 1 << 20) {
  return RunCoder(
      packed, [count](ByteLayer& io) { DecodeLzh(io, count); }, chunk);
}

struct RoundTrip {
  const char* name;
  const char* kind;
  size_t size;
};

class LzhRoundTripTest : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(LzhRoundTripTest, DecodesBackInAnyChunking) {
  const Bytes data = MakeData(GetParam().kind, GetParam().size);
  const Bytes packed = Encode(data);
  for (size_t chunk : {size_t{1}, size_t{16}, size_t{1} << 20}) {
    EXPECT_EQ(Decode(packed, static_cast<int64_t>(data.size()), chunk), data) << chunk;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, LzhRoundTripTest,
    ::testing::Values(RoundTrip{"one_byte", "random", 1}, RoundTrip{"short_text", "text", 59},
                      RoundTrip{"runs", "runs", 20000}, RoundTrip{"random", "random", 20000},
                      // Several turns of the 4 KiB ring, with the tree's deletions.
                      RoundTrip{"text_windows", "text", 60000},
                      // Enough symbols for the Huffman tree to be rebuilt at 0x8000 many times.
                      RoundTrip{"binary_rebuilds", "binary", 300000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LzhTest, EmptyInputEncodesToNothing) {
  EXPECT_TRUE(Encode({}).empty());
  EXPECT_TRUE(Decode(Bytes{1, 2, 3}, 0).empty());
}

TEST(LzhTest, SpacesMatchTheInitialRing) {
  // The ring starts as spaces, so 60 spaces are a single match: one symbol and 12 bits.
  const Bytes packed = Encode(Bytes(60, ' '));
  EXPECT_LE(packed.size(), 4u);
  EXPECT_EQ(Decode(packed, 60), Bytes(60, ' '));
}

TEST(LzhTest, OverlongAndTruncatedStoredData) {
  const Bytes data = MakeData("text", 6000, 3);
  Bytes packed = Encode(data);
  Bytes longer = packed;
  longer.insert(longer.end(), 32, 0x5A);
  EXPECT_EQ(Decode(longer, 6000), data);

  // Zero bits past the end would decode to the full count; running out fails at once.
  for (size_t keep : {size_t{0}, size_t{3}, packed.size() / 2, packed.size() - 1}) {
    const Bytes cut(packed.begin(), packed.begin() + static_cast<ptrdiff_t>(keep));
    EXPECT_THROW(Decode(cut, int64_t{1} << 20), ESizeMismatch) << keep;
  }
}

TEST(AdaptiveHuffmanTest, CodesLongerThanSixteenBitsRoundTrip) {
  // Every count starts at 1. Twelve symbols are raised to the Fibonacci numbers 1, 1, 2, ...,
  // 144 and all others to 100: the rarest sit ten levels below a node of weight ~200, which is
  // itself eight levels down. Then the rarest is sent again.
  std::vector<unsigned> symbols;
  for (unsigned s = 12; s < lzh::kSymbols; ++s) symbols.insert(symbols.end(), 99, s);
  uint32_t a = 1, b = 1;
  for (unsigned s = 0; s < 12; ++s) {
    symbols.insert(symbols.end(), a - 1, s);
    const uint32_t c = a + b;
    a = b;
    b = c;
  }
  symbols.push_back(0);
  symbols.push_back(1);

  lzh::AdaptiveHuffman encoder;
  std::vector<uint8_t> bits;
  unsigned longest = 0;
  for (unsigned s : symbols) {
    encoder.Encode(s, [&](const std::array<uint64_t, 10>& words, unsigned length) {
      longest = std::max(longest, length);
      for (unsigned i = length; i-- > 0;) bits.push_back((words[i >> 6] >> (i & 63)) & 1);
    });
  }
  EXPECT_GT(longest, 16u);

  lzh::AdaptiveHuffman decoder;
  size_t at = 0;
  for (unsigned s : symbols) {
    ASSERT_EQ(decoder.Decode([&]() -> unsigned { return bits.at(at++); }), s);
  }
  EXPECT_EQ(at, bits.size());
}

}  // namespace
}  // namespace vorncom::archive

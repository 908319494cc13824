#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "archive/bits/bit_reader.h"
#include "archive/bits/bit_writer.h"
#include "archive/bits/ring_window.h"

namespace vorncom::archive {
namespace {

struct VectorSink {
  std::vector<uint8_t> bytes;
  void WriteByte(uint8_t b) { bytes.push_back(b); }
};

struct VectorSource {
  const std::vector<uint8_t>& bytes;
  size_t pos = 0;
  uint8_t ReadByte() { return pos < bytes.size() ? bytes[pos++] : 0; }
};

TEST(BitIoTest, WritesMostSignificantBitFirstAndPadsWithZeros) {
  VectorSink sink;
  BitWriter<VectorSink> out(sink);
  out.Put(3, 0b101);
  out.Put(7, 0b1100110);
  out.Put(1, 1);
  out.Finish();
  EXPECT_EQ(sink.bytes, (std::vector<uint8_t>{0b10111001, 0b10100000}));
}

TEST(BitIoTest, FinishOnByteBoundaryAddsNothing) {
  VectorSink sink;
  BitWriter<VectorSink> out(sink);
  out.Put(16, 0xBEEF);
  out.Finish();
  out.Finish();
  EXPECT_EQ(sink.bytes, (std::vector<uint8_t>{0xBE, 0xEF}));
}

TEST(BitIoTest, RandomFieldWidthsRoundTrip) {
  std::mt19937 rng(7);
  std::vector<std::pair<unsigned, uint32_t>> fields;
  VectorSink sink;
  BitWriter<VectorSink> out(sink);
  for (int i = 0; i < 5000; ++i) {
    const unsigned width = rng() % 33;
    const uint32_t value = width == 32 ? rng() : rng() & ((1u << width) - 1);
    fields.emplace_back(width, value);
    out.Put(width, value);
  }
  out.Finish();

  VectorSource source{sink.bytes};
  BitReader<VectorSource> in(source);
  for (const auto& [width, value] : fields) {
    if (width > 0) {
      ASSERT_EQ(in.Peek(width), value);
    }
    ASSERT_EQ(in.Read(width), value);
  }
}

TEST(BitIoTest, ReadsZeroBitsPastTheEnd) {
  const std::vector<uint8_t> data = {0xFF};
  VectorSource source{data};
  BitReader<VectorSource> in(source);
  EXPECT_EQ(in.Read(4), 0xFu);
  EXPECT_EQ(in.Read(8), 0xF0u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(in.Read(32), 0u);
}

TEST(RingWindowTest, OverlappingCopyRepeatsAndWraps) {
  RingWindow<3> window;  // 8 bytes
  window.Fill('.');
  window.SetPosition(6);
  VectorSink sink;
  window.PutLiteral('a', sink);
  window.PutLiteral('b', sink);
  // Distance 2, length 5: "ababa", written across the wrap from position 0.
  window.CopyMatch(window.position() - 2, 5, sink);
  EXPECT_EQ(std::string(sink.bytes.begin(), sink.bytes.end()), "abababa");
  EXPECT_EQ(window.position(), 5u);
  // Distance 8 reads the byte about to be overwritten: the oldest one.
  window.CopyMatch(window.position() - 8, 1, sink);
  EXPECT_EQ(sink.bytes.back(), '.');
}

}  // namespace
}  // namespace vorncom::archive

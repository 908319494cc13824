#include <gtest/gtest.h>

#include "coder_harness.h"

namespace vorncom::archive {
namespace {

using testing::Bytes;
using testing::ChunkedBuf;
using testing::MakeData;

struct Reading {
  Bytes bytes;
  uint32_t sum = 0;
  bool at_end = false;
};

// Reads all of `data` through a layer with the key lock on reads, taking `step` bytes at a time
// in bulk (0: one ReadByte at a time), then one more byte past the end.
Reading ReadAll(const Bytes& data, size_t step) {
  ChunkedBuf buf(data, 1000);
  std::istream in(&buf);
  std::ostringstream out;
  ByteLayer::Options options;
  options.input_size = static_cast<int64_t>(data.size());
  options.key = 0xA1B2C3D4;
  options.xor_on_read = true;
  ByteLayer io(in, out, options);
  Reading r;
  for (;;) {
    if (step == 0) {
      const uint8_t b = io.ReadByte();
      if (io.AtEnd()) break;
      r.bytes.push_back(b);
    } else {
      // Odd steps keep the key index out of step with the buffer edges.
      Bytes part(step);
      part.resize(io.ReadBytes(part.data(), step));
      r.bytes.insert(r.bytes.end(), part.begin(), part.end());
      if (part.size() < step) break;
    }
  }
  EXPECT_EQ(io.ReadByte(), 0);
  r.sum = io.read_sum();
  r.at_end = io.AtEnd();
  return r;
}

TEST(ByteLayerTest, BulkReadsEqualByteReadsAcrossBufferEdges) {
  // All 0xFF bytes give the largest partial sums.
  for (const Bytes& data : {MakeData("random", 3 * ByteLayer::kBufferSize + 77),
                            Bytes(2 * ByteLayer::kBufferSize + 5, 0xFF)}) {
    const Reading one = ReadAll(data, 0);
    ASSERT_EQ(one.bytes.size(), data.size());
    EXPECT_NE(one.bytes, data);  // the key lock applied
    uint32_t plain_sum = 0;
    for (uint8_t b : data) plain_sum += b;
    EXPECT_EQ(one.sum, plain_sum);  // the sum of the bytes as stored
    for (size_t step : {size_t{1}, size_t{7}, size_t{8192}, size_t{100000}}) {
      const Reading bulk = ReadAll(data, step);
      EXPECT_EQ(bulk.bytes, one.bytes) << step;
      EXPECT_EQ(bulk.sum, one.sum) << step;
      EXPECT_TRUE(bulk.at_end) << step;
    }
  }
}

TEST(ByteLayerTest, BulkWritesKeepTheSumOfByteWrites) {
  for (const Bytes& data : {MakeData("random", 20000), Bytes(20000, 0xFF), Bytes(13, 0x80)}) {
    uint32_t expected = 0;
    for (uint8_t b : data) expected += b;
    std::istringstream in;
    std::ostringstream out;
    ByteLayer io(in, out, {});
    io.WriteBytes(data.data(), data.size());
    io.Flush();
    EXPECT_EQ(io.write_sum(), expected);
    EXPECT_EQ(out.str(), std::string(data.begin(), data.end()));
  }
}

}  // namespace
}  // namespace vorncom::archive

#include <gtest/gtest.h>

#include <random>

#include "archive/coders.h"
#include "coder_harness.h"

namespace vorncom::archive {
namespace {

using testing::Bytes;
using testing::RunCoder;

TEST(Lh5Smoke, RoundTrip) {
  std::mt19937 rng(1);
  for (size_t size : {1u, 2u, 100u, 5000u, 100000u, 300000u}) {
    Bytes data(size);
    for (auto& b : data) b = "abcd efgh"[rng() % 9];
    Bytes packed = RunCoder(data, [](ByteLayer& io) { EncodeLh5(io); });
    Bytes back = RunCoder(packed, [&](ByteLayer& io) { DecodeLh5(io, size); });
    back.resize(size);
    EXPECT_EQ(back, data) << size;
  }
}

}  // namespace
}  // namespace vorncom::archive

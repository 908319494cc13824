#include <gtest/gtest.h>

#include <sstream>

#include "archive/coder_state.h"
#include "archive/errors.h"
#include "test_support.h"

namespace vorncom::archive {
namespace {
using testing::Bytes;

struct Coded {
  Bytes out;
  uint32_t checksum = 0;
};

Coded Code(TCompressMethod method, bool expand, const Bytes& input, size_t chunk = 8192,
           int32_t key = 0, bool locked = false) {
  testing::ChunkedBuf buf(input, chunk);
  std::istream in(&buf);
  std::ostringstream out;
  TCoderState state;
  TCoderState::Run run;
  run.method = method;
  run.expand = expand;
  run.input_size = static_cast<int64_t>(input.size());
  run.count = expand ? INT32_MAX : 0;  // a bound only: the cases compare the output itself
  run.key = key;
  run.locked = locked;
  Coded c;
  const int64_t written = state.Process(out, in, run, c.checksum);
  const std::string s = out.str();
  c.out.assign(s.begin(), s.end());
  EXPECT_EQ(written, static_cast<int64_t>(c.out.size()));
  return c;
}

Bytes Repeat(uint8_t b, size_t n) { return Bytes(n, b); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct RleCase {
  const char* what;
  Bytes plain;
  Bytes stored;
};

class RleExamples : public ::testing::TestWithParam<RleCase> {};

TEST_P(RleExamples, EncodesToTheStoredBytesAndBack) {
  const auto& c = GetParam();
  // The budget is the input size, so only cases that do not grow can be encoded.
  if (c.stored.size() <= c.plain.size()) {
    EXPECT_EQ(Code(TCompressMethod::cmRLE, false, c.plain).out, c.stored);
  }
  for (size_t chunk : {size_t{1}, size_t{16}, size_t{8192}}) {
    const Coded back = Code(TCompressMethod::cmRLE, true, c.stored, chunk);
    EXPECT_EQ(back.out, c.plain) << "chunk " << chunk;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RleExamples,
    ::testing::Values(RleCase{"four equal", {0x41, 0x41, 0x41, 0x41}, {0x41, 0x94, 0x04}},
                      RleCase{"two equal stay plain", {0x41, 0x41}, {0x41, 0x41}},
                      RleCase{"three equal", {7, 7, 7}, {7, 0x94, 3}},
                      RleCase{"marker escaped", {0x94}, {0x94, 0x00}},
                      RleCase{"markers never run", {0x94, 0x94, 0x94}, {0x94, 0, 0x94, 0, 0x94, 0}},
                      RleCase{"run of 300", Repeat(0x41, 300), {0x41, 0x94, 0xFF, 0x41, 0x94, 45}},
                      RleCase{"run of 256 ends on a literal", Repeat(9, 256), {9, 0x94, 0xFF, 9}},
                      RleCase{"zeros at the start are literals", {0, 0, 0, 0}, {0, 0x94, 4}},
                      RleCase{"run then marker", {5, 5, 5, 0x94}, {5, 0x94, 3, 0x94, 0}},
                      RleCase{"empty", {}, {}}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (auto& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(RleCoder, RoundTripsMixedData) {
  Bytes data = Concat({testing::RandomBytes(5000, 1), Repeat(0x94, 40), Repeat(3, 1000),
                       testing::RandomBytes(300, 2), Repeat(0, 70000)});
  const Coded packed = Code(TCompressMethod::cmRLE, false, data);
  EXPECT_LT(packed.out.size(), data.size());
  uint32_t sum = 0;
  for (uint8_t b : data) sum += b;
  EXPECT_EQ(packed.checksum, sum);
  for (size_t chunk : {size_t{1}, size_t{16}}) {
    const Coded back = Code(TCompressMethod::cmRLE, true, packed.out, chunk);
    EXPECT_EQ(back.out, data);
    EXPECT_EQ(back.checksum, sum);
  }
}

TEST(RleCoder, OutputLongerThanInputIsRefused) {
  // 3 bytes in, 5 out: the budget stops the coder.
  EXPECT_THROW(Code(TCompressMethod::cmRLE, false, {5, 5, 5, 0x94}), EUnableToCompress);
  try {
    Code(TCompressMethod::cmRLE, false, {0x94});
  } catch (const EUnableToCompress& e) {
    EXPECT_STREQ(e.what(), "Could not compress data, will store instead");
  }
}

TEST(Engine, KeyXorsStoredBytesCyclingFromTheFirstByte) {
  const Bytes data = {1, 2, 3, 4, 5, 6};
  const int32_t key = 0x04030201 + 0x10;  // bytes 0x11, 0x02, 0x03, 0x04
  const Coded locked = Code(TCompressMethod::cmNone, false, data, 8192, key);
  EXPECT_EQ(locked.out, (Bytes{1 ^ 0x11, 2 ^ 2, 3 ^ 3, 4 ^ 4, 5 ^ 0x11, 6 ^ 2}));
  EXPECT_EQ(locked.checksum, 21u);  // the plain sum; the archiver adds the key
  const Coded back = Code(TCompressMethod::cmNone, true, locked.out, 1, key, true);
  EXPECT_EQ(back.out, data);
  EXPECT_EQ(back.checksum, 21u);
}

TEST(Engine, ProgressSeesZeroPercentagesAndHundredAndMayCancel) {
  const Bytes data(20000, 'x');
  testing::ChunkedBuf buf(data, 8192);
  std::istream in(&buf);
  std::ostringstream out;
  TCoderState state;
  TCoderState::Run run;
  run.input_size = static_cast<int64_t>(data.size());
  std::vector<int> seen;
  run.progress = [&](int& p) { seen.push_back(p); };
  uint32_t sum = 0;
  EXPECT_EQ(state.Process(out, in, run, sum), 20000);
  EXPECT_EQ(seen, (std::vector<int>{0, 40, 81, 100, 100}));

  run.progress = [](int& p) { p = -1; };
  std::ostringstream untouched;
  in.seekg(0);
  EXPECT_EQ(state.Process(untouched, in, run, sum), 0);
  EXPECT_EQ(in.tellg(), 0);
  EXPECT_TRUE(untouched.str().empty());
}

TEST(Engine, PercentageUsesTheTwoIntegerFormulas) {
  EXPECT_EQ(Percentage(1, 3), 33);
  EXPECT_EQ(Percentage(99999, 100000), 99);
  EXPECT_EQ(Percentage(150000, 200001), 75);  // 150000 / 2000
  EXPECT_EQ(Percentage(0, 0), 0);
}

}  // namespace
}  // namespace vorncom::archive

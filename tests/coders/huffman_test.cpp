#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "archive/bits/huffman.h"

namespace vorncom::archive {
namespace {

// Sum of 2^(16 - length) over used symbols: 2^16 for a complete prefix code.
uint32_t CodeSpace(const std::vector<uint8_t>& lengths) {
  uint32_t space = 0;
  for (uint8_t len : lengths) {
    if (len != 0) space += 1u << (16 - len);
  }
  return space;
}

struct BuildCase {
  const char* name;
  std::vector<uint32_t> freq;
};

class HuffmanBuildTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(HuffmanBuildTest, CompleteLimitedCanonicalCodeThatDecodes) {
  const auto& freq = GetParam().freq;
  const size_t n = freq.size();
  std::vector<uint8_t> lengths(n);
  std::vector<uint16_t> codes(n);
  HuffmanBuilder builder;
  const HuffmanCode result = builder.Build(freq, lengths, codes);

  uint32_t total = 0;
  int used = 0;
  for (uint32_t f : freq) {
    total += f;
    used += f != 0;
  }
  EXPECT_EQ(result.total, total);
  ASSERT_EQ(result.used_symbols, used);
  ASSERT_GE(used, 2);
  EXPECT_EQ(CodeSpace(lengths), 1u << 16);
  for (size_t s = 0; s < n; ++s) {
    EXPECT_EQ(lengths[s] != 0, freq[s] != 0) << s;
    EXPECT_LE(lengths[s], 16);
    // A more frequent symbol never gets a longer code.
    for (size_t t = 0; t < n; ++t) {
      if (freq[s] > freq[t] && freq[t] != 0) {
        EXPECT_LE(lengths[s], lengths[t]);
      }
    }
  }

  // Every code, followed by arbitrary bits, decodes back to its symbol.
  DecodeTable table(static_cast<unsigned>(n), 8);
  table.Build(lengths);
  for (size_t s = 0; s < n; ++s) {
    if (lengths[s] == 0) continue;
    const uint32_t next = (uint32_t{codes[s]} << (32 - lengths[s])) | (0x5A5A5A5Au >> lengths[s]);
    unsigned len = 0;
    EXPECT_EQ(table.Lookup(next, len), s);
    EXPECT_EQ(len, lengths[s]);
  }
}

std::vector<uint32_t> Fibonacci(int n) {
  std::vector<uint32_t> f = {1, 1};
  while (static_cast<int>(f.size()) < n) f.push_back(f[f.size() - 1] + f[f.size() - 2]);
  return f;
}

std::vector<uint32_t> RandomFreq(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> f(n);
  for (auto& x : f) x = rng() % 3 == 0 ? 0 : rng() % 1000;
  f[0] = f[1] = 1;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, HuffmanBuildTest,
    ::testing::Values(BuildCase{"two", {5, 0, 0, 9}},
                      BuildCase{"equal", std::vector<uint32_t>(19, 4)},
                      // Fibonacci counts make a tree 24 deep: lengths must be pulled up to 16.
                      BuildCase{"deep", Fibonacci(25)}, BuildCase{"chars", RandomFreq(510, 3)},
                      BuildCase{"positions", RandomFreq(14, 4)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HuffmanBuilderTest, FewerThanTwoSymbolsGiveNoCode) {
  std::vector<uint8_t> lengths(6, 9);
  std::vector<uint16_t> codes(6, 9);
  HuffmanBuilder builder;
  HuffmanCode one = builder.Build(std::vector<uint32_t>{0, 0, 0, 7, 0, 0}, lengths, codes);
  EXPECT_EQ(one.used_symbols, 1);
  EXPECT_EQ(one.lone_symbol, 3);
  EXPECT_EQ(lengths, std::vector<uint8_t>(6, 0));
  HuffmanCode none = builder.Build(std::vector<uint32_t>(6, 0), lengths, codes);
  EXPECT_EQ(none.used_symbols, 0);
}

TEST(CanonicalCodesTest, ShorterFirstThenSymbolOrder) {
  const std::vector<uint8_t> lengths = {3, 2, 0, 3, 2, 2};
  std::vector<uint16_t> codes(lengths.size());
  AssignCanonicalCodes(lengths, codes);
  EXPECT_EQ(codes, (std::vector<uint16_t>{0b110, 0b00, 0, 0b111, 0b01, 0b10}));
}

TEST(DecodeTableTest, LengthsThatDoNotFillTheCodeSpaceAreRejected) {
  DecodeTable table(4, 8);
  const std::vector<std::vector<uint8_t>> bad = {
      {1, 1, 1, 0},   // overfull
      {1, 2, 0, 0},   // a code left unused
      {0, 0, 0, 0},   // no code at all
      {1, 0, 0, 17},  // beyond 16 bits
  };
  for (const auto& lengths : bad) {
    EXPECT_THROW(table.Build(lengths), ELZHBadDecodeTable);
  }
  EXPECT_NO_THROW(table.Build(std::vector<uint8_t>{1, 2, 3, 3}));
}

TEST(DecodeTableTest, CodesLongerThanTheTableWalkTheTree) {
  // Lengths 1, 2, ..., 15, 16, 16: most codes exceed the 8-bit table.
  std::vector<uint8_t> lengths;
  for (uint8_t len = 1; len <= 16; ++len) lengths.push_back(len);
  lengths.push_back(16);
  std::vector<uint16_t> codes(lengths.size());
  AssignCanonicalCodes(lengths, codes);
  DecodeTable table(static_cast<unsigned>(lengths.size()), 8);
  table.Build(lengths);
  for (size_t s = 0; s < lengths.size(); ++s) {
    unsigned len = 0;
    EXPECT_EQ(table.Lookup(uint32_t{codes[s]} << (32 - lengths[s]), len), s);
    EXPECT_EQ(len, lengths[s]);
  }
  // Rebuilding with short codes clears the old tree links.
  std::vector<uint8_t> two(lengths.size(), 0);
  two[0] = two[1] = 1;
  table.Build(two);
  unsigned len = 0;
  EXPECT_EQ(table.Lookup(0xFFFFFFFFu, len), 1u);
  EXPECT_EQ(len, 1u);
}

}  // namespace
}  // namespace vorncom::archive

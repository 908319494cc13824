#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "archive/bits/huffman.h"
#include "archive/coder_errors.h"
#include "archive/lh5/code_table.h"
#include "archive/lh5/lh5_format.h"

namespace vorncom::archive::lh5 {
namespace {

// Every code, followed by arbitrary bits, resolves to its symbol's entry: the literal, the
// match length or the position value (with its extra bits taken from what follows the code).
struct TableCase {
  const char* name;
  CodeTable::Set set;
  unsigned main_bits;
  std::vector<uint8_t> lengths;
};

std::vector<uint8_t> Chain(unsigned symbols) {  // lengths 1, 2, ..., n-1, n-1
  std::vector<uint8_t> lengths(symbols, 0);
  for (unsigned s = 0; s + 1 < symbols; ++s) lengths[s] = static_cast<uint8_t>(s + 1);
  lengths[symbols - 1] = static_cast<uint8_t>(symbols - 1);
  return lengths;
}

std::vector<uint8_t> Built(unsigned symbols, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> freq(symbols);
  // Geometric-looking counts reach the 16-bit limit among hundreds of symbols.
  for (auto& f : freq) f = rng() % 4 == 0 ? 0 : 1 + (rng() % 2000000 >> (rng() % 20));
  std::vector<uint8_t> lengths(symbols);
  std::vector<uint16_t> codes(symbols);
  HuffmanBuilder().Build(freq, lengths, codes);
  return lengths;
}

class CodeTableTest : public ::testing::TestWithParam<TableCase> {};

TEST_P(CodeTableTest, EveryCodeResolvesToItsEntry) {
  const TableCase& c = GetParam();
  const auto symbols = static_cast<unsigned>(c.lengths.size());
  std::vector<uint16_t> codes(symbols);
  AssignCanonicalCodes(c.lengths, codes);
  CodeTable table(c.set, symbols, c.main_bits);
  table.Build(c.lengths);
  std::mt19937_64 rng(5);
  unsigned longest = 0;
  for (unsigned s = 0; s < symbols; ++s) {
    const unsigned len = c.lengths[s];
    if (len == 0) continue;
    longest = std::max(longest, len);
    const uint64_t after = rng() >> len;
    const uint64_t next = (uint64_t{codes[s]} << (64 - len)) | after;
    const uint32_t e = CodeTable::Lookup(table.data(), c.main_bits, next);
    if (c.set == CodeTable::Set::kChars) {
      ASSERT_EQ(CodeTable::Bits(e), len) << s;
      ASSERT_EQ(CodeTable::KindOf(e), s < 256 ? CodeTable::kLiteral : CodeTable::kMatch) << s;
      ASSERT_EQ(CodeTable::Value(e), s < 256 ? s : s - 256 + kThreshold) << s;
    } else {
      const unsigned extra = s > 1 ? s - 1 : 0;
      ASSERT_EQ(CodeTable::Bits(e), len + extra) << s;
      ASSERT_EQ(CodeTable::Extra(e), extra) << s;
      const auto low = static_cast<unsigned>(extra == 0 ? 0 : after << len >> (64 - extra));
      // The value has `s` bits: its top one implied, the rest sent after the code.
      EXPECT_EQ(BitCount(CodeTable::Value(e) + low), s) << s;
    }
  }
  EXPECT_GT(longest, c.main_bits);  // the case reaches the subtables
}

INSTANTIATE_TEST_SUITE_P(
    Sets, CodeTableTest,
    ::testing::Values(
        TableCase{"char_chain", CodeTable::Set::kChars, 12,
                  [] {
                    std::vector<uint8_t> l = Chain(17);
                    l.resize(kCharCodes, 0);
                    std::swap(l[16], l[300]);  // a match code among the longest
                    return l;
                  }()},
        TableCase{"chars_built", CodeTable::Set::kChars, 12, Built(kCharCodes, 7)},
        TableCase{"chars_small_main", CodeTable::Set::kChars, 9, Built(kCharCodes, 8)},
        TableCase{"position_chain", CodeTable::Set::kPositions, 8, Chain(14)},
        TableCase{"positions_small_main", CodeTable::Set::kPositions, 4, Built(kPositionCodes, 9)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CodeTableTest, IncompleteSetsAreRejectedAndASingleSymbolTakesNoBits) {
  CodeTable table(CodeTable::Set::kPositions, kPositionCodes, 8);
  for (std::vector<uint8_t> bad : {std::vector<uint8_t>{1, 1, 1}, std::vector<uint8_t>{1, 2},
                                   std::vector<uint8_t>{}, std::vector<uint8_t>{1, 17}}) {
    bad.resize(kPositionCodes, 0);
    EXPECT_THROW(table.Build(bad), ELZHBadDecodeTable);
  }
  table.BuildSingle(13);
  const uint32_t e = CodeTable::Lookup(table.data(), 8, ~uint64_t{0});
  EXPECT_EQ(CodeTable::Bits(e), 12u);  // only the bits below the value's top one
  EXPECT_EQ(CodeTable::Value(e), 1u << 12);
}

}  // namespace
}  // namespace vorncom::archive::lh5

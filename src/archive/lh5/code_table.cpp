#include "archive/lh5/code_table.h"

#include <algorithm>
#include <array>

#include "archive/bits/huffman.h"
#include "archive/coder_errors.h"
#include "archive/lh5/lh5_format.h"

namespace vorncom::archive::lh5 {

namespace {

[[noreturn]] void BadTable() { throw ELZHBadDecodeTable("Bad decode table in archive!"); }

uint32_t Entry(unsigned bits, unsigned extra, CodeTable::Kind kind, unsigned value) {
  return bits | extra << 8 | uint32_t{kind} << 12 | value << 16;
}

}  // namespace

// Every code longer than the main bits lies in a complete subtree below its main-bits prefix, so
// such a prefix holds at least two symbols: at most symbols / 2 subtables, each of at most
// 2^(16 - main_bits) entries.
CodeTable::CodeTable(Set set, unsigned symbols, unsigned main_bits)
    : set_(set),
      symbols_(symbols),
      main_bits_(main_bits),
      entries_((size_t{1} << main_bits) +
               (std::min(size_t{1} << main_bits, size_t{symbols} / 2) << (16 - main_bits))) {}

uint32_t CodeTable::EntryFor(unsigned symbol, unsigned code_length) const {
  if (set_ == Set::kPositions) {
    // The distance - 1 has `symbol` bits: the top one is implied, the rest follow the code.
    const unsigned extra = symbol > 1 ? symbol - 1 : 0;
    const unsigned base = symbol > 1 ? 1u << (symbol - 1) : symbol;
    return Entry(code_length + extra, extra, kPosition, base);
  }
  if (symbol < 256) return Entry(code_length, 0, kLiteral, symbol);
  return Entry(code_length, 0, kMatch, symbol - 256 + kThreshold);
}

void CodeTable::BuildSingle(unsigned symbol) {
  std::fill_n(entries_.begin(), size_t{1} << main_bits_, EntryFor(symbol, 0));
}

void CodeTable::Build(std::span<const uint8_t> lengths) {
  std::array<unsigned, kMaxCodeLength + 1> count{};
  for (unsigned s = 0; s < symbols_; ++s) {
    if (lengths[s] > kMaxCodeLength) BadTable();
    ++count[lengths[s]];
  }
  uint32_t space = 0;
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) space += count[len] << (16 - len);
  if (space != 1u << 16) BadTable();

  // Symbols in canonical order: by length, then by symbol.
  std::array<unsigned, kMaxCodeLength + 2> first{};
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) first[len + 1] = first[len] + count[len];
  std::array<uint16_t, 1024> sorted;
  const unsigned used = first[kMaxCodeLength + 1];
  for (unsigned s = 0; s < symbols_; ++s) {
    if (lengths[s] != 0) sorted[first[lengths[s]]++] = static_cast<uint16_t>(s);
  }

  const unsigned main = main_bits_;
  uint32_t code = 0;  // left-aligned in 16 bits
  unsigned i = 0;
  for (; i < used && lengths[sorted[i]] <= main; ++i) {
    const unsigned len = lengths[sorted[i]];
    std::fill_n(entries_.begin() + (code >> (16 - main)), size_t{1} << (main - len),
                EntryFor(sorted[i], len));
    code += 1u << (16 - len);
  }
  // The rest, one main-bits prefix at a time: the prefix's codes are consecutive in canonical
  // order and fill its space exactly; the last of them is the longest and sets the subtable's
  // index bits.
  size_t next_sub = size_t{1} << main;
  while (i < used) {
    const uint32_t prefix = code >> (16 - main);
    unsigned end = i;
    unsigned longest = 0;
    for (uint32_t filled = 0; filled < (1u << (16 - main)); ++end) {
      longest = lengths[sorted[end]];
      filled += 1u << (16 - longest);
    }
    const unsigned sub_bits = longest - main;
    entries_[prefix] = Entry(main, sub_bits, kSubtable, static_cast<unsigned>(next_sub));
    for (; i < end; ++i) {
      const unsigned len = lengths[sorted[i]];
      const uint32_t index = (code >> (16 - longest)) & ((1u << sub_bits) - 1);
      std::fill_n(entries_.begin() + static_cast<ptrdiff_t>(next_sub + index),
                  size_t{1} << (longest - len), EntryFor(sorted[i], len));
      code += 1u << (16 - len);
    }
    next_sub += size_t{1} << sub_bits;
  }
}

}  // namespace vorncom::archive::lh5

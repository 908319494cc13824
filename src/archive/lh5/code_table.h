#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vorncom::archive::lh5 {

// A decode table for one canonical code set of the -lh5- stream that resolves a code in at most
// two lookups: the next `main_bits` bits index the main table, and codes longer than that
// continue in a subtable indexed by the bits after them. An entry carries everything the
// decoder needs next: how many bits to consume in all (the code and, for positions, the extra
// bits that follow it) and the value (a literal byte, a match length or a position base), so no
// second table is consulted per code.
class CodeTable {
 public:
  enum Kind : uint32_t { kLiteral = 0, kMatch = 1, kPosition = 2, kSubtable = 3 };

  // Entry: bits 0..5 the bits to consume, 8..11 the extra bits (positions) or the subtable's
  // index bits, 12..13 the kind, 16..31 the value (subtable: its offset in the table).
  static unsigned Bits(uint32_t e) { return e & 0x3F; }
  static unsigned Extra(uint32_t e) { return (e >> 8) & 0xF; }
  static Kind KindOf(uint32_t e) { return static_cast<Kind>((e >> 12) & 3); }
  static unsigned Value(uint32_t e) { return e >> 16; }
  // The kind tests of the hot loops, one mask each.
  static bool IsLiteral(uint32_t e) { return (e & 0x3000) == 0; }
  static bool IsSubtable(uint32_t e) { return (e & 0x3000) == 0x3000; }

  enum class Set { kChars, kPositions };

  // `symbols` of the character/length set (literals, then match lengths from kThreshold) or of
  // the position set (bit counts of the distance - 1).
  CodeTable(Set set, unsigned symbols, unsigned main_bits);

  // Builds from code lengths (each 0..16). Throws ELZHBadDecodeTable unless they fill the code
  // space exactly, which is what makes every index of every table a valid entry.
  void Build(std::span<const uint8_t> lengths);
  // Every lookup yields `symbol` with a code of zero bits.
  void BuildSingle(unsigned symbol);

  const uint32_t* data() const { return entries_.data(); }
  unsigned main_bits() const { return main_bits_; }

  // The entry for the stream bits ahead, `next` left-aligned (at least 16 valid bits).
  static uint32_t Lookup(const uint32_t* table, unsigned main_bits, uint64_t next) {
    return Resolve(table, main_bits, table[next >> (64 - main_bits)], next);
  }
  // The entry for `next` given its main-table entry `e`.
  static uint32_t Resolve(const uint32_t* table, unsigned main_bits, uint32_t e, uint64_t next) {
    if (!IsSubtable(e)) [[likely]]
      return e;
    return table[Value(e) + ((next << main_bits) >> (64 - Extra(e)))];
  }

 private:
  uint32_t EntryFor(unsigned symbol, unsigned code_length) const;

  Set set_;
  unsigned symbols_;
  unsigned main_bits_;
  std::vector<uint32_t> entries_;  // the main table, then the subtables
};

}  // namespace vorncom::archive::lh5

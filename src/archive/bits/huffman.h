#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "archive/coder_errors.h"

namespace vorncom::archive {

// The longest code any of the static Huffman code sets may use.
inline constexpr unsigned kMaxCodeLength = 16;

// Result of building a code set from symbol frequencies.
struct HuffmanCode {
  int used_symbols = 0;  // symbols with a non-zero frequency
  int lone_symbol = 0;   // the only used symbol when used_symbols < 2 (0 when none is used)
  uint32_t total = 0;    // sum of all frequencies
};

// Builds length-limited Huffman codes with a binary heap: equal frequencies are merged in heap
// order, leaves deeper than 16 are pulled up by moving counts down from length 16, and the least
// frequent symbols take the longest lengths. Codes are then assigned canonically (shorter codes
// first, equal lengths in symbol order). With fewer than two used symbols every length and code
// is 0. `lengths` and `codes` must hold freq.size() entries; freq.size() is at most 1024.
class HuffmanBuilder {
 public:
  HuffmanCode Build(std::span<const uint32_t> freq, std::span<uint8_t> lengths,
                    std::span<uint16_t> codes);

 private:
  void SiftDown(int i);

  std::vector<uint32_t> weight_;
  std::vector<int> heap_, left_, right_, depth_, order_;
  int heap_size_ = 0;
};

// Assigns canonical codes to `lengths` (each 0..16). Lengths that overfill the code space give
// meaningless codes; callers build lengths that fit.
void AssignCanonicalCodes(std::span<const uint8_t> lengths, std::span<uint16_t> codes);

// A table-driven decoder for one canonical code set: the next `table_bits` bits of the stream
// index a table; codes longer than that continue through a binary tree, one bit at a time.
class DecodeTable {
 public:
  DecodeTable(unsigned symbol_count, unsigned table_bits);

  // Builds the table from code lengths (each 0..16). Throws ELZHBadDecodeTable unless the
  // lengths fill the code space exactly.
  void Build(std::span<const uint8_t> lengths);

  // Makes every lookup yield `symbol` with a length of zero bits.
  void BuildSingle(unsigned symbol);

  // Plain pointers into the table, for hot loops that keep them in registers. Valid for the
  // table's lifetime; rebuilding changes the contents, not the pointers.
  struct View {
    const uint16_t* table;
    const uint16_t* left;
    const uint16_t* right;
    const uint8_t* lengths;
    unsigned symbol_count;
    unsigned table_bits;

    // Decodes one symbol from the 32 bits that follow in the stream (most significant first)
    // and reports its length in bits.
    unsigned Lookup(uint32_t next32, unsigned& length) const {
      unsigned s = table[next32 >> (32 - table_bits)];
      if (s >= symbol_count) {
        uint32_t mask = 1u << (31 - table_bits);
        do {
          s = (next32 & mask) ? right[s] : left[s];
          mask >>= 1;
        } while (s >= symbol_count);
      }
      length = lengths[s];
      return s;
    }
  };

  View view() const {
    return {table_.data(),   left_.data(),  right_.data(),
            lengths_.data(), symbol_count_, table_bits_};
  }

  unsigned Lookup(uint32_t next32, unsigned& length) const { return view().Lookup(next32, length); }

 private:
  unsigned symbol_count_;
  unsigned table_bits_;
  std::vector<uint16_t> table_;
  std::vector<uint16_t> left_, right_;  // indexed by node; nodes follow the symbols
  std::vector<uint8_t> lengths_;
};

}  // namespace vorncom::archive

#pragma once

#include <array>
#include <cstdint>

#include "archive/lzh/lzh_format.h"

namespace vorncom::archive::lzh {

// The adaptive Huffman tree of the LZH method over 314 symbols. Nodes are kept sorted by
// frequency (the sibling property), siblings side by side; a leaf is stored as its symbol
// plus kNodes in the child array. After each symbol its count goes up by one and nodes are
// swapped to keep the order; when the root reaches 0x8000 the tree is rebuilt from halved counts.
class AdaptiveHuffman {
 public:
  AdaptiveHuffman();

  // Calls `put(bit)` for each bit of the symbol's current code, root first, then updates.
  // Codes may exceed 16 bits.
  template <class PutBits>
  void Encode(unsigned symbol, PutBits&& put) {
    // Collected leaf first; the root's bit ends up highest.
    std::array<uint64_t, 10> words{};
    unsigned length = 0;
    unsigned node = parent_[symbol + kNodes];
    do {
      if (node & 1) words[length >> 6] |= uint64_t{1} << (length & 63);
      ++length;
      node = parent_[node];
    } while (node != kRoot);
    put(words, length);
    Update(symbol);
  }

  // Walks from the root using `next_bit()` and returns the symbol, then updates.
  template <class NextBit>
  unsigned Decode(NextBit&& next_bit) {
    unsigned c = child_[kRoot];
    while (c < kNodes) c = child_[c + next_bit()];
    c -= kNodes;
    Update(c);
    return c;
  }

  // Child of `node` (< kNodes) for bit 0; the bit-1 child follows it. Values >= kNodes are
  // leaves.
  unsigned child(unsigned node) const { return child_[node]; }
  void Update(unsigned symbol);

 private:
  void Rebuild();

  std::array<uint32_t, kNodes + 1> freq_{};  // plus a sentinel larger than any count
  std::array<uint16_t, kNodes> child_{};
  std::array<uint16_t, kNodes + kSymbols> parent_{};  // of nodes, then of leaves
};

}  // namespace vorncom::archive::lzh

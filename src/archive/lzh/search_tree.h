#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "archive/lzh/lzh_format.h"

namespace vorncom::archive::lzh {

// Longest-match search over the 4 KiB ring with binary search trees of the strings (the next
// 60 bytes) at each ring position. There are 4096 trees, chosen by a string's first byte and a
// 4-bit hash of its second and third; each node stores how many leading bytes it shares with
// its parent, so a descent compares only bytes it cannot infer.
//
// The ring holds kRingSize bytes plus a mirror of its first kLookAhead - 1 bytes, which the
// caller keeps up to date so that a string never wraps.
class SearchTree {
 public:
  static constexpr unsigned kNil = kRingSize;
  static constexpr unsigned kRingBytes = kRingSize + kLookAhead;  // 4156

  SearchTree();

  uint8_t* ring() { return ring_.data(); }

  // Inserts the string at `r`. Afterwards match_length() is the longest match (0 if none of
  // 3 or more bytes) and match_position() its distance minus 1, the smallest among equals.
  // A string equal to an existing one over all 60 bytes replaces it.
  void Insert(unsigned r);
  void Remove(unsigned p);

  unsigned match_length() const { return match_length_; }
  unsigned match_position() const { return match_position_; }

 private:
  static constexpr unsigned kRootBase = kRingSize + 1;  // 4097
  static constexpr unsigned kRoots = 4096;

  unsigned RootOf(unsigned r) const;
  // Bytes that the strings at `a` and `b` share, given that they share at least `from`.
  unsigned CommonLength(unsigned a, unsigned b, unsigned from) const;
  // Sets `node`'s stored length after it was hung below `parent`.
  void Remeasure(unsigned node, unsigned parent, unsigned from);
  void ReplaceChild(unsigned parent, unsigned old_child, unsigned new_child);

  std::array<uint8_t, kRingBytes> ring_{};
  std::vector<uint16_t> left_, right_, parent_;  // right_ also holds the roots' single child
  std::vector<uint8_t> shared_;                  // bytes shared with the parent
  unsigned match_length_ = 0;
  unsigned match_position_ = 0;
};

}  // namespace vorncom::archive::lzh

#pragma once

#include <cstdint>
#include <vector>

#include "archive/lh5/lh5_format.h"

namespace vorncom::archive::lh5 {

// Longest-match search over the last 8191 positions of the encoder's window with a Patricia
// trie: a root per first byte, internal nodes that branch after a shared prefix of `level`
// bytes, one leaf per window position. Children are found through one hash table keyed by
// (parent, next byte). Each internal node remembers its most recently inserted position, so a
// match always refers to the nearest occurrence of the longest prefix.
//
// Positions live in [kWindowSize, 2 * kWindowSize); a position below that is the same string one
// window earlier. The caller owns the sliding: it moves the text down by kWindowSize and keeps
// inserting from kWindowSize again; leaf numbers stay valid across the move.
class TrieMatchFinder {
 public:
  static constexpr unsigned kTextSize = 2 * kWindowSize + kMaxMatch + 1;  // 16641 bytes

  TrieMatchFinder();

  // Empties the trie.
  void Reset();

  uint8_t* text() { return text_.data(); }

  // Inserts the string at `position`, finding the longest earlier match of it (at most
  // kMaxMatch bytes). When the last match found was 4 or more bytes long, the search resumes
  // from that match one position further on, so positions must be inserted in order.
  void Insert(unsigned position);

  // Removes the leaf of the position one window before `position`, if it is still in the trie.
  void Remove(unsigned position);

  // The match of the last Insert: its length and the text index where it starts (below the
  // inserted position, at most one window back).
  unsigned match_length() const { return match_length_; }
  unsigned match_position() const { return match_position_; }
  // Shortens the match, e.g. to the bytes left; the next search still resumes from it.
  void ClipMatch(unsigned limit) {
    if (match_length_ > limit) match_length_ = limit;
  }

 private:
  using Node = uint16_t;
  static constexpr Node kNil = 0;
  // Hash heads follow the node numbers. Twice as many heads as nodes keep chains short; a
  // multiplicative hash spreads the (parent, byte) pairs of neighbouring parents.
  static constexpr unsigned kHashBits = 15;
  static constexpr unsigned kHashBase = 2 * kWindowSize;
  static constexpr unsigned kHashEnd = kHashBase + (1u << kHashBits);
  static_assert(kHashEnd <= 0x10000, "chain links hold hash heads in 16 bits");

  static unsigned Hash(unsigned node, uint8_t c) {
    return kHashBase + ((((node << 8) | c) * 2654435761u) >> (32 - kHashBits));
  }
  Node Child(Node parent, uint8_t c);
  void MakeChild(Node parent, uint8_t c, Node child);
  void Split(Node old, unsigned position);

  std::vector<uint8_t> text_;
  // Fields read together share a cache line; both tables cover internal nodes and roots.
  struct Branch {
    uint16_t level = 0;   // bytes shared by everything below
    uint16_t latest = 0;  // internal nodes: the latest position inserted below
  };
  struct Fanout {
    uint16_t count = 0;
    uint16_t children = 0;  // XOR of the children: the last one is found at once
  };
  std::vector<Branch> branch_;
  std::vector<Fanout> fanout_;
  std::vector<Node> parent_;    // internal nodes and leaves
  std::vector<uint16_t> prev_;  // hash chain links: node or hash head
  std::vector<Node> next_;      // hash heads, chain links, free list; leaf replacement
  Node free_ = 1;
  unsigned match_length_ = 0;
  unsigned match_position_ = 0;
};

}  // namespace vorncom::archive::lh5

#include "archive/lh5/trie_match_finder.h"

#include <algorithm>

namespace vorncom::archive::lh5 {

TrieMatchFinder::TrieMatchFinder()
    : text_(kTextSize, ' '),
      level_(kWindowSize + 256),
      child_count_(kWindowSize + 256),
      child_xor_(kWindowSize + 256),
      position_(kWindowSize + 256),
      parent_(2 * kWindowSize),
      prev_(kHashEnd),
      next_(kHashEnd) {
  Reset();
}

void TrieMatchFinder::Reset() {
  for (unsigned root = kWindowSize; root < kWindowSize + 256; ++root) level_[root] = 1;
  std::fill(child_count_.begin(), child_count_.end(), 0);
  std::fill(child_xor_.begin(), child_xor_.end(), 0);
  std::fill(parent_.begin(), parent_.end(), kNil);
  // Internal nodes 1..kWindowSize-1 start out chained as free.
  free_ = 1;
  for (unsigned i = 1; i < kWindowSize - 1; ++i) next_[i] = static_cast<Node>(i + 1);
  next_[kWindowSize - 1] = kNil;
  std::fill(next_.begin() + kHashBase, next_.end(), kNil);
  match_length_ = 0;
  match_position_ = 0;
}

TrieMatchFinder::Node TrieMatchFinder::Child(Node parent, uint8_t c) {
  Node r = next_[Hash(parent, c)];
  parent_[kNil] = parent;  // sentinel: the chain's end matches
  while (parent_[r] != parent) r = next_[r];
  return r;
}

void TrieMatchFinder::MakeChild(Node parent, uint8_t c, Node child) {
  const unsigned h = Hash(parent, c);
  const Node t = next_[h];
  next_[h] = child;
  next_[child] = t;
  prev_[t] = child;
  prev_[child] = static_cast<uint16_t>(h);
  parent_[child] = parent;
  ++child_count_[parent];
  child_xor_[parent] ^= child;
}

void TrieMatchFinder::Split(Node old, unsigned position) {
  const Node fresh = free_;
  free_ = next_[fresh];
  child_count_[fresh] = 0;
  child_xor_[fresh] = 0;
  child_xor_[parent_[old]] ^= static_cast<uint16_t>(old ^ fresh);
  // The new node takes the old one's place in its parent's hash chain.
  uint16_t t = prev_[old];
  prev_[fresh] = t;
  next_[t] = fresh;
  t = next_[old];
  next_[fresh] = t;
  prev_[t] = fresh;
  parent_[fresh] = parent_[old];
  level_[fresh] = static_cast<uint16_t>(match_length_);
  position_[fresh] = static_cast<uint16_t>(position);
  MakeChild(fresh, text_[match_position_ + match_length_], old);
  MakeChild(fresh, text_[position + match_length_], static_cast<Node>(position));
}

void TrieMatchFinder::Insert(unsigned position) {
  Node q, r;
  if (match_length_ >= 4) {
    // The string here continues the last match one byte on: start below the deepest node
    // whose prefix that match still covers, instead of at the root.
    --match_length_;
    r = static_cast<Node>((match_position_ + 1) | kWindowSize);
    while ((q = parent_[r]) == kNil) r = next_[r];  // follow leaves replaced since
    while (level_[q] >= match_length_) {
      r = q;
      q = parent_[q];
    }
    for (Node t = q; t < kWindowSize; t = parent_[t])
      position_[t] = static_cast<uint16_t>(position);
  } else {
    q = static_cast<Node>(text_[position] + kWindowSize);
    const uint8_t c = text_[position + 1];
    if ((r = Child(q, c)) == kNil) {
      MakeChild(q, c, static_cast<Node>(position));
      match_length_ = 1;
      return;
    }
    match_length_ = 2;
  }

  const uint8_t* key = text_.data() + position;
  for (;;) {
    unsigned limit;
    if (r >= kWindowSize) {
      limit = kMaxMatch;
      match_position_ = r;
    } else {
      limit = level_[r];
      match_position_ = position_[r];
    }
    if (match_position_ >= position) match_position_ -= kWindowSize;
    const uint8_t* other = text_.data() + match_position_;
    while (match_length_ < limit) {
      if (key[match_length_] != other[match_length_]) {
        Split(r, position);
        return;
      }
      ++match_length_;
    }
    if (match_length_ >= kMaxMatch) break;
    position_[r] = static_cast<uint16_t>(position);
    q = r;
    if ((r = Child(q, key[match_length_])) == kNil) {
      MakeChild(q, key[match_length_], static_cast<Node>(position));
      return;
    }
    ++match_length_;
  }

  // A full-length match: the new leaf replaces the old one, which remembers its successor.
  uint16_t t = prev_[r];
  prev_[position] = t;
  next_[t] = static_cast<Node>(position);
  t = next_[r];
  next_[position] = t;
  prev_[t] = static_cast<uint16_t>(position);
  parent_[position] = q;
  child_xor_[q] ^= static_cast<uint16_t>(r ^ position);
  parent_[r] = kNil;
  next_[r] = static_cast<Node>(position);
}

void TrieMatchFinder::Remove(unsigned position) {
  if (parent_[position] == kNil) return;
  Node r = prev_[position];
  Node s = next_[position];
  next_[r] = s;
  prev_[s] = r;
  r = parent_[position];
  parent_[position] = kNil;
  child_xor_[r] ^= static_cast<uint16_t>(position);
  if (r >= kWindowSize || --child_count_[r] > 1) return;

  // An internal node left with one child disappears; the child takes its place.
  s = child_xor_[r];
  child_xor_[parent_[r]] ^= static_cast<uint16_t>(r ^ s);
  uint16_t a = prev_[s];
  uint16_t b = next_[s];
  next_[a] = b;
  prev_[b] = a;
  a = prev_[r];
  next_[a] = s;
  prev_[s] = a;
  b = next_[r];
  prev_[b] = s;
  next_[s] = b;
  parent_[s] = parent_[r];
  parent_[r] = kNil;
  next_[r] = free_;
  free_ = r;
}

}  // namespace vorncom::archive::lh5

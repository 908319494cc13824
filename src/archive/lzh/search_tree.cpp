#include "archive/lzh/search_tree.h"

#include <algorithm>

namespace vorncom::archive::lzh {

SearchTree::SearchTree()
    : left_(kRingSize + 1, kNil),
      right_(kRootBase + kRoots, kNil),
      parent_(kRingSize + 1, kNil),
      shared_(kRingSize + 1, 0) {
  ring_.fill(' ');
}

unsigned SearchTree::RootOf(unsigned r) const {
  unsigned h = ring_[r + 1] ^ ring_[r + 2];
  h = (h ^ (h >> 4)) & 15;
  return kRootBase + ring_[r] + 256 * h;
}

unsigned SearchTree::CommonLength(unsigned a, unsigned b, unsigned from) const {
  const uint8_t* x = ring_.data() + a;
  const uint8_t* y = ring_.data() + b;
  unsigned i = from;
  while (i < kLookAhead && x[i] == y[i]) ++i;
  return i;
}

void SearchTree::Remeasure(unsigned node, unsigned parent, unsigned from) {
  if (node == kNil) return;
  shared_[node] = static_cast<uint8_t>(parent >= kRootBase ? 1 : CommonLength(node, parent, from));
}

void SearchTree::ReplaceChild(unsigned parent, unsigned old_child, unsigned new_child) {
  // A root's only child hangs on the right.
  if (right_[parent] == old_child) {
    right_[parent] = static_cast<uint16_t>(new_child);
  } else {
    left_[parent] = static_cast<uint16_t>(new_child);
  }
}

void SearchTree::Insert(unsigned r) {
  const uint8_t* key = ring_.data() + r;
  unsigned p = RootOf(r);
  left_[r] = right_[r] = kNil;
  match_length_ = 0;
  int cmp = 1;
  unsigned i = 1;  // bytes the key shares with p; a root stands for the first byte
  for (;;) {
    uint16_t& next = cmp >= 0 ? right_[p] : left_[p];
    if (next == kNil) {
      next = static_cast<uint16_t>(r);
      parent_[r] = static_cast<uint16_t>(p);
      shared_[r] = static_cast<uint8_t>(i);
      return;
    }
    p = next;
    // The key and p's parent share i bytes, p and its parent shared_[p]: the smaller decides.
    const unsigned s = shared_[p];
    if (s < i) {
      i = s;
      cmp = key[i] - ring_[p + i];
    } else if (s == i) {
      const uint8_t* other = ring_.data() + p;
      while (i < kLookAhead && (cmp = key[i] - other[i]) == 0) ++i;
    }
    if (i > kThreshold) {
      const unsigned position = ((r - p) & kRingMask) - 1;
      if (i > match_length_) {
        match_position_ = position;
        match_length_ = i;
        if (i >= kLookAhead) break;
      } else if (i == match_length_ && position < match_position_) {
        match_position_ = position;
      }
    }
  }
  // Equal over the whole look-ahead: r takes p's place.
  parent_[r] = parent_[p];
  left_[r] = left_[p];
  right_[r] = right_[p];
  shared_[r] = shared_[p];
  parent_[left_[p]] = static_cast<uint16_t>(r);
  parent_[right_[p]] = static_cast<uint16_t>(r);
  ReplaceChild(parent_[p], p, r);
  parent_[p] = kNil;
}

void SearchTree::Remove(unsigned p) {
  if (parent_[p] == kNil) return;
  const unsigned up = parent_[p];
  unsigned q;
  if (right_[p] == kNil || left_[p] == kNil) {
    // The only child (if any) moves up: it shares with the new parent what both links shared.
    q = right_[p] == kNil ? left_[p] : right_[p];
    if (q != kNil) {
      if (up >= kRootBase) {
        shared_[q] = 1;
      } else if (shared_[q] != shared_[p]) {
        shared_[q] = std::min(shared_[q], shared_[p]);
      } else {
        shared_[q] = static_cast<uint8_t>(CommonLength(q, up, shared_[q]));
      }
    }
    parent_[q] = static_cast<uint16_t>(up);  // harmless on the spare kNil slot
  } else {
    // Replace p by the rightmost node of its left subtree; every link it takes over, and its
    // own link to p's parent, is measured again.
    q = left_[p];
    if (right_[q] != kNil) {
      do {
        q = right_[q];
      } while (right_[q] != kNil);
      const unsigned qp = parent_[q];
      const unsigned orphan = left_[q];
      right_[qp] = static_cast<uint16_t>(orphan);
      parent_[orphan] = static_cast<uint16_t>(qp);
      if (orphan != kNil) {
        if (shared_[orphan] != shared_[q]) {
          shared_[orphan] = std::min(shared_[orphan], shared_[q]);
        } else {
          shared_[orphan] = static_cast<uint8_t>(CommonLength(orphan, qp, shared_[orphan]));
        }
      }
      left_[q] = left_[p];
      parent_[left_[p]] = static_cast<uint16_t>(q);
      Remeasure(left_[p], q, 1);
    }
    right_[q] = right_[p];
    parent_[right_[p]] = static_cast<uint16_t>(q);
    Remeasure(right_[p], q, 1);
    parent_[q] = static_cast<uint16_t>(up);
    Remeasure(q, up, 1);
  }
  ReplaceChild(up, p, q);
  parent_[p] = kNil;
}

}  // namespace vorncom::archive::lzh

#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "archive/lh5/lh5_format.h"

namespace vorncom::archive::lh5 {

// How hard the lazy parse searches: at most `depth` candidates per search, none once a match
// of `nice` bytes is found, and no look one position ahead once the match has `lazy_stop`.
struct SearchEffort {
  unsigned depth;
  unsigned nice;
  unsigned lazy_stop;
};

// A match search bounded in effort, for the lazy parse: one hash chain keyed by the first 4
// bytes, walked newest first over at most `depth` candidates, and a table of the latest
// position of each 3-byte hash for the 3-byte matches the chain cannot hold. The answer is a
// long match, the nearest among the equally long ones it saw, not always the longest there is.
//
// Text indexes work as in the other finders: positions live in [kWindowSize, 2 * kWindowSize)
// and the caller slides the text down by kWindowSize, calling Slide() when it does.
class LazyMatchFinder {
 public:
  static constexpr unsigned kTextSize = 2 * kWindowSize + kMaxMatch + 1;

  // The first position that will be inserted; none before it is a match.
  explicit LazyMatchFinder(unsigned first) : first_(base_ + first) { text_.fill(' '); }

  uint8_t* text() { return text_.data(); }

  // Starts at the first position, whose 4 bytes must be in the text. From there every
  // position must be inserted in order, each once (by Insert or FindAndInsert): the hashes of
  // the next one are computed ahead, and its table entries fetched.
  void Begin(unsigned position) { Ahead(text_.data() + position); }

  // Links the string at `position` into the tables.
  void Insert(unsigned position) {
    Link(base_ + position);
    Ahead(text_.data() + position + 1);
  }

  struct Match {
    unsigned length = 0;    // 0, or kThreshold..kMaxMatch
    unsigned distance = 0;  // 1..kWindowSize - 1
  };

  // A match for the string at `position` among the positions inserted before it, at most one
  // window back; only matches longer than `beat` count. Reads kMaxMatch + 8 bytes from it.
  // Then inserts the position.
  [[gnu::always_inline]] Match FindAndInsert(unsigned position, unsigned beat,
                                             const SearchEffort& effort) {
    const uint8_t* key = text_.data() + position;
    const uint32_t at = base_ + position;
    const Match m = Find(key, at, beat, effort);
    Link(at);
    Ahead(key + 1);
    return m;
  }

 private:
  [[gnu::always_inline]] Match Find(const uint8_t* key, uint32_t at, unsigned beat,
                                    const SearchEffort& effort) const {
    const uint32_t oldest = std::max(at > kWindowSize - 1 ? at - (kWindowSize - 1) : 1, first_);
    Match best;
    unsigned best_length = std::max(beat, 3u);  // the chain holds matches of 4 or more
    uint32_t best_at = 0;
    const uint32_t key4 = Load32(key);
    uint32_t c = head4_[h4_];
    for (unsigned left = effort.depth; left > 0 && c >= oldest; --left) {
      const uint8_t* p = Text(c);
      // A longer match must agree at the best length too; most candidates fail right there.
      if (Load32(p + best_length - 3) == Load32(key + best_length - 3) && Load32(p) == key4) {
        const unsigned n = CommonLength(key, p);
        if (n > best_length) {
          best_length = n;
          best_at = c;
          if (n >= effort.nice) break;
        }
      }
      c = prev_[c & kMask];
    }
    if (best_at != 0) return {best_length, at - best_at};
    if (beat < kThreshold) {
      const uint32_t c3 = head3_[h3_];
      if (c3 >= oldest && std::memcmp(Text(c3), key, kThreshold) == 0) {
        return {kThreshold, at - c3};
      }
    }
    return best;
  }

  void Link(uint32_t at) {
    prev_[at & kMask] = head4_[h4_];
    head4_[h4_] = at;
    head3_[h3_] = at;
  }

  // The hashes of the string at `key`, the next position. Its table entries are wanted soon:
  // their loads are most of a search's time on data with few matches.
  void Ahead(const uint8_t* key) {
    const uint32_t key4 = Load32(key);
    h4_ = Hash4(key4);
    h3_ = Hash3(key4);
    __builtin_prefetch(&head4_[h4_]);
    __builtin_prefetch(&head3_[h3_]);
  }

  static constexpr unsigned kHashBits = 15;
  static constexpr uint32_t kMask = kWindowSize - 1;
  // Tables hold stream positions offset by base_, so they survive slides untouched; 0 is none.
  static constexpr uint32_t kRebaseAt = 1u << 30;

  static uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static unsigned Hash4(uint32_t v) { return (v * 2654435761u) >> (32 - kHashBits); }
  // The first three bytes in memory order, whatever the byte order.
  static unsigned Hash3(uint32_t v) {
    const uint32_t low3 = std::endian::native == std::endian::little ? v << 8 : v >> 8;
    return (low3 * 2246822519u) >> (32 - kHashBits);
  }
  static unsigned CommonLength(const uint8_t* a, const uint8_t* b) {
    for (unsigned n = 0; n < kMaxMatch; n += 8) {
      const uint64_t diff = Load64(a + n) ^ Load64(b + n);
      if (diff != 0) {
        const unsigned bit = std::endian::native == std::endian::little ? std::countr_zero(diff)
                                                                        : std::countl_zero(diff);
        return std::min(kMaxMatch, n + bit / 8);
      }
    }
    return kMaxMatch;
  }

  const uint8_t* Text(uint32_t at) const { return text_.data() + (at - base_); }

  void Rebase() {
    // Positions stay two windows up, so that nothing in the window goes to zero.
    const uint32_t shift = base_ - 2 * kWindowSize;
    const auto down = [shift](uint32_t& e) { e = e > shift ? e - shift : 0; };
    for (uint32_t& e : head4_) down(e);
    for (uint32_t& e : head3_) down(e);
    for (uint32_t& e : prev_) down(e);
    down(first_);
    base_ -= shift;
  }

  // Leaves kMaxMatch + 8 bytes readable after every position, for 8-byte comparisons.
  // Fixed arrays, not vectors: the hot loop then needs no pointer loads after stores.
  std::array<uint8_t, kTextSize + 8> text_;
  std::array<uint32_t, 1u << kHashBits> head4_{};
  std::array<uint32_t, 1u << kHashBits> head3_{};
  std::array<uint32_t, kWindowSize> prev_{};
  // Positions are offset so that 0, an empty table entry, is always out of the window.
  uint32_t base_ = 2 * kWindowSize;
  uint32_t first_;            // the first position inserted
  unsigned h4_ = 0, h3_ = 0;  // the hashes of the next position

 public:
  // The text was moved down by kWindowSize.
  void Slide() {
    base_ += kWindowSize;
    if (base_ >= kRebaseAt) Rebase();
  }
};

}  // namespace vorncom::archive::lh5

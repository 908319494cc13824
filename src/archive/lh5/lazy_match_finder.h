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
// The look ahead of a match of `good` bytes or more walks a quarter of the depth: a longer
// match there is rare and gains little, and on repetitive text these walks are most of the
// time.
struct SearchEffort {
  unsigned depth;
  unsigned nice;
  unsigned lazy_stop;
  unsigned good = ~0u;
};

// A match search bounded in effort, for the lazy parse. Every earlier string that shares 8
// bytes with the key is on the key's 8-byte hash chain, so the long matches are there; once the
// best reaches 9 bytes the walk moves to the chain of the 8 bytes that end at the best length,
// which any longer match also holds and which is far shorter. Only when the 8-byte chain has no
// match does a 4-byte chain give the matches of 4 to 7 bytes, and a table of the latest string
// per 3-byte hash the 3-byte ones. Each chain is walked newest first over at most `depth`
// candidates. The answer is the longest match among those seen, the nearest among equals.
//
// Text indexes work as in the other finders: positions live in [kWindowSize, 2 * kWindowSize)
// and the caller slides the text down by kWindowSize, calling Slide() when it does.
class LazyMatchFinder {
 public:
  static constexpr unsigned kTextSize = 2 * kWindowSize + kMaxMatch + 1;

  // The first position that will be inserted; none before it is a match.
  explicit LazyMatchFinder(unsigned first) : first_(base_ + first) { text_.fill(' '); }

  uint8_t* text() { return text_.data(); }
  const uint8_t* text() const { return text_.data(); }

  // Starts at the first position, whose 4 bytes must be in the text. From there every
  // position must be inserted in order, each once (by Insert or FindAndInsert): the hashes of
  // the next one are computed ahead, and its table entries fetched.
  void Begin(unsigned position) { Ahead(text_.data() + position); }

  // Links the string at `position` into the tables.
  void Insert(unsigned position) {
    Link(base_ + position);
    Ahead(text_.data() + position + 1);
  }

  // Links the strings at `from` up to, not including, `to` into the tables, as Insert does
  // one by one. Inside a match the positions come back to back: their hashes are computed
  // in the loop, where nothing is fetched ahead, and only `to`'s are prepared for later.
  void InsertRange(unsigned from, unsigned to) {
    const uint8_t* key = text_.data() + from;
    for (uint32_t at = base_ + from, end = base_ + to; at != end; ++at, ++key) {
      const uint32_t key4 = Load32(key);
      Link(at, Hash4(key4), Hash8(Load64(key)), Hash3(key4));
    }
    Ahead(text_.data() + to);
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
    const uint64_t key8 = Load64(key);
    // Every earlier string that shares 8 bytes with the key is on its 8-byte chain: the long
    // matches are there. Entries of the chain walked are candidate positions plus `offset`.
    const uint32_t* links = prev8_.data();
    unsigned offset = 0;
    uint32_t e = head8_[h8_];
    // The key's 4 bytes that end at the best length, and whether the walk is to move to the
    // chain of the 8 bytes that end there: both change only with the best length.
    uint32_t tail = Load32(key + best_length - 3);
    bool move = best_length >= kSwitchFrom;
    for (unsigned left = effort.depth; left > 0 && e >= oldest + offset; --left) {
      const uint32_t c = e - offset;
      const uint8_t* p = Text(c);
      // A longer match must agree at the best length too; most candidates fail right there.
      if (Load32(p + best_length - 3) == tail && Load64(p) == key8) {
        const unsigned n = CommonLength(key, p);
        if (n > best_length) {
          best_length = n;
          best_at = c;
          if (n >= effort.nice) break;
          tail = Load32(key + best_length - 3);
          move = best_length >= kSwitchFrom && best_length - 7 > offset;
        }
      }
      e = links[e & kMask];
      // A longer match also holds the 8 bytes that end at the best length, and those are
      // rarer still: follow their chain instead, shifted back to candidate positions.
      // Candidates too near to have entered that chain yet are walked here first.
      if (move && e >= oldest + offset && e - offset + best_length - 7 < at) {
        const unsigned want = best_length - 7;
        const uint32_t next = e - offset;
        // Its entries newer than the next candidate were seen on this chain: passed over,
        // with a bound of their own (a run puts one entry per byte there).
        uint32_t f = head8_[Hash8(Load64(key + want))];
        for (unsigned pass = 4 * effort.depth; f >= oldest + want && f - want > next; --pass) {
          if (pass == 0) return Found(best_length, best_at, at);
          f = prev8_[f & kMask];
        }
        e = f;
        offset = want;
        move = false;
      }
    }
    if (best_at == 0) {
      // No 8 bytes in common: the 4-byte chain has the matches of 4 to 7 bytes.
      for (uint32_t c = head4_[h4_], left = effort.depth / 4 + 1; left > 0 && c >= oldest; --left) {
        const uint8_t* p = Text(c);
        if (Load32(p + best_length - 3) == Load32(key + best_length - 3) && Load32(p) == key4) {
          const unsigned n = CommonLength(key, p);
          if (n > best_length) {
            best_length = n;
            best_at = c;
            if (n >= 7) break;
          }
        }
        c = prev4_[c & kMask];
      }
    }
    if (best_at != 0) return Found(best_length, best_at, at);
    if (beat < kThreshold) {
      const uint32_t c3 = head3_[h3_];
      if (c3 >= oldest && std::memcmp(Text(c3), key, kThreshold) == 0) {
        return {kThreshold, at - c3};
      }
    }
    return best;
  }

  static Match Found(unsigned length, uint32_t from, uint32_t at) {
    return from == 0 ? Match{} : Match{length, at - from};
  }

  void Link(uint32_t at) { Link(at, h4_, h8_, h3_); }
  void Link(uint32_t at, unsigned h4, unsigned h8, unsigned h3) {
    prev4_[at & kMask] = head4_[h4];
    head4_[h4] = at;
    prev8_[at & kMask] = head8_[h8];
    head8_[h8] = at;
    head3_[h3] = at;
  }

  // The hashes of the string at `key`, the next position. Its table entries are wanted soon:
  // their loads are most of a search's time on data with few matches.
  void Ahead(const uint8_t* key) {
    const uint32_t key4 = Load32(key);
    h4_ = Hash4(key4);
    h3_ = Hash3(key4);
    h8_ = Hash8(Load64(key));
    __builtin_prefetch(&head4_[h4_]);
    __builtin_prefetch(&head8_[h8_]);
    __builtin_prefetch(&head3_[h3_]);
  }

  // Smaller tables make more false candidates than they save in cache misses.
  static constexpr unsigned kHash8Bits = 15;
  static constexpr unsigned kHash4Bits = 15;
  static constexpr unsigned kHash3Bits = 15;
  static constexpr uint32_t kMask = kWindowSize - 1;
  // Tables hold stream positions offset by base_, so they survive slides untouched; 0 is none.
  static constexpr uint32_t kRebaseAt = 1u << 30;
  // Once the best length reaches this, a walk moves to the chain of the 8 bytes that end there.
  static constexpr unsigned kSwitchFrom = 9;

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
  static unsigned Hash8(uint64_t v) {
    return static_cast<unsigned>((v * 0x9E3779B97F4A7C15ull) >> (64 - kHash8Bits));
  }
  static unsigned Hash4(uint32_t v) { return (v * 2654435761u) >> (32 - kHash4Bits); }
  // The first three bytes in memory order, whatever the byte order.
  static unsigned Hash3(uint32_t v) {
    const uint32_t low3 = std::endian::native == std::endian::little ? v << 8 : v >> 8;
    return (low3 * 2246822519u) >> (32 - kHash3Bits);
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
    for (uint32_t& e : head8_) down(e);
    for (uint32_t& e : head3_) down(e);
    for (auto* links : {&prev4_, &prev8_}) {
      for (uint32_t& e : *links) down(e);
    }
    down(first_);
    base_ -= shift;
  }

  // Leaves kMaxMatch + 8 bytes readable after every position, for 8-byte comparisons.
  // Fixed arrays, not vectors: the hot loop then needs no pointer loads after stores.
  std::array<uint8_t, kTextSize + 8> text_;
  std::array<uint32_t, 1u << kHash4Bits> head4_{};
  std::array<uint32_t, 1u << kHash3Bits> head3_{};
  std::array<uint32_t, 1u << kHash8Bits> head8_{};
  std::array<uint32_t, kWindowSize> prev4_{};
  std::array<uint32_t, kWindowSize> prev8_{};
  // Positions are offset so that 0, an empty table entry, is always out of the window.
  uint32_t base_ = 2 * kWindowSize;
  uint32_t first_;                     // the first position inserted
  unsigned h4_ = 0, h8_ = 0, h3_ = 0;  // the hashes of the next position

 public:
  // The text was moved down by kWindowSize.
  void Slide() {
    base_ += kWindowSize;
    if (base_ >= kRebaseAt) Rebase();
  }
};

}  // namespace vorncom::archive::lh5

#include "archive/lh5/chain_match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vorncom::archive::lh5 {

namespace {

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The index of the first byte in memory order that is not zero in `diff` (not 0).
unsigned FirstSetByte(uint64_t diff) {
  return (std::endian::native == std::endian::little ? std::countr_zero(diff)
                                                     : std::countl_zero(diff)) /
         8;
}

// How many leading bytes of `a` and `b` agree, up to kMaxMatch; reads eight bytes at a time.
unsigned CommonLength(const uint8_t* a, const uint8_t* b) {
  for (unsigned n = 0; n < kMaxMatch; n += 8) {
    const uint64_t diff = Load64(a + n) ^ Load64(b + n);
    if (diff != 0) return std::min(kMaxMatch, n + FirstSetByte(diff));
  }
  return kMaxMatch;
}

// The same first bytes always hash alike whatever the byte order, which is all a chain needs.
template <unsigned kBits>
unsigned Hash8(uint64_t v) {
  return static_cast<unsigned>((v * 0x9E3779B97F4A7C15ull) >> (64 - kBits));
}

template <unsigned kBits>
unsigned Hash4(uint32_t v) {
  return (v * 2654435761u) >> (32 - kBits);
}

template <unsigned kBits>
unsigned Hash3(const uint8_t* p) {
  const uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
  return (v * 2246822519u) >> (32 - kBits);
}

// How many of the first `limit` bytes at `p` equal `byte`.
unsigned RunLength(const uint8_t* p, uint8_t byte, unsigned limit) {
  const uint64_t pattern = 0x0101010101010101ull * byte;
  for (unsigned n = 0; n < limit; n += 8) {
    const uint64_t diff = Load64(p + n) ^ pattern;
    if (diff != 0) return std::min(limit, n + FirstSetByte(diff));
  }
  return limit;
}

}  // namespace

ChainMatchFinder::ChainMatchFinder(uint32_t rebase_at)
    : text_(kTextSize + 8, ' '), rebase_at_(rebase_at) {
  Reset();
}

void ChainMatchFinder::Reset() {
  for (Chain* chain : {&chain8_, &chain4_, &chain3_})
    std::fill(chain->head.begin(), chain->head.end(), 0);
  base_ = 0;
  next_ = 0;
  first_ = 0;
  match_length_ = 0;
  match_position_ = 0;
}

void ChainMatchFinder::InsertRange(unsigned from, unsigned to) {
  if (from == to) return;
  uint32_t at = base_ + from;
  if (next_ == 0) first_ = at;
  // The run start travels in a register; read back from memory it would chain every step to
  // the store before.
  uint32_t run = at == next_ ? run_start_[(at - 1) & kChainMask] : at;
  for (const uint8_t* key = text_.data() + from; at != base_ + to; ++at, ++key) {
    chain8_.Link(Hash8<kHashBits>(Load64(key)), at);
    chain4_.Link(Hash4<kHashBits>(Load32(key)), at);
    chain3_.Link(Hash3<kHashBits>(key), at);
    if (key[0] != key[-1]) run = at;
    run_start_[at & kChainMask] = run;
  }
  next_ = at;
}

template <unsigned kLevel, bool kRunKey>
void ChainMatchFinder::Walk(const Chain& chain, uint32_t head, const uint8_t* key, unsigned key_run,
                            uint32_t oldest, unsigned enough, Best& best) const {
  const auto consider = [&best](uint32_t at, unsigned length) {
    if (length > best.length) best = {length, at};
  };
  for (uint32_t c = head; c >= oldest;) {
    const uint8_t* p = Text(c);
    if (kRunKey && RunLength(p, key[0], kLevel) == kLevel) {
      // The newest entry of an earlier run of the key's byte; `r` bytes of it are left from here.
      const unsigned r = RunLength(p, key[0], key_run + 1);
      const uint32_t start = std::max(run_start_[c & kChainMask], oldest);
      if (r > key_run) {
        consider(c, key_run);  // older entries of this run only repeat the run
      } else if (const uint32_t exact = c - (key_run - r); exact >= start) {
        consider(exact, CommonLength(key, Text(exact)));
      } else {
        consider(start, r + (c - start));  // the run is too short: its longest part
      }
      if (best.length >= enough || run_start_[c & kChainMask] <= oldest) break;
      c = chain.prev[run_start_[c & kChainMask] & kChainMask];
      continue;
    }
    // A longer match must agree at the best length too; most candidates fail right there.
    if (best.length != 0 ? p[best.length] == key[best.length]
        : kLevel == 8    ? Load64(p) == Load64(key)
                         : Load32(p) == Load32(key)) {
      consider(c, CommonLength(key, p));
      if (best.length >= enough) break;
    }
    c = chain.prev[c & kChainMask];
  }
}

void ChainMatchFinder::WalkLong(uint32_t head, const uint8_t* key, uint32_t at, uint32_t oldest,
                                Best& best) const {
  // Entries of the chain walked are candidate positions plus `offset`.
  unsigned offset = 0;
  for (uint32_t e = head; e >= oldest + offset;) {
    const uint32_t c = e - offset;
    const uint8_t* p = Text(c);
    if (best.length != 0 ? p[best.length] == key[best.length] : Load64(p) == Load64(key)) {
      const unsigned n = CommonLength(key, p);
      if (n > best.length) {
        best = {n, c};
        if (n == kMaxMatch) return;
      }
    }
    e = chain8_.prev[e & kChainMask];
    // A longer match also holds the 8 bytes that end at the best length, and those are far
    // rarer than the first 8: follow their chain instead, shifted back to candidate positions.
    // Candidates too near to have entered that chain yet are walked where we are first.
    const unsigned want = best.length >= kSwitchFrom ? best.length - 7 : 0;
    if (want > offset && e >= oldest + offset && e - offset + want < at) {
      const uint32_t next = e - offset;
      uint32_t f = chain8_.head[Hash8<kHashBits>(Load64(key + want))];
      while (f >= oldest + want && f - want > next) f = chain8_.prev[f & kChainMask];
      e = f;
      offset = want;
    }
  }
}

void ChainMatchFinder::FindAndInsert(unsigned position) {
  const uint8_t* key = text_.data() + position;
  const uint32_t at = base_ + position;
  const uint32_t oldest = Oldest(at);
  // The three heads are read together: on data with few matches these reads are most of the
  // work, and issued at once their cache misses overlap.
  const uint32_t head8 = chain8_.head[Hash8<kHashBits>(Load64(key))];
  const uint32_t head4 = chain4_.head[Hash4<kHashBits>(Load32(key))];
  const uint32_t head3 = chain3_.head[Hash3<kHashBits>(key)];
  Find(key, at, oldest, head8, head4, head3);
  InsertRange(position, position + 1);
}

void ChainMatchFinder::Find(const uint8_t* key, uint32_t at, uint32_t oldest, uint32_t head8,
                            uint32_t head4, uint32_t head3) {
  match_length_ = 0;
  match_position_ = 0;
  if (head3 < oldest) return;  // no earlier string shares even 3 bytes
  const unsigned key_run = RunLength(key, key[0], kMaxMatch);
  Best best;

  if (key_run >= 8) {
    Walk<8, true>(chain8_, head8, key, key_run, oldest, kMaxMatch, best);
  } else {
    WalkLong(head8, key, at, oldest, best);
  }
  if (best.length < 8) {
    // No earlier string shares 8 bytes, so the 4-byte chain holds matches of 4 to 7 bytes.
    best = {};
    if (key_run >= 4) {
      Walk<4, true>(chain4_, head4, key, key_run, oldest, 7, best);
    } else {
      Walk<4, false>(chain4_, head4, key, key_run, oldest, 7, best);
    }
  }
  if (best.length < 4) {
    // Matches are 3 bytes at most now: the nearest true one is the answer.
    best = {};
    for (uint32_t c = head3; c >= oldest; c = chain3_.prev[c & kChainMask]) {
      if (std::memcmp(key, Text(c), kThreshold) == 0) {
        best = {kThreshold, c};
        break;
      }
    }
  }

  match_length_ = best.length;
  match_position_ = best.length == 0 ? 0 : best.at - base_;
}

void ChainMatchFinder::Slide() {
  base_ += kWindowSize;
  if (base_ >= rebase_at_) Rebase();
}

void ChainMatchFinder::Rebase() {
  // Positions stay two windows up, so that no candidate minus a match length goes below zero.
  const uint32_t shift = base_ - 2 * kWindowSize;
  const auto down = [shift](uint32_t& e) { e = e > shift ? e - shift : 0; };
  for (Chain* chain : {&chain8_, &chain4_, &chain3_}) {
    for (uint32_t& e : chain->head) down(e);
    for (uint32_t& e : chain->prev) down(e);
  }
  for (uint32_t& e : run_start_) down(e);
  down(next_);
  down(first_);
  base_ -= shift;
}

}  // namespace vorncom::archive::lh5

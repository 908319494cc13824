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

// How many leading bytes of `a` and `b` agree, up to kMaxMatch; reads eight bytes at a time.
unsigned CommonLength(const uint8_t* a, const uint8_t* b) {
  for (unsigned n = 0; n < kMaxMatch; n += 8) {
    const uint64_t diff = Load64(a + n) ^ Load64(b + n);
    if (diff != 0) {
      const unsigned bits = std::endian::native == std::endian::little ? std::countr_zero(diff)
                                                                       : std::countl_zero(diff);
      return std::min(kMaxMatch, n + bits / 8);
    }
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

bool SameThree(const uint8_t* a, const uint8_t* b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

}  // namespace

ChainMatchFinder::ChainMatchFinder() : text_(kTextSize + 8, ' ') { Reset(); }

void ChainMatchFinder::Reset() {
  for (Chain* chain : {&chain8_, &chain4_, &chain3_})
    std::fill(chain->head.begin(), chain->head.end(), 0);
  base_ = 0;
  match_length_ = 0;
  match_position_ = 0;
}

void ChainMatchFinder::Insert(unsigned position) {
  const uint8_t* key = text_.data() + position;
  const uint32_t at = base_ + position;
  chain8_.Link(Hash8<kHashBits>(Load64(key)), at);
  chain4_.Link(Hash4<kHashBits>(Load32(key)), at);
  chain3_.Link(Hash3<kHashBits>(key), at);
}

void ChainMatchFinder::Find(unsigned position) {
  const uint8_t* key = text_.data() + position;
  const uint32_t at = base_ + position;
  const uint32_t oldest = Oldest(at);
  unsigned best = 0;
  uint32_t best_at = 0;

  const uint64_t key8 = Load64(key);
  for (uint32_t c = chain8_.head[Hash8<kHashBits>(key8)]; c >= oldest;
       c = chain8_.prev[c & kChainMask]) {
    const uint8_t* p = text_.data() + (c - base_);
    // A longer match must agree at the best length too; most candidates fail right there.
    if (best != 0 ? p[best] != key[best] : Load64(p) != key8) continue;
    const unsigned n = CommonLength(key, p);
    if (n > best) {
      best = n;
      best_at = c;
      if (n == kMaxMatch) break;
    }
  }

  if (best == 0) {
    // No earlier string shares 8 bytes, so the 4-byte chain holds matches of 4 to 7 bytes.
    const uint32_t key4 = Load32(key);
    for (uint32_t c = chain4_.head[Hash4<kHashBits>(key4)]; c >= oldest;
         c = chain4_.prev[c & kChainMask]) {
      const uint8_t* p = text_.data() + (c - base_);
      if (best != 0 ? p[best] != key[best] : Load32(p) != key4) continue;
      const unsigned n = CommonLength(key, p);
      if (n > best) {
        best = n;
        best_at = c;
        if (n >= 7) break;
      }
    }
  }

  if (best == 0) {
    // Matches are 3 bytes at most now: the nearest true one is the answer.
    for (uint32_t c = chain3_.head[Hash3<kHashBits>(key)]; c >= oldest;
         c = chain3_.prev[c & kChainMask]) {
      if (SameThree(key, text_.data() + (c - base_))) {
        best = kThreshold;
        best_at = c;
        break;
      }
    }
  }

  match_length_ = best;
  match_position_ = best == 0 ? 0 : best_at - base_;
}

void ChainMatchFinder::Slide() {
  base_ += kWindowSize;
  if (base_ >= kRebaseAt) Rebase();
}

void ChainMatchFinder::Rebase() {
  const uint32_t shift = base_;
  for (Chain* chain : {&chain8_, &chain4_, &chain3_}) {
    for (uint32_t& e : chain->head) e = e > shift ? e - shift : 0;
    for (uint32_t& e : chain->prev) e = e > shift ? e - shift : 0;
  }
  base_ = 0;
}

}  // namespace vorncom::archive::lh5

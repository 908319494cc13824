#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "archive/lh5/lh5_format.h"

namespace vorncom::archive::lh5 {

// Longest-match search over the last 8191 positions of the encoder's window, giving the same
// answer as the trie (the longest match of up to kMaxMatch bytes, and among equally long ones
// the nearest) at a fraction of its cost.
//
// The trie has to search at every position, because inserting a string is a search. Here
// inserting only links the position into three hash chains, and the search runs where the
// encoder needs a match: after a literal and at the end of a match, not inside one. The chains
// are keyed by the first 8, 4 and 3 bytes. Every earlier string that shares at least 8 bytes
// with the key is on the 8-byte chain, so when that chain yields a match the longest match is
// among its entries; only when it yields none do the shorter chains matter, and there a 4-byte
// chain bounds its lengths at 7 and the 3-byte chain needs its nearest true entry only. Chains
// are walked newest first and a candidate replaces the best only when strictly longer, which is
// the trie's choice of the nearest among equals.
//
// Runs of one byte (zero padding above all) would fill a chain with one entry per byte of the
// run. For a key that starts with a run of k bytes, only one position of each earlier run can
// be the answer: the one k bytes before the run's end, or the run's first position when the run
// is shorter. The walk takes that position and jumps past the rest of the run.
//
// Text indexes work as in the trie: positions live in [kWindowSize, 2 * kWindowSize) and the
// caller slides the text down by kWindowSize, calling Slide() when it does.
class ChainMatchFinder {
 public:
  static constexpr unsigned kTextSize = 2 * kWindowSize + kMaxMatch + 1;  // 16641 bytes

  // `rebase_at` (above two windows) is where stored positions are brought back down; only tests
  // lower it.
  explicit ChainMatchFinder(uint32_t rebase_at = kRebaseAt);

  void Reset();

  uint8_t* text() { return text_.data(); }

  // Links the strings at `from` up to, not including, `to` into the chains. Positions must come
  // in order, each once.
  void InsertRange(unsigned from, unsigned to);
  // Finds the longest match of the string at `position` among the positions inserted before
  // it, at most one window back, then inserts it. Lengths below kThreshold are reported as 0.
  void FindAndInsert(unsigned position);
  // The text was moved down by kWindowSize.
  void Slide();

  unsigned match_length() const { return match_length_; }
  unsigned match_position() const { return match_position_; }
  void ClipMatch(unsigned limit) {
    if (match_length_ > limit) match_length_ = limit;
  }

 private:
  static constexpr unsigned kHashBits = 15;
  // Chains hold stream positions offset by base_, so they survive slides untouched; 0 is none.
  // Before the offsets could overflow they are rebased, dropping everything out of the window.
  static constexpr uint32_t kRebaseAt = 1u << 30;
  static constexpr unsigned kHeads = 1u << kHashBits;
  static constexpr uint32_t kChainMask = kWindowSize - 1;
  // Once the best length reaches this, a walk follows the chain of the 8 bytes that end at the
  // best length instead, and moves again whenever the best grows.
  static constexpr unsigned kSwitchFrom = 9;

  struct Chain {
    std::vector<uint32_t> head = std::vector<uint32_t>(kHeads);
    std::vector<uint32_t> prev = std::vector<uint32_t>(kWindowSize);
    void Link(unsigned hash, uint32_t at) {
      prev[at & kChainMask] = head[hash];
      head[hash] = at;
    }
  };

  struct Best {
    unsigned length = 0;
    uint32_t at = 0;
  };

  // The oldest candidate for a match at `at`: one window back, never before the first position
  // inserted (the spaces ahead of the input are text, but no string starts there).
  uint32_t Oldest(uint32_t at) const {
    return std::max(at > kWindowSize - 1 ? at - (kWindowSize - 1) : 1, first_);
  }
  const uint8_t* Text(uint32_t at) const { return text_.data() + (at - base_); }
  // Walks `chain` newest first from `head` over the entries whose first kLevel bytes hash like
  // the key's, keeping the strictly longest match, until one of `enough` bytes is found.
  // kRunKey: the key starts with a run of `key_run` >= kLevel equal bytes.
  template <unsigned kLevel, bool kRunKey>
  void Walk(const Chain& chain, uint32_t head, const uint8_t* key, unsigned key_run,
            uint32_t oldest, unsigned enough, Best& best) const;
  void Find(const uint8_t* key, uint32_t at, uint32_t oldest, uint32_t head8, uint32_t head4,
            uint32_t head3);
  // Walks the 8-byte chain for a key that does not start with a run.
  void WalkLong(uint32_t head, const uint8_t* key, uint32_t at, uint32_t oldest, Best& best) const;
  void Rebase();

  // Leaves kMaxMatch + 8 bytes readable after every position, for 8-byte comparisons.
  std::vector<uint8_t> text_;
  Chain chain8_, chain4_, chain3_;
  std::vector<uint32_t> run_start_ = std::vector<uint32_t>(kWindowSize);  // by position
  uint32_t next_ = 0;   // the position expected next, whose run may continue the last one
  uint32_t first_ = 0;  // the first position inserted
  uint32_t base_ = 0;
  uint32_t rebase_at_;
  unsigned match_length_ = 0;
  unsigned match_position_ = 0;
};

}  // namespace vorncom::archive::lh5

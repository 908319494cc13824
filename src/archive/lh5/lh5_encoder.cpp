// Encoders of the -lh5- bit stream over an 8 KiB window, both with a one-position look-ahead (a
// match is taken only when the next position does not start a longer one): EncodeLh5 with the
// bounded finder and short matches weighed against literals, and the exhaustive reference.

#include "archive/lh5/lh5_encoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/coders.h"
#include "archive/lh5/block_encoder.h"
#include "archive/lh5/chain_match_finder.h"
#include "archive/lh5/lazy_match_finder.h"
#include "archive/lh5/trie_match_finder.h"

namespace vorncom::archive {

namespace {

using namespace lh5;

// Coding starts here, one window plus one look-ahead into the text, so that the first slide
// happens after 7936 bytes; the bytes before it are spaces and never match.
constexpr unsigned kStart = kWindowSize + kMaxMatch;

// The two match finders behind one shape: Skip() enters positions whose match the parse does
// not need, Search() enters one and finds its match.
struct ChainFinder : ChainMatchFinder {
  void Skip(unsigned from, unsigned to) { InsertRange(from, to); }
  void Search(unsigned position) { FindAndInsert(position); }
};

// The trie must search everywhere: inserting a string is finding its match.
struct TrieFinder : TrieMatchFinder {
  void Skip(unsigned from, unsigned to) {
    for (unsigned position = from; position < to; ++position) Search(position);
  }
  void Search(unsigned position) {
    Remove(position);
    Insert(position);
  }
  void Slide() {}
};

template <class Finder>
class Lh5Encoder {
 public:
  explicit Lh5Encoder(ByteLayer& io) : io_(io), blocks_(io) {}

  void Run() {
    uint8_t* text = finder_.text();
    remaining_ = Fill(text + kStart, kWindowSize);
    if (remaining_ == 0) return;

    pos_ = kStart;
    finder_.Search(pos_);
    finder_.ClipMatch(remaining_);
    while (remaining_ > 0) {
      const unsigned last_length = finder_.match_length();
      const unsigned last_position = finder_.match_position();
      Advance();
      finder_.ClipMatch(remaining_);
      if (finder_.match_length() > last_length || last_length < kThreshold) {
        blocks_.PutLiteral(text[pos_ - 1]);
      } else {
        blocks_.PutMatch(last_length, (pos_ - last_position - 2) & (kWindowSize - 1));
        // Only the position after the match needs its own match.
        Skip(last_length - 2);
        Advance();
        finder_.ClipMatch(remaining_);
      }
    }
    blocks_.Finish();
  }

 private:
  // Reads up to `count` bytes into `dest`; returns how many there were.
  unsigned Fill(uint8_t* dest, unsigned count) {
    return static_cast<unsigned>(io_.ReadBytes(dest, count));
  }

  // Moves one position on and finds its match.
  void Advance() {
    Step();
    finder_.Search(pos_);
  }

  // Moves `count` positions on, only entering them into the finder.
  void Skip(unsigned count) {
    while (count > 0) {
      const unsigned before_slide = 2 * kWindowSize - 1 - pos_;
      if (before_slide == 0) {
        Step();
        finder_.Skip(pos_, pos_ + 1);
        --count;
        continue;
      }
      const unsigned n = std::min(count, before_slide);
      finder_.Skip(pos_ + 1, pos_ + 1 + n);
      pos_ += n;
      remaining_ -= n;
      count -= n;
    }
  }

  void Step() {
    --remaining_;
    if (++pos_ == 2 * kWindowSize) {
      uint8_t* text = finder_.text();
      std::memmove(text, text + kWindowSize, kWindowSize + kMaxMatch);
      remaining_ += Fill(text + kStart, kWindowSize);
      pos_ = kWindowSize;
      finder_.Slide();
    }
  }

  ByteLayer& io_;
  Finder finder_;
  BlockEncoder blocks_;
  unsigned remaining_ = 0;
  unsigned pos_ = 0;
};

// The lazy parse over the bounded finder: a match is taken unless the next position starts a
// longer one that codes its bytes for fewer bits, searched for only while the match is shorter
// than the effort's lazy_stop.
class LazyEncoder {
  // Matches up to this long are weighed against their bytes as literals.
  static constexpr unsigned kWeighUpTo = 8;
  // Matches longer than this enter only their last kEnterLast positions into the finder.
  static constexpr unsigned kEnterAllUpTo = 64;
  static constexpr unsigned kEnterLast = 32;

 public:
  LazyEncoder(ByteLayer& io, const SearchEffort& effort)
      : io_(io), finder_(kStart), blocks_(io), effort_(effort), ahead_effort_(effort) {
    ahead_effort_.depth = std::max(1u, effort.depth / 4);
  }

  void Run() {
    uint8_t* text = finder_.text();
    remaining_ = Fill(text + kStart, kWindowSize);
    if (remaining_ == 0) return;
    pos_ = kStart;
    finder_.Begin(pos_);
    LazyMatchFinder::Match match = FindHere(0);
    for (;;) {
      if (match.length == 0) {
        blocks_.PutLiteral(finder_.text()[pos_]);
        if (!Step()) break;
        match = FindHere(0);
        continue;
      }
      if (match.length < effort_.lazy_stop && remaining_ > 1) {
        Step();
        const LazyMatchFinder::Match next = FindHere(match.length);
        if (next.length > match.length && NextPays(match, next)) {
          blocks_.PutLiteral(finder_.text()[pos_ - 1]);
          match = next;
          continue;
        }
        blocks_.PutMatch(match.length, match.distance - 1);
        if (!Skip(match.length - 1)) break;
      } else {
        blocks_.PutMatch(match.length, match.distance - 1);
        if (!Skip(match.length)) break;
      }
      match = FindHere(0);
    }
    blocks_.Finish();
  }

 private:
  unsigned Fill(uint8_t* dest, unsigned count) {
    return static_cast<unsigned>(io_.ReadBytes(dest, count));
  }

  // The match at pos_, clipped to the bytes left, then pos_ enters the finder.
  [[gnu::always_inline]] LazyMatchFinder::Match FindHere(unsigned beat) {
    LazyMatchFinder::Match m =
        finder_.FindAndInsert(pos_, beat, beat >= effort_.good ? ahead_effort_ : effort_);
    if (m.length > remaining_) m.length = remaining_ >= kThreshold ? remaining_ : 0;
    if (m.length <= beat) m.length = 0;
    // A short match far back can cost more than its bytes as literals.
    if (m.length != 0 && m.length <= kWeighUpTo) {
      const uint8_t* bytes = finder_.text() + pos_;
      unsigned literal_bits = 0;
      for (unsigned k = 0; k < m.length; ++k) literal_bits += blocks_.LiteralBits(bytes[k]);
      if (blocks_.MatchBits(m.length, m.distance - 1) >= literal_bits) m.length = 0;
    }
    return m;
  }

  // Whether a literal and then `next`, the longer match found one position after `match`, cost
  // fewer estimated bits per byte than `match`. The match is charged kAheadAllowance more: it
  // covers fewer bytes and leaves the rest to codes not yet known. A longer match far back can
  // cost more than it saves.
  bool NextPays(const LazyMatchFinder::Match& match, const LazyMatchFinder::Match& next) const {
    // In sixteenths of a bit.
    constexpr unsigned kAheadAllowance = 48;
    const unsigned here =
        16 * blocks_.MatchBits(match.length, match.distance - 1) + kAheadAllowance;
    const unsigned ahead = 16 * (blocks_.LiteralBits(finder_.text()[pos_ - 1]) +
                                 blocks_.MatchBits(next.length, next.distance - 1));
    return ahead * match.length < here * (next.length + 1);
  }

  // Moves one position on; false when no bytes are left.
  [[gnu::always_inline]] bool Step() {
    --remaining_;
    if (++pos_ == 2 * kWindowSize) {
      uint8_t* text = finder_.text();
      std::memmove(text, text + kWindowSize, kWindowSize + kMaxMatch);
      remaining_ += Fill(text + kStart, kWindowSize);
      pos_ = kWindowSize;
      finder_.Slide();
    }
    return remaining_ > 0;
  }

  // Moves `count` positions on, entering all but the last into the finder; false when no
  // bytes are left.
  bool Skip(unsigned count) {
    unsigned enter = count - 1;
    if (count > kEnterAllUpTo) {
      // Inside a long match only the last positions enter: the rest repeat what the match
      // source already holds, and the next match is looked for near the end.
      Move(count - kEnterLast - 1);
      finder_.Begin(pos_ + 1);
      enter = kEnterLast;
    }
    Enter(enter);
    return Step();
  }

  // Moves `count` positions on without entering them, in runs up to the next slide.
  void Move(unsigned count) {
    while (count > 0) {
      const unsigned before_slide = 2 * kWindowSize - 1 - pos_;
      if (before_slide == 0) {
        Step();
        --count;
        continue;
      }
      const unsigned n = std::min(count, before_slide);
      pos_ += n;
      remaining_ -= n;
      count -= n;
    }
  }

  // Moves `count` positions on, entering each into the finder, in runs up to the next slide.
  void Enter(unsigned count) {
    while (count > 0) {
      const unsigned before_slide = 2 * kWindowSize - 1 - pos_;
      if (before_slide == 0) {
        Step();
        finder_.Insert(pos_);
        --count;
        continue;
      }
      const unsigned n = std::min(count, before_slide);
      finder_.InsertRange(pos_ + 1, pos_ + 1 + n);
      pos_ += n;
      remaining_ -= n;
      count -= n;
    }
  }

  ByteLayer& io_;
  LazyMatchFinder finder_;
  BlockEncoder blocks_;
  SearchEffort effort_;
  SearchEffort ahead_effort_;  // for looks ahead of a match of effort_.good bytes or more
  unsigned remaining_ = 0;
  unsigned pos_ = 0;
};

template <class Finder>
void Encode(ByteLayer& io) {
  // The tables are too large for the stack.
  auto encoder = std::make_unique<Lh5Encoder<Finder>>(io);
  encoder->Run();
}

}  // namespace

void EncodeLh5(ByteLayer& io) { lh5::EncodeLh5WithEffort(io, lh5::kDefaultEffort); }

void lh5::EncodeLh5WithEffort(ByteLayer& io, const SearchEffort& effort) {
  auto encoder = std::make_unique<LazyEncoder>(io, effort);
  encoder->Run();
}

void lh5::EncodeLh5Exhaustive(ByteLayer& io) { Encode<ChainFinder>(io); }

void lh5::EncodeLh5WithTrie(ByteLayer& io) { Encode<TrieFinder>(io); }

}  // namespace vorncom::archive

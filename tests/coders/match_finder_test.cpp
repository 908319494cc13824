#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "archive/lh5/chain_match_finder.h"
#include "archive/lh5/lazy_match_finder.h"
#include "archive/lh5/trie_match_finder.h"
#include "archive/lzh/search_tree.h"

namespace vorncom::archive {
namespace {

// The match finders against a brute-force search over the same history.

unsigned Common(const uint8_t* a, const uint8_t* b, unsigned limit) {
  unsigned n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

TEST(SearchTreeTest, FindsTheLongestMatchWhileTheRingTurns) {
  std::mt19937 rng(11);
  lzh::SearchTree tree;
  uint8_t* ring = tree.ring();
  // Random bytes from a 3-letter alphabet give plenty of long matches and tree reshaping.
  std::vector<uint8_t> data(3 * lzh::kRingSize);
  for (auto& b : data) b = static_cast<uint8_t>('a' + rng() % 3);
  for (unsigned i = 0; i < lzh::kRingSize; ++i) ring[i] = data[i];
  for (unsigned i = 0; i < lzh::kLookAhead - 1; ++i) ring[lzh::kRingSize + i] = ring[i];

  // Positions 0..59 are inserted first; then each step drops the oldest and adds one byte.
  for (unsigned r = 0; r < lzh::kLookAhead; ++r) tree.Insert(r);
  unsigned oldest = 0;
  for (unsigned step = lzh::kLookAhead; step < 2 * lzh::kRingSize + 500; ++step) {
    const unsigned r = step & lzh::kRingMask;
    if (step >= lzh::kRingSize - lzh::kLookAhead) {
      // Keep 4036 strings in the tree, as the coder does, and refresh the byte ahead.
      tree.Remove(oldest & lzh::kRingMask);
      const unsigned s = (step + lzh::kLookAhead - 1) & lzh::kRingMask;
      ring[s] = data[step + lzh::kLookAhead - 1];
      if (s < lzh::kLookAhead - 1) ring[s + lzh::kRingSize] = ring[s];
      ++oldest;
    }
    tree.Insert(r);

    unsigned best = 0;
    for (unsigned p = std::max(oldest, step > 4035 ? step - 4035 : 0); p < step; ++p) {
      best = std::max(best, Common(ring + r, ring + (p & lzh::kRingMask), lzh::kLookAhead));
    }
    if (best < 3) best = 0;
    ASSERT_EQ(tree.match_length(), best) << step;
    if (best > 0) {
      const unsigned p = (r - tree.match_position() - 1) & lzh::kRingMask;
      ASSERT_EQ(Common(ring + r, ring + p, lzh::kLookAhead), best) << step;
    }
  }
}

TEST(TrieMatchFinderTest, FindsTheLongestMatchInTheWindow) {
  std::mt19937 rng(12);
  lh5::TrieMatchFinder finder;
  uint8_t* text = finder.text();
  constexpr unsigned kStart = lh5::kWindowSize + lh5::kMaxMatch;
  for (unsigned i = kStart; i < lh5::TrieMatchFinder::kTextSize; ++i) {
    text[i] = static_cast<uint8_t>('a' + (rng() % 7 == 0 ? rng() % 4 : 0));
  }
  // No sliding here: positions up to the end of the first window.
  for (unsigned pos = kStart; pos < 2 * lh5::kWindowSize; ++pos) {
    if (pos > kStart) finder.Remove(pos);
    finder.Insert(pos);
    unsigned best = 0;
    for (unsigned p = kStart; p < pos; ++p) {
      best = std::max(best, Common(text + pos, text + p, lh5::kMaxMatch));
    }
    if (best >= 3) {
      ASSERT_EQ(finder.match_length(), best) << pos;
      ASSERT_EQ(Common(text + pos, text + finder.match_position(), lh5::kMaxMatch), best) << pos;
      ASSERT_LT(finder.match_position(), pos);
    } else {
      ASSERT_LT(finder.match_length(), 3u) << pos;
    }
  }
}

// Mostly one letter with others sprinkled in, runs of zeros, and copies of earlier stretches:
// long chains, runs that end at every length, and matches at every distance.
std::vector<uint8_t> FinderStream(size_t size) {
  std::mt19937 rng(13);
  std::vector<uint8_t> stream;
  while (stream.size() < size) {
    const unsigned kind = rng() % 3;
    if (kind == 0) {
      stream.insert(stream.end(), 1 + rng() % 300, 0);
    } else if (kind == 1) {
      for (unsigned i = 0, n = 1 + rng() % 200; i < n; ++i)
        stream.push_back(static_cast<uint8_t>('a' + (rng() % 5 == 0 ? rng() % 3 : 0)));
    } else if (stream.size() > 10) {
      const size_t from = rng() % stream.size();
      const size_t n = std::min<size_t>(1 + rng() % 400, stream.size() - from);
      for (size_t i = 0; i < n; ++i) stream.push_back(stream[from + i]);
    }
  }
  return stream;
}

// The longest match at `at` within the window (0 below kThreshold) and its nearest distance.
std::pair<unsigned, unsigned> LongestMatch(const std::vector<uint8_t>& stream, size_t at) {
  unsigned best = 0, nearest = 0;
  for (size_t d = 1; d <= std::min<size_t>(at, lh5::kWindowSize - 1); ++d) {
    const unsigned n = Common(stream.data() + at, stream.data() + at - d, lh5::kMaxMatch);
    if (n > best) {
      best = n;
      nearest = static_cast<unsigned>(d);
    }
  }
  if (best < lh5::kThreshold) best = nearest = 0;
  return {best, nearest};
}

// The chain finder against a brute-force search over the stream itself, across slides of the
// window and rebases of its stored positions (brought down every three windows here instead of
// every GiB): the longest match, and the nearest among equally long ones.
TEST(ChainMatchFinderTest, FindsTheLongestNearestMatchAcrossSlidesAndRebases) {
  constexpr unsigned kWindow = lh5::kWindowSize;
  constexpr unsigned kStart = kWindow + lh5::kMaxMatch;
  const std::vector<uint8_t> stream = FinderStream(7 * kWindow);
  const size_t checked_end = stream.size() - lh5::kMaxMatch;

  lh5::ChainMatchFinder finder(3 * kWindow);
  uint8_t* text = finder.text();
  // The encoder's way of filling and sliding: one window ahead of the position.
  size_t loaded = std::min<size_t>(kWindow, stream.size());
  std::copy(stream.begin(), stream.begin() + loaded, text + kStart);
  unsigned pos = kStart;
  for (size_t at = 0; at < checked_end; ++at, ++pos) {
    if (pos == 2 * kWindow) {
      std::memmove(text, text + kWindow, kWindow + lh5::kMaxMatch);
      const size_t n = std::min<size_t>(kWindow, stream.size() - loaded);
      std::copy(stream.begin() + loaded, stream.begin() + loaded + n, text + kStart);
      loaded += n;
      pos = kWindow;
      finder.Slide();
    }
    finder.FindAndInsert(pos);
    if (at % 5 != 0) continue;  // searching everywhere, checking a fifth of it
    const auto [best, nearest] = LongestMatch(stream, at);
    ASSERT_EQ(finder.match_length(), best) << at;
    if (best != 0) {
      ASSERT_EQ(pos - finder.match_position(), nearest) << at;
    }
  }
}

// The bounded finder with effort to spare, across slides: every match it reports is there, and
// from 4 bytes on (where its chains hold every candidate) it is the longest. Matches longer
// than `beat` only, as the lazy parse asks at the next position.
TEST(LazyMatchFinderTest, ReportsRealMatchesAndTheLongestFromFourBytes) {
  constexpr unsigned kWindow = lh5::kWindowSize;
  constexpr unsigned kStart = kWindow + lh5::kMaxMatch;
  const std::vector<uint8_t> stream = FinderStream(5 * kWindow);
  const size_t checked_end = stream.size() - lh5::kMaxMatch;
  const lh5::SearchEffort ample{100000, lh5::kMaxMatch, lh5::kMaxMatch};

  auto finder = std::make_unique<lh5::LazyMatchFinder>(kStart);
  uint8_t* text = finder->text();
  size_t loaded = std::min<size_t>(kWindow, stream.size());
  std::copy(stream.begin(), stream.begin() + loaded, text + kStart);
  unsigned pos = kStart;
  finder->Begin(pos);
  for (size_t at = 0; at < checked_end; ++at, ++pos) {
    if (pos == 2 * kWindow) {
      std::memmove(text, text + kWindow, kWindow + lh5::kMaxMatch);
      const size_t n = std::min<size_t>(kWindow, stream.size() - loaded);
      std::copy(stream.begin() + loaded, stream.begin() + loaded + n, text + kStart);
      loaded += n;
      pos = kWindow;
      finder->Slide();
    }
    if (at % 3 == 1) {
      finder->Insert(pos);
      continue;
    }
    const unsigned beat = at % 3 == 2 ? 5 : 0;
    const auto m = finder->FindAndInsert(pos, beat, ample);
    const auto [best, nearest] = LongestMatch(stream, at);
    if (m.length != 0) {
      ASSERT_GT(m.length, beat) << at;
      ASSERT_GE(m.distance, 1u) << at;
      ASSERT_LE(m.distance, std::min<size_t>(at, kWindow - 1)) << at;
      ASSERT_GE(Common(stream.data() + at, stream.data() + at - m.distance, lh5::kMaxMatch),
                m.length)
          << at;
    }
    if (best >= 4 && best > beat) {
      ASSERT_EQ(m.length, best) << at;
    }
  }
}

}  // namespace
}  // namespace vorncom::archive

#pragma once

#include "archive/byte_layer.h"
#include "archive/lh5/lazy_match_finder.h"

namespace vorncom::archive::lh5 {

// EncodeLh5's effort: on the mixed inputs of bench/ smaller output than the exhaustive search
// (the parse also weighs short matches against literals), on repetitive text about as small.
// A lazy_stop of 48 rather than 32 pays on runs of one byte, where a match ending short of the
// run's end is often followed by a longer one (about 18% smaller there); the look-aheads it adds
// are those past `good`, a quarter of the depth each, so text is coded no slower.
inline constexpr SearchEffort kDefaultEffort{32, 128, 48, 20};

// EncodeLh5 with another search effort.
void EncodeLh5WithEffort(ByteLayer& io, const SearchEffort& effort);

// The -lh5- encoder with the longest match at every position the parse asks about (a match is
// taken only when the next position does not start a longer one), from the chain finder, which
// searches only there.
void EncodeLh5Exhaustive(ByteLayer& io);

// The same with the trie match finder, which searches at every position. It produces the same
// stream as EncodeLh5Exhaustive and stays as the reference that finder is checked against.
void EncodeLh5WithTrie(ByteLayer& io);

}  // namespace vorncom::archive::lh5

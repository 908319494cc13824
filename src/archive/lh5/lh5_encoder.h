#pragma once

#include "archive/byte_layer.h"

namespace vorncom::archive::lh5 {

// The -lh5- encoder with the trie match finder, which searches at every position. It produces
// the same stream as EncodeLh5 (whose chain finder searches only where the parse needs a
// match) and stays as the reference that finder is checked against.
void EncodeLh5WithTrie(ByteLayer& io);

}  // namespace vorncom::archive::lh5

// Encoder of the LZH method: LZSS over a 4 KiB ring (matches of 3 to 60 bytes found with the
// search trees) whose literals and match lengths share one adaptive Huffman code, followed for
// matches by the distance minus 1 in 12 bits (upper 6 with a fixed prefix code, lower 6 plain).

#include <algorithm>
#include <memory>

#include "archive/bits/bit_writer.h"
#include "archive/coders.h"
#include "archive/lzh/adaptive_huffman.h"
#include "archive/lzh/search_tree.h"

namespace vorncom::archive {

namespace {

using namespace lzh;

class LzhEncoder {
 public:
  explicit LzhEncoder(ByteLayer& io) : io_(io), out_(io) {}

  void Run() {
    uint8_t* ring = tree_.ring();
    unsigned len = 0;
    while (len < kLookAhead) {
      const uint8_t byte = io_.ReadByte();
      if (io_.AtEnd()) break;
      ring[kStart + len++] = byte;
    }
    if (len == 0) return;  // an empty input codes to nothing

    // The spaces in front of the input are matchable from the start.
    unsigned r = kStart;
    unsigned s = 0;
    for (unsigned i = 1; i <= kLookAhead; ++i) tree_.Insert(r - i);
    tree_.Insert(r);
    do {
      unsigned match_length = std::min(tree_.match_length(), len);
      if (match_length <= kThreshold) {
        match_length = 1;
        PutSymbol(ring[r]);
      } else {
        PutSymbol(MatchSymbol(match_length));
        PutPosition(tree_.match_position());
      }
      unsigned i = 0;
      for (; i < match_length; ++i) {
        const uint8_t byte = io_.ReadByte();
        if (io_.AtEnd()) break;
        tree_.Remove(s);
        ring[s] = byte;
        if (s < kLookAhead - 1) ring[s + kRingSize] = byte;
        s = (s + 1) & kRingMask;
        r = (r + 1) & kRingMask;
        tree_.Insert(r);
      }
      for (; i < match_length; ++i) {
        tree_.Remove(s);
        s = (s + 1) & kRingMask;
        r = (r + 1) & kRingMask;
        if (--len != 0) tree_.Insert(r);
      }
    } while (len > 0);
    out_.Finish();
  }

 private:
  void PutSymbol(unsigned symbol) {
    huffman_.Encode(symbol, [this](const std::array<uint64_t, 10>& words, unsigned length) {
      // Bit length-1 is the root's; send from there down in pieces of up to 32 bits.
      while (length > 0) {
        const unsigned piece = std::min(length, 32u);
        const unsigned low = length - piece;
        uint64_t bits = words[low >> 6] >> (low & 63);
        if ((low & 63) + piece > 64) bits |= words[(low >> 6) + 1] << (64 - (low & 63));
        out_.Put(piece, static_cast<uint32_t>(bits & ((uint64_t{1} << piece) - 1)));
        length = low;
      }
    });
  }

  void PutPosition(unsigned position) {
    const unsigned upper = position >> kPositionLowBits;
    out_.Put(kPositionCode.length[upper], kPositionCode.code[upper]);
    out_.Put(kPositionLowBits, position & ((1u << kPositionLowBits) - 1));
  }

  ByteLayer& io_;
  BitWriter<ByteLayer> out_;
  AdaptiveHuffman huffman_;
  SearchTree tree_;
};

}  // namespace

void EncodeLzh(ByteLayer& io) {
  auto encoder = std::make_unique<LzhEncoder>(io);
  encoder->Run();
}

}  // namespace vorncom::archive

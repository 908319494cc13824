// Decoder of the LZH method (see lzh_encoder.cpp for the stream's shape).

#include <memory>

#include "archive/bits/bit_reader.h"
#include "archive/bits/ring_window.h"
#include "archive/coder_errors.h"
#include "archive/coders.h"
#include "archive/lzh/adaptive_huffman.h"

namespace vorncom::archive {

namespace {

using namespace lzh;

class LzhDecoder {
 public:
  explicit LzhDecoder(ByteLayer& io) : io_(io), in_(io) {
    window_.Fill(' ');
    window_.SetPosition(kStart);
  }

  void Run(int64_t count) {
    int64_t written = 0;
    uint32_t symbols = 0;
    while (written < count) {
      // A cancelled run reads only zeros from here on; stop instead of decoding them. Input that
      // ran out is checked here and at the end, not per symbol.
      if ((++symbols & 0xFFF) == 0) {
        if (io_.cancelled()) return;
        CheckInput();
      }
      const unsigned symbol = DecodeSymbol();
      if (symbol < 256) {
        window_.PutLiteral(static_cast<uint8_t>(symbol), io_);
        ++written;
      } else {
        const unsigned length = symbol - (255 - kThreshold);
        const unsigned position = DecodePosition();
        window_.CopyMatch(window_.position() - position - 1, length, io_);
        written += length;
      }
    }
    CheckInput();
  }

 private:
  // Symbols read past the stored data are made of zero bits the data does not hold.
  void CheckInput() const {
    if (in_.PastEnd() && !io_.cancelled()) throw ESizeMismatch(kSizeMismatch);
  }

  unsigned DecodeSymbol() {
    // Walk the tree over 32 peeked bits at a time; codes are rarely longer than 20.
    uint32_t bits = in_.Peek(32);
    unsigned used = 0;
    const unsigned symbol = huffman_.Decode([&]() -> unsigned {
      if (used == 32) {
        in_.Skip(32);
        bits = in_.Peek(32);
        used = 0;
      }
      return (bits >> (31 - used++)) & 1;
    });
    in_.Skip(used);
    return symbol;
  }

  unsigned DecodePosition() {
    const unsigned head = in_.Peek(8);
    const unsigned upper = kPositionCode.decode_value[head];
    in_.Skip(kPositionCode.decode_length[head]);
    return (upper << kPositionLowBits) | in_.Read(kPositionLowBits);
  }

  ByteLayer& io_;
  BitReader<ByteLayer> in_;
  RingWindow<12> window_;
  AdaptiveHuffman huffman_;
};

}  // namespace

void DecodeLzh(ByteLayer& io, int64_t count) {
  if (count <= 0) return;
  auto decoder = std::make_unique<LzhDecoder>(io);
  decoder->Run(count);
}

}  // namespace vorncom::archive

// Decoder of the -lh5- bit stream: blocks of static Huffman codes (character/length codes,
// position codes and the code-length codes that describe them) over an 8 KiB window.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "archive/bits/bit_reader.h"
#include "archive/bits/huffman.h"
#include "archive/coder_errors.h"
#include "archive/coders.h"
#include "archive/lh5/lh5_format.h"

namespace vorncom::archive {

namespace {

using namespace lh5;

[[noreturn]] void BadTable() { throw ELZHBadDecodeTable("Bad decode table in archive!"); }

// Codes read past the stored data are made of zero bits the data does not hold: a stream that
// ends early (or is empty) would otherwise decode to its full count. A cancelled run just stops.
void CheckInput(const BitReader<ByteLayer>& in, const ByteLayer& io) {
  if (in.PastEnd() && !io.cancelled()) throw ESizeMismatch(kSizeMismatch);
}

class Lh5Decoder {
 public:
  explicit Lh5Decoder(ByteLayer& io) : io_(io), in_(io) { window_.fill(' '); }

  // The hot loop keeps the bit buffer, tables and window position in locals: the byte layer
  // is called for every byte, and members would be reloaded after each call.
  void Run(int64_t count) {
    BitReader<ByteLayer> in = in_;
    uint8_t* const window = window_.data();
    // Decoded bytes wait in the window from `pending` to `pos` and go out in bulk when the
    // window fills, or when the run ends.
    unsigned pos = 0, pending = 0;
    auto flush = [&] {
      io_.WriteBytes(window + pending, pos - pending);
      pending = pos;
    };
    auto advance = [&] {
      if (++pos == kWindowSize) {
        flush();
        pos = pending = 0;
      }
    };
    int64_t written = 0;
    const DecodeTable::View chars = char_table_.view();
    const DecodeTable::View positions = position_table_.view();
    // Input is checked at each block and after every window of output, not per code: the inner
    // loop ends at the nearer of the count and the next check.
    while (written < count) {
      const int64_t stop = std::min<int64_t>(count, written + kWindowSize);
      while (written < stop) {
        if (block_left_ == 0) {
          // A cancelled run reads only zeros from here on; stop instead of decoding them.
          if (io_.cancelled()) {
            count = written;
            break;
          }
          in_ = in;
          ReadBlockHeader();
          in = in_;
          CheckInput(in, io_);
        }
        --block_left_;
        unsigned length;
        const unsigned code = chars.Lookup<kCharCodes, kCharTableBits>(in.Peek(32), length);
        in.Skip(length);
        if (code < 256) {
          window[pos] = static_cast<uint8_t>(code);
          advance();
          ++written;
          continue;
        }
        const unsigned match = code - (256 - kThreshold);
        // The position value (distance - 1): its bit count, then the bits below the top one.
        const unsigned width =
            positions.Lookup<kPositionCodes, kSmallTableBits>(in.Peek(32), length);
        in.Skip(length);
        const unsigned value = width <= 1 ? width : (1u << (width - 1)) + in.Read(width - 1);
        unsigned from = (pos - value - 1) & (kWindowSize - 1);
        written += match;
        if (pos + match < kWindowSize && from + match <= kWindowSize) {
          // Nothing wraps and the window does not fill: copy in one go. A source at least the
          // length behind (or a window earlier, read before it is overwritten) is a memmove; a
          // nearer one repeats bytes being written and goes forward one byte at a time.
          if (value + 1 >= match) {
            std::memmove(window + pos, window + from, match);
          } else {
            // The bytes repeat with the distance as period: each copy takes everything written
            // so far since the source, which doubles the step and never overlaps itself.
            const uint8_t* source = window + from;
            uint8_t* to = window + pos;
            for (unsigned left = match; left > 0;) {
              const unsigned n = std::min(left, static_cast<unsigned>(to - source));
              std::memcpy(to, source, n);
              to += n;
              left -= n;
            }
          }
          pos += match;
          continue;
        }
        for (unsigned k = 0; k < match; ++k) {
          window[pos] = window[from];
          from = (from + 1) & (kWindowSize - 1);
          advance();
        }
      }
      CheckInput(in, io_);
    }
    flush();
  }

 private:
  void ReadBlockHeader() {
    block_left_ = in_.Read(kBlockCountBits);
    // A count of zero cannot come from an encoder; reading it as 2^16 keeps going like 0 - 1.
    if (block_left_ == 0) block_left_ = 1u << kBlockCountBits;
    ReadSmallLengths(length_lengths_, kLengthCodes, kLengthCountBits, 3, length_table_);
    ReadCharLengths();
    ReadSmallLengths(position_lengths_, kPositionCodes, kPositionCountBits, -1, position_table_);
  }

  // Lengths of the code-length codes or of the position codes: 3-bit values, 7 extended by
  // unary 1 bits; after the `zero_run_after`-th value a 2-bit count of zero lengths follows.
  template <size_t N>
  void ReadSmallLengths(std::array<uint8_t, N>& lengths, unsigned symbols, unsigned count_bits,
                        int zero_run_after, DecodeTable& table) {
    const unsigned n = in_.Read(count_bits);
    if (n == 0) {
      const unsigned only = in_.Read(count_bits);
      if (only >= symbols) BadTable();
      table.BuildSingle(only);
      return;
    }
    if (n > symbols) BadTable();
    lengths.fill(0);
    unsigned i = 0;
    while (i < n) {
      unsigned len = in_.Peek(3);
      if (len == 7) {
        uint32_t next = in_.Peek(32) << 3;
        while (next & 0x80000000u) {
          ++len;
          next <<= 1;
          if (len > kMaxCodeLength) BadTable();
        }
        in_.Skip(len - 3);
      } else {
        in_.Skip(3);
      }
      lengths[i++] = static_cast<uint8_t>(len);
      if (static_cast<int>(i) == zero_run_after) {
        i += in_.Read(2);
        if (i > symbols) BadTable();
      }
    }
    table.Build(std::span<const uint8_t>(lengths.data(), symbols));
  }

  void ReadCharLengths() {
    const unsigned n = in_.Read(kCharCountBits);
    if (n == 0) {
      const unsigned only = in_.Read(kCharCountBits);
      if (only >= kCharCodes) BadTable();
      char_table_.BuildSingle(only);
      return;
    }
    if (n > kCharCodes) BadTable();
    char_lengths_.fill(0);
    unsigned i = 0;
    while (i < n) {
      unsigned bits;
      const unsigned t = length_table_.Lookup(in_.Peek(32), bits);
      in_.Skip(bits);
      if (t == 0) {
        i += 1;
      } else if (t == 1) {
        i += in_.Read(4) + 3;
      } else if (t == 2) {
        i += in_.Read(kCharCountBits) + 20;
      } else {
        char_lengths_[i++] = static_cast<uint8_t>(t - 2);
      }
      if (i > kCharCodes) BadTable();
    }
    char_table_.Build(char_lengths_);
  }

  ByteLayer& io_;
  BitReader<ByteLayer> in_;
  std::array<uint8_t, kWindowSize> window_;
  uint32_t block_left_ = 0;
  std::array<uint8_t, kCharCodes> char_lengths_{};
  std::array<uint8_t, kLengthCodes> length_lengths_{};
  std::array<uint8_t, kPositionCodes> position_lengths_{};
  DecodeTable char_table_{kCharCodes, kCharTableBits};
  DecodeTable length_table_{kLengthCodes, kSmallTableBits};
  DecodeTable position_table_{kPositionCodes, kSmallTableBits};
};

}  // namespace

void DecodeLh5(ByteLayer& io, int64_t count) {
  if (count <= 0) return;
  auto decoder = std::make_unique<Lh5Decoder>(io);
  decoder->Run(count);
}

}  // namespace vorncom::archive

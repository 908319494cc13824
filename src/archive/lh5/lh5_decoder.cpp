// Decoder of the -lh5- bit stream: blocks of static Huffman codes (character/length codes,
// position codes and the code-length codes that describe them) over an 8 KiB window.

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include <vector>

#include "archive/bits/bulk_bit_reader.h"
#include "archive/bits/huffman.h"
#include "archive/coder_errors.h"
#include "archive/coders.h"
#include "archive/lh5/code_table.h"
#include "archive/lh5/lh5_format.h"

namespace vorncom::archive {

namespace {

using namespace lh5;

[[noreturn]] void BadTable() { throw ELZHBadDecodeTable("Bad decode table in archive!"); }

// Output decoded per bulk write, and the buffer: a window of history, the chunk, and room for
// a match that starts just below the chunk's end plus its last partial word.
constexpr size_t kChunk = size_t{64} << 10;
constexpr size_t kLimit = kWindowSize + kChunk;
constexpr size_t kOutSize = kLimit + kMaxMatch + 8;

// Main-table bits: most codes resolve in one lookup, and a block's tables stay cheap to build.
constexpr unsigned kCharMainBits = 12;
constexpr unsigned kPositionMainBits = 8;

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

// Copies `length` bytes from `distance` back to `to`, repeating them where the source overlaps
// what is written. Writes up to 7 bytes past the match (the caller leaves room). Sources at
// least a word back go a word at a time: each word read was written by an earlier step.
inline void CopyMatch(uint8_t* to, unsigned distance, unsigned length) {
  const uint8_t* from = to - distance;
  uint8_t* const end = to + length;
  if (distance >= 8) [[likely]] {
    do {
      Store64(to, Load64(from));
      from += 8;
      to += 8;
    } while (to < end);
  } else if (distance == 1) {
    std::memset(to, *from, length);
  } else {
    // The bytes repeat with the distance as period: each step copies everything written since
    // the source, doubling the step, and never overlaps itself.
    for (unsigned left = length; left > 0;) {
      const unsigned n = std::min(left, static_cast<unsigned>(to - from));
      std::memcpy(to, from, n);
      to += n;
      left -= n;
    }
  }
}

class Lh5Decoder {
 public:
  explicit Lh5Decoder(ByteLayer& io) : io_(io), source_(io), in_(source_), out_(kOutSize) {
    // The history before the first byte is spaces, as every -lh5- coder starts.
    std::fill_n(out_.begin(), kWindowSize, ' ');
  }

  // Output is decoded straight into one linear buffer: the latest window of history, then up to
  // kChunk new bytes, which go out in bulk before the last window is moved to the front. A match
  // source is therefore never split by a wrap, and the room past kLimit lets a match that starts
  // below it copy in whole 8-byte words.
  void Run(int64_t count) {
    // The bit reader lives in a local, in registers: the byte layer's calls would otherwise
    // make the compiler reload and store a member around each of them.
    BulkBitReader in = in_;
    uint8_t* const out = out_.data();
    uint8_t* pos = out + kWindowSize;
    uint8_t* const limit = out + kLimit;
    uint8_t* pending = pos;  // decoded, not yet handed to the byte layer
    int64_t written = 0;
    uint32_t block_left = 0;  // codes left in the block
    // Input is checked at each block and after every window of output, not per code: the inner
    // loop ends at the nearer of the count and the next check.
    while (written < count) {
      const int64_t stop = std::min<int64_t>(count, written + kWindowSize);
      while (written < stop) {
        if (block_left == 0) {
          // A cancelled run reads only zeros from here on; stop instead of decoding them.
          if (io_.cancelled()) {
            count = written;
            break;
          }
          in_ = in;
          block_left = ReadBlockHeader();
          in = in_;
          CheckInput(in);
        }
        if (pos >= limit) {
          io_.WriteBytes(pending, static_cast<size_t>(pos - pending));
          std::memmove(out, pos - kWindowSize, kWindowSize);
          pos = pending = out + kWindowSize;
        }
        // Codes until the block ends or the output reaches `end`: the stop, or the chunk's end.
        // Every code starts below `end`, so a match ends below kLimit + kMaxMatch.
        uint8_t* const start = pos;
        uint8_t* const end = pos + std::min<int64_t>(stop - written, limit - pos);
        // Every code writes a byte at least: with more codes left in the block than bytes to
        // `end`, the block cannot end first and only `end` is watched.
        if (block_left > static_cast<uint32_t>(end - pos)) {
          DecodeCodes<false>(in, pos, end, block_left);
        } else {
          DecodeCodes<true>(in, pos, end, block_left);
        }
        written += pos - start;
      }
      CheckInput(in);
    }
    io_.WriteBytes(pending, static_cast<size_t>(pos - pending));
  }

 private:
  // Decodes codes until the output reaches `end` or (kWatchBlock) the block ends. Every code
  // starts below `end`, so a match ends below kLimit + kMaxMatch.
  template <bool kWatchBlock>
  [[gnu::always_inline]] void DecodeCodes(BulkBitReader& in, uint8_t*& pos_ref, uint8_t* const end,
                                          uint32_t& block_left) const {
    // Locals, not the references: stores of output bytes could alias what they refer to, and
    // the compiler would keep them in memory.
    uint8_t* pos = pos_ref;
    uint32_t left = block_left;
    const uint32_t* const chars = char_table_.data();
    const uint32_t* const positions = position_table_.data();
    do {
      // One refill covers a whole item: a character code (16 bits at most), a position code
      // (16) and its extra bits (12), 44 of the 56 buffered; or three codes.
      in.Refill();
      uint32_t e = chars[in.bits() >> (64 - kCharMainBits)];
      // With room for three codes in the output and the block, literals found in the main table
      // go out without further checks: the common case of data that does not repeat.
      if (end - pos >= 3 && (!kWatchBlock || left >= 3)) {
        if (!CodeTable::IsLiteral(e)) goto other;
        *pos++ = static_cast<uint8_t>(CodeTable::Value(e));
        in.Skip(CodeTable::Bits(e));
        --left;
        e = chars[in.bits() >> (64 - kCharMainBits)];
        if (!CodeTable::IsLiteral(e)) continue;  // looked up again after the refill
        *pos++ = static_cast<uint8_t>(CodeTable::Value(e));
        in.Skip(CodeTable::Bits(e));
        --left;
        e = chars[in.bits() >> (64 - kCharMainBits)];
        if (!CodeTable::IsLiteral(e)) continue;
        *pos++ = static_cast<uint8_t>(CodeTable::Value(e));
        in.Skip(CodeTable::Bits(e));
        --left;
        continue;
      }
    other:
      e = CodeTable::Resolve(chars, kCharMainBits, e, in.bits());
      in.Skip(CodeTable::Bits(e));
      --left;
      if (CodeTable::IsLiteral(e)) {
        *pos++ = static_cast<uint8_t>(CodeTable::Value(e));
        continue;
      }
      const unsigned length = CodeTable::Value(e);  // kThreshold..kMaxMatch
      const uint32_t p = CodeTable::Lookup(positions, kPositionMainBits, in.bits());
      // The position code and its extra bits in one go: the value (distance - 1) is the base
      // plus the low Extra bits of what was consumed; below kWindowSize by construction.
      const unsigned total = CodeTable::Bits(p);
      const auto consumed = static_cast<unsigned>(in.bits() >> (63 - total) >> 1);
      in.Skip(total);
      const unsigned distance =
          CodeTable::Value(p) + (consumed & ((1u << CodeTable::Extra(p)) - 1)) + 1;
      // pos is at least kWindowSize into the buffer, so the source (at most kWindowSize back)
      // is inside it; the copy ends below pos + length + 8 <= kOutSize.
      CopyMatch(pos, distance, length);
      pos += length;
    } while (pos < end && (!kWatchBlock || left != 0));
    pos_ref = pos;
    block_left = left;
  }

  // Codes read past the stored data are made of zero bits the data does not hold: a stream that
  // ends early (or is empty) would otherwise decode to its full count. A cancelled run stops.
  void CheckInput(const BulkBitReader& in) const {
    if (in.PastEnd() && !io_.cancelled()) throw ESizeMismatch(kSizeMismatch);
  }

  // Returns the block's count of codes.
  uint32_t ReadBlockHeader() {
    uint32_t codes = in_.Read(kBlockCountBits);
    // A count of zero cannot come from an encoder; reading it as 2^16 keeps going like 0 - 1.
    if (codes == 0) codes = 1u << kBlockCountBits;
    ReadSmallLengths(length_lengths_, kLengthCodes, kLengthCountBits, 3, length_table_);
    ReadCharLengths();
    ReadSmallLengths(position_lengths_, kPositionCodes, kPositionCountBits, -1, position_table_);
    return codes;
  }

  // The position code set: a Huffman code of the distance's bit count.
  template <size_t N>
  void ReadSmallLengths(std::array<uint8_t, N>& lengths, unsigned symbols, unsigned count_bits,
                        int zero_run_after, CodeTable& table) {
    ReadSmallLengths(lengths, symbols, count_bits, zero_run_after, [&](unsigned only) {
      if (only == kNoSingle) {
        table.Build(std::span<const uint8_t>(lengths.data(), symbols));
      } else {
        table.BuildSingle(only);
      }
    });
  }

  template <size_t N>
  void ReadSmallLengths(std::array<uint8_t, N>& lengths, unsigned symbols, unsigned count_bits,
                        int zero_run_after, DecodeTable& table) {
    ReadSmallLengths(lengths, symbols, count_bits, zero_run_after, [&](unsigned only) {
      if (only == kNoSingle) {
        table.Build(std::span<const uint8_t>(lengths.data(), symbols));
      } else {
        table.BuildSingle(only);
      }
    });
  }

  // Lengths of the code-length codes or of the position codes: 3-bit values, 7 extended by
  // unary 1 bits; after the `zero_run_after`-th value a 2-bit count of zero lengths follows.
  // `build(only)`: the code set has the one symbol `only`, or is in `lengths` (kNoSingle).
  static constexpr unsigned kNoSingle = ~0u;
  template <size_t N, class Build>
  void ReadSmallLengths(std::array<uint8_t, N>& lengths, unsigned symbols, unsigned count_bits,
                        int zero_run_after, Build build) {
    const unsigned n = in_.Read(count_bits);
    if (n == 0) {
      const unsigned only = in_.Read(count_bits);
      if (only >= symbols) BadTable();
      build(only);
      return;
    }
    if (n > symbols) BadTable();
    lengths.fill(0);
    unsigned i = 0;
    while (i < n) {
      in_.Refill();
      unsigned len = static_cast<unsigned>(in_.bits() >> 61);
      if (len == 7) {
        auto next = static_cast<uint32_t>(in_.bits() >> 32) << 3;
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
    build(kNoSingle);
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
      in_.Refill();
      const unsigned t = length_table_.Lookup(static_cast<uint32_t>(in_.bits() >> 32), bits);
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
  BulkBitReader::Source source_;
  BulkBitReader in_;
  std::vector<uint8_t> out_;
  std::array<uint8_t, kCharCodes> char_lengths_{};
  std::array<uint8_t, kLengthCodes> length_lengths_{};
  std::array<uint8_t, kPositionCodes> position_lengths_{};
  CodeTable char_table_{CodeTable::Set::kChars, kCharCodes, kCharMainBits};
  DecodeTable length_table_{kLengthCodes, kSmallTableBits};
  CodeTable position_table_{CodeTable::Set::kPositions, kPositionCodes, kPositionMainBits};
};

}  // namespace

void DecodeLh5(ByteLayer& io, int64_t count) {
  if (count <= 0) return;
  auto decoder = std::make_unique<Lh5Decoder>(io);
  decoder->Run(count);
}

}  // namespace vorncom::archive

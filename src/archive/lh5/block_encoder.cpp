#include "archive/lh5/block_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

namespace vorncom::archive::lh5 {

namespace {

constexpr unsigned kUnusedCodeBits = 14;

// x * log2(x): the cost of a code set is then total * log2(total) - sum of count * log2(count)
// bits, without a logarithm per symbol. Counts below kTabled come from a table, built once by
// the first encoder; larger ones, a few per block at most, are computed.
constexpr uint32_t kTabled = 4096;

float CountTimesLog(uint32_t x) {
  static const std::array<float, kTabled> table = [] {
    std::array<float, kTabled> t{};
    for (uint32_t i = 2; i < kTabled; ++i) t[i] = static_cast<float>(i * std::log2(i));
    return t;
  }();
  return x < kTabled ? table[x] : static_cast<float>(x * std::log2(x));
}

// Estimated bits of coding counts `a` (+ `b`) with an ideal code, and how many symbols are used.
template <size_t N>
float CodedBits(const std::array<uint32_t, N>& a, const std::array<uint32_t, N>* b,
                unsigned& used) {
  static_assert(N > 0);
  uint32_t total = 0;
  float sum = 0;
  used = 0;
  for (size_t s = 0; s < N; ++s) {
    const uint32_t f = a[s] + (b != nullptr ? (*b)[s] : 0);
    if (f == 0) continue;
    total += f;
    sum += CountTimesLog(f);
    ++used;
  }
  return CountTimesLog(total) - sum;
}

unsigned ExtraBits(unsigned width) { return width > 1 ? width - 1 : 0; }

}  // namespace

BlockEncoder::BlockEncoder(ByteLayer& io) : out_(io), codes_(kMaxItems), positions_(kMaxItems) {
  char_bits_.fill(8);
  for (unsigned w = 0; w < kPositionCodes; ++w) {
    position_bits_[w] = static_cast<uint8_t>(4 + ExtraBits(w));
  }
}

void BlockEncoder::UpdateEstimates() {
  for (unsigned c = 0; c < kCharCodes; ++c) {
    char_bits_[c] =
        static_cast<uint8_t>(char_lengths_[c] != 0 ? char_lengths_[c] : kUnusedCodeBits);
  }
  for (unsigned w = 0; w < kPositionCodes; ++w) {
    const unsigned code = small_lengths_[w] != 0 ? small_lengths_[w] : kUnusedCodeBits;
    position_bits_[w] = static_cast<uint8_t>(code + ExtraBits(w));
  }
}

bool BlockEncoder::ChunkJoins() const {
  unsigned used = 0, chunk_chars = 0, chunk_positions = 0;
  const float together = CodedBits(block_char_freq_, &char_freq_, used) +
                         CodedBits(block_position_freq_, &position_freq_, used);
  const float apart = CodedBits<kCharCodes>(block_char_freq_, nullptr, used) +
                      CodedBits<kPositionCodes>(block_position_freq_, nullptr, used) +
                      CodedBits<kCharCodes>(char_freq_, nullptr, chunk_chars) +
                      CodedBits<kPositionCodes>(position_freq_, nullptr, chunk_positions);
  // The chunk's own code sets: the count, and a few bits per code length.
  const float header =
      40.0f + 4.0f * static_cast<float>(chunk_chars) + 3.0f * static_cast<float>(chunk_positions);
  return together <= apart + header;
}

void BlockEncoder::Commit() {
  for (unsigned c = 0; c < kCharCodes; ++c) block_char_freq_[c] += char_freq_[c];
  for (unsigned w = 0; w < kPositionCodes; ++w) block_position_freq_[w] += position_freq_[w];
  char_freq_.fill(0);
  position_freq_.fill(0);
  block_bytes_ += chunk_bytes_;
  chunk_bytes_ = 0;
  chunk_start_ = items_;
}

void BlockEncoder::EndChunk() {
  if (chunk_start_ != 0 && !ChunkJoins()) SendBlock(chunk_start_);
  Commit();
  // The next chunk takes at most kChunkBytes + 2 bytes.
  if (block_bytes_ + kChunkBytes + 2 > kMaxBlockBytes) SendBlock(items_);
}

void BlockEncoder::Finish() {
  if (items_ > chunk_start_) {
    if (chunk_start_ != 0 && !ChunkJoins()) SendBlock(chunk_start_);
    Commit();
  }
  if (items_ > 0) SendBlock(items_);
  out_.Finish();
}

void BlockEncoder::CountLengthFrequencies() {
  length_freq_.fill(0);
  unsigned n = kCharCodes;
  while (n > 0 && char_lengths_[n - 1] == 0) --n;
  unsigned i = 0;
  while (i < n) {
    const unsigned len = char_lengths_[i++];
    if (len != 0) {
      ++length_freq_[len + 2];
      continue;
    }
    unsigned run = 1;
    while (i < n && char_lengths_[i] == 0) {
      ++i;
      ++run;
    }
    if (run <= 2) {
      length_freq_[0] += run;
    } else if (run <= 18) {
      ++length_freq_[1];
    } else if (run == 19) {
      ++length_freq_[0];
      ++length_freq_[1];
    } else {
      ++length_freq_[2];
    }
  }
}

void BlockEncoder::WriteSmallLengths(const std::array<uint8_t, kLengthCodes>& lengths,
                                     unsigned symbols, unsigned count_bits, int zero_run_after) {
  unsigned n = symbols;
  while (n > 0 && lengths[n - 1] == 0) --n;
  out_.Put(count_bits, n);
  unsigned i = 0;
  while (i < n) {
    const unsigned len = lengths[i++];
    if (len <= 6) {
      out_.Put(3, len);
    } else {
      out_.Put(len - 3, (1u << (len - 3)) - 2);  // 111, then a 1 per step above 7, then 0
    }
    if (static_cast<int>(i) == zero_run_after) {
      while (i < 6 && lengths[i] == 0) ++i;
      out_.Put(2, (i - 3) & 3);
    }
  }
}

void BlockEncoder::WriteCharLengths() {
  unsigned n = kCharCodes;
  while (n > 0 && char_lengths_[n - 1] == 0) --n;
  out_.Put(kCharCountBits, n);
  auto put_code = [this](unsigned t) { out_.Put(small_lengths_[t], small_codes_[t]); };
  unsigned i = 0;
  while (i < n) {
    const unsigned len = char_lengths_[i++];
    if (len != 0) {
      put_code(len + 2);
      continue;
    }
    unsigned run = 1;
    while (i < n && char_lengths_[i] == 0) {
      ++i;
      ++run;
    }
    if (run <= 2) {
      for (unsigned k = 0; k < run; ++k) put_code(0);
    } else if (run <= 18) {
      put_code(1);
      out_.Put(4, run - 3);
    } else if (run == 19) {
      put_code(0);
      put_code(1);
      out_.Put(4, 15);
    } else {
      put_code(2);
      out_.Put(kCharCountBits, run - 20);
    }
  }
}

void BlockEncoder::SendBlock(unsigned count) {
  const HuffmanCode chars = builder_.Build(block_char_freq_, char_lengths_, char_codes_);
  out_.Put(kBlockCountBits, chars.total);  // the count of items
  if (chars.used_symbols >= 2) {
    CountLengthFrequencies();
    const HuffmanCode lens = builder_.Build(length_freq_, small_lengths_, small_codes_);
    if (lens.used_symbols >= 2) {
      WriteSmallLengths(small_lengths_, kLengthCodes, kLengthCountBits, 3);
    } else {
      out_.Put(kLengthCountBits, 0);
      out_.Put(kLengthCountBits, lens.lone_symbol);
    }
    WriteCharLengths();
  } else {
    out_.Put(kLengthCountBits, 0);
    out_.Put(kLengthCountBits, 0);
    out_.Put(kCharCountBits, 0);
    out_.Put(kCharCountBits, chars.lone_symbol);
  }

  const HuffmanCode positions = builder_.Build(
      block_position_freq_, std::span<uint8_t>(small_lengths_.data(), kPositionCodes),
      std::span<uint16_t>(small_codes_.data(), kPositionCodes));
  UpdateEstimates();
  if (positions.used_symbols >= 2) {
    WriteSmallLengths(small_lengths_, kPositionCodes, kPositionCountBits, -1);
  } else {
    out_.Put(kPositionCountBits, 0);
    out_.Put(kPositionCountBits, positions.lone_symbol);
  }

  // Each code with its length in one word: the loop then makes one load per code.
  std::array<uint32_t, kCharCodes> chars_out;
  for (unsigned c = 0; c < kCharCodes; ++c) chars_out[c] = char_lengths_[c] | char_codes_[c] << 8;
  // The position code and the bits below the value's top one go out as one field, at most
  // 16 + 12 bits.
  std::array<uint8_t, kPositionCodes> position_bits;
  std::array<uint32_t, kPositionCodes> position_codes;
  for (unsigned w = 0; w < kPositionCodes; ++w) {
    const unsigned extra = w > 1 ? w - 1 : 0;
    position_bits[w] = static_cast<uint8_t>(small_lengths_[w] + extra);
    position_codes[w] = uint32_t{small_codes_[w]} << extra;
  }
  const uint16_t* const codes = codes_.data();
  const uint16_t* const values = positions_.data();
  // An item is 44 bits at most: the whole of it is added, then stored at once.
  out_.PutEach(count, [&](unsigned i, BulkBitWriter::Pending& out) {
    const unsigned code = codes[i];
    const uint32_t c = chars_out[code];
    out.Add(c & 0xFF, c >> 8);
    if (code >= 256) {
      const unsigned position = values[i];
      const unsigned bits = BitCount(position);
      // The top bit of the value is implied; the mask drops it (and is 0 for values 0 and 1).
      const unsigned low = position & ((1u << bits >> 1) - 1);
      out.Add(position_bits[bits], position_codes[bits] | low);
    }
  });
  // The chunk's items, if any, start the next block.
  std::memmove(codes_.data(), codes_.data() + count, (items_ - count) * sizeof codes_[0]);
  std::memmove(positions_.data(), positions_.data() + count,
               (items_ - count) * sizeof positions_[0]);
  items_ -= count;
  chunk_start_ -= count;
  block_char_freq_.fill(0);
  block_position_freq_.fill(0);
  block_bytes_ = 0;
}

}  // namespace vorncom::archive::lh5

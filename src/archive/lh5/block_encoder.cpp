#include "archive/lh5/block_encoder.h"

#include <algorithm>
#include <span>

namespace vorncom::archive::lh5 {

BlockEncoder::BlockEncoder(ByteLayer& io) : out_(io), buffer_(kBufferSize) {}

void BlockEncoder::StartItem() {
  flag_mask_ >>= 1;
  if (flag_mask_ == 0) {
    flag_mask_ = 0x80;
    if (write_pos_ >= kFlushAt) {
      SendBlock();
      write_pos_ = 0;
    }
    flag_pos_ = write_pos_++;
    buffer_[flag_pos_] = 0;
  }
}

void BlockEncoder::PutLiteral(uint8_t byte) {
  StartItem();
  buffer_[write_pos_++] = byte;
  ++char_freq_[byte];
}

void BlockEncoder::PutMatch(unsigned length, unsigned position) {
  StartItem();
  const unsigned code = MatchCode(length);
  buffer_[flag_pos_] |= static_cast<uint8_t>(flag_mask_);
  buffer_[write_pos_++] = static_cast<uint8_t>(code);  // the low byte; the flag implies +256
  buffer_[write_pos_++] = static_cast<uint8_t>(position >> 8);
  buffer_[write_pos_++] = static_cast<uint8_t>(position);
  ++char_freq_[code];
  ++position_freq_[BitCount(position)];
}

void BlockEncoder::Finish() {
  SendBlock();
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

void BlockEncoder::SendBlock() {
  const HuffmanCode chars = builder_.Build(char_freq_, char_lengths_, char_codes_);
  out_.Put(kBlockCountBits, chars.total);
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

  const HuffmanCode positions =
      builder_.Build(position_freq_, std::span<uint8_t>(small_lengths_.data(), kPositionCodes),
                     std::span<uint16_t>(small_codes_.data(), kPositionCodes));
  if (positions.used_symbols >= 2) {
    WriteSmallLengths(small_lengths_, kPositionCodes, kPositionCountBits, -1);
  } else {
    out_.Put(kPositionCountBits, 0);
    out_.Put(kPositionCountBits, positions.lone_symbol);
  }

  unsigned pos = 0;
  unsigned flags = 0;
  for (uint32_t i = 0; i < chars.total; ++i) {
    if (i % 8 == 0) {
      flags = buffer_[pos++];
    } else {
      flags <<= 1;
    }
    if (flags & 0x80) {
      const unsigned code = buffer_[pos++] + 256u;
      const unsigned position = (buffer_[pos] << 8) | buffer_[pos + 1];
      pos += 2;
      out_.Put(char_lengths_[code], char_codes_[code]);
      const unsigned bits = BitCount(position);
      out_.Put(small_lengths_[bits], small_codes_[bits]);
      if (bits > 1) out_.Put(bits - 1, position & ((1u << (bits - 1)) - 1));
    } else {
      const unsigned code = buffer_[pos++];
      out_.Put(char_lengths_[code], char_codes_[code]);
    }
  }
  char_freq_.fill(0);
  position_freq_.fill(0);
}

}  // namespace vorncom::archive::lh5

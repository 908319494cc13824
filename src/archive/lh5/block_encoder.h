#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "archive/bits/bulk_bit_writer.h"
#include "archive/bits/huffman.h"
#include "archive/byte_layer.h"
#include "archive/lh5/lh5_format.h"

namespace vorncom::archive::lh5 {

// Collects literals and matches of one block while counting code frequencies, and sends each
// full block: the Huffman code sets built from those counts, then every item with its codes.
// A block ends where a 16 KiB buffer of items would fill (a flag byte before every eight items,
// one byte per literal, three per match).
class BlockEncoder {
 public:
  explicit BlockEncoder(ByteLayer& io);

  void PutLiteral(uint8_t byte) {
    StartItem();
    codes_[items_++] = byte;
    ++buffered_;
    ++char_freq_[byte];
  }

  // `position` is the distance minus 1 (0..8191); `length` is 3..256.
  void PutMatch(unsigned length, unsigned position) {
    StartItem();
    const unsigned code = MatchCode(length);
    codes_[items_] = static_cast<uint16_t>(code);
    positions_[items_++] = static_cast<uint16_t>(position);
    buffered_ += 3;
    ++char_freq_[code];
    ++position_freq_[BitCount(position)];
  }

  // Sends what is buffered as the last block and pads the stream to a whole byte.
  void Finish();

  // Estimated bits of a literal and of a match (`position` as for PutMatch), from the codes of
  // the last block sent; before the first, from plain guesses. Codes the last block did not use
  // count as long ones.
  unsigned LiteralBits(uint8_t byte) const { return char_bits_[byte]; }
  unsigned MatchBits(unsigned length, unsigned position) const {
    return char_bits_[MatchCode(length)] + position_bits_[BitCount(position)];
  }

 private:
  static constexpr unsigned kBufferSize = 16384;
  static constexpr unsigned kFlushAt = kBufferSize - 3 * 8;  // room for eight more matches

  void StartItem() {
    if (items_ % 8 == 0) {
      if (buffered_ >= kFlushAt) SendBlock();
      ++buffered_;  // the group's flag byte
    }
  }
  void SendBlock();
  void UpdateEstimates();
  void CountLengthFrequencies();
  void WriteSmallLengths(const std::array<uint8_t, kLengthCodes>& lengths, unsigned symbols,
                         unsigned count_bits, int zero_run_after);
  void WriteCharLengths();

  BulkBitWriter out_;
  HuffmanBuilder builder_;
  // The block's items: character/length codes, and for matches the position value.
  std::vector<uint16_t> codes_;
  std::vector<uint16_t> positions_;
  unsigned items_ = 0;
  unsigned buffered_ = 0;  // bytes the items would take in the buffer

  std::array<uint32_t, kCharCodes> char_freq_{};
  std::array<uint32_t, kPositionCodes> position_freq_{};
  std::array<uint32_t, kLengthCodes> length_freq_{};
  std::array<uint8_t, kCharCodes> char_lengths_{};
  std::array<uint16_t, kCharCodes> char_codes_{};
  // Sized for the larger of the two small sets; the position set uses the first 14.
  std::array<uint8_t, kLengthCodes> small_lengths_{};
  std::array<uint16_t, kLengthCodes> small_codes_{};

  std::array<uint8_t, kCharCodes> char_bits_;
  std::array<uint8_t, kPositionCodes> position_bits_;  // with the bits after the code
};

}  // namespace vorncom::archive::lh5

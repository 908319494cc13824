#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "archive/bits/bulk_bit_writer.h"
#include "archive/bits/huffman.h"
#include "archive/byte_layer.h"
#include "archive/lh5/lh5_format.h"

namespace vorncom::archive::lh5 {

// Collects literals and matches while counting code frequencies, and sends them in blocks:
// the Huffman code sets built from the counts, then every item with its codes. Items come in
// chunks of about 8 KiB of input; at the end of each chunk its estimated cost as a block of its
// own (with its code sets' cost) is weighed against its cost within the block so far, and the
// block is sent before the chunk when the chunk is cheaper apart. A block holds at most 65535
// items, as its count field allows.
class BlockEncoder {
 public:
  explicit BlockEncoder(ByteLayer& io);

  void PutLiteral(uint8_t byte) {
    codes_[items_++] = byte;
    ++char_freq_[byte];
    if (++chunk_bytes_ >= kChunkBytes) EndChunk();
  }

  // `position` is the distance minus 1 (0..8191); `length` is 3..256.
  void PutMatch(unsigned length, unsigned position) {
    const unsigned code = MatchCode(length);
    codes_[items_] = static_cast<uint16_t>(code);
    positions_[items_++] = static_cast<uint16_t>(position);
    ++char_freq_[code];
    ++position_freq_[BitCount(position)];
    if ((chunk_bytes_ += 3) >= kChunkBytes) EndChunk();
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
  // Bytes of input per chunk (a match counts 3, a literal 1), and the most a block may hold:
  // at most one item per byte, so the block's count of items fits its 16 bits.
  static constexpr unsigned kChunkBytes = 2048;
  static constexpr unsigned kMaxBlockBytes = 65535;
  static constexpr unsigned kMaxItems = kMaxBlockBytes;

  void EndChunk();
  // Whether the chunk costs less inside the block than as a block of its own.
  bool ChunkJoins() const;
  // Adds the chunk to the block.
  void Commit();
  // Sends the block: its first `count` items, which its frequencies count.
  void SendBlock(unsigned count);
  void UpdateEstimates();
  void CountLengthFrequencies();
  void WriteSmallLengths(const std::array<uint8_t, kLengthCodes>& lengths, unsigned symbols,
                         unsigned count_bits, int zero_run_after);
  void WriteCharLengths();

  BulkBitWriter out_;
  HuffmanBuilder builder_;
  // The block's items, then the chunk's: character/length codes, and for matches the position
  // value.
  std::vector<uint16_t> codes_;
  std::vector<uint16_t> positions_;
  unsigned items_ = 0;
  unsigned chunk_start_ = 0;  // the chunk's first item
  unsigned chunk_bytes_ = 0;
  unsigned block_bytes_ = 0;

  // Code frequencies of the chunk and of the block before it.
  std::array<uint32_t, kCharCodes> char_freq_{};
  std::array<uint32_t, kPositionCodes> position_freq_{};
  std::array<uint32_t, kCharCodes> block_char_freq_{};
  std::array<uint32_t, kPositionCodes> block_position_freq_{};
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

#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "archive/bits/bulk_bit_writer.h"
#include "archive/bits/huffman.h"
#include "archive/byte_layer.h"
#include "archive/lh5/lh5_format.h"

namespace vorncom::archive::lh5 {

// Collects literals and matches in a 16 KiB block buffer (a flag byte before every eight items
// marks the matches) while counting code frequencies, and sends each full buffer as one block:
// the Huffman code sets built from those counts, then every buffered item with its codes.
class BlockEncoder {
 public:
  explicit BlockEncoder(ByteLayer& io);

  void PutLiteral(uint8_t byte);
  // `position` is the distance minus 1 (0..8191); `length` is 3..256.
  void PutMatch(unsigned length, unsigned position);

  // Sends what is buffered as the last block and pads the stream to a whole byte.
  void Finish();

 private:
  static constexpr unsigned kBufferSize = 16384;
  static constexpr unsigned kFlushAt = kBufferSize - 3 * 8;  // room for eight more matches

  void StartItem();
  void SendBlock();
  void CountLengthFrequencies();
  void WriteSmallLengths(const std::array<uint8_t, kLengthCodes>& lengths, unsigned symbols,
                         unsigned count_bits, int zero_run_after);
  void WriteCharLengths();

  BulkBitWriter out_;
  HuffmanBuilder builder_;
  std::vector<uint8_t> buffer_;
  unsigned write_pos_ = 0;
  unsigned flag_pos_ = 0;
  unsigned flag_mask_ = 0;

  std::array<uint32_t, kCharCodes> char_freq_{};
  std::array<uint32_t, kPositionCodes> position_freq_{};
  std::array<uint32_t, kLengthCodes> length_freq_{};
  std::array<uint8_t, kCharCodes> char_lengths_{};
  std::array<uint16_t, kCharCodes> char_codes_{};
  // Sized for the larger of the two small sets; the position set uses the first 14.
  std::array<uint8_t, kLengthCodes> small_lengths_{};
  std::array<uint16_t, kLengthCodes> small_codes_{};
};

}  // namespace vorncom::archive::lh5

#pragma once

#include <array>
#include <cstdint>

namespace vorncom::archive::lzh {

// Parameters of the LZSS + adaptive Huffman stream.
inline constexpr unsigned kRingSize = 4096;  // bytes of history
inline constexpr unsigned kRingMask = kRingSize - 1;
inline constexpr unsigned kLookAhead = 60;  // longest match, bytes
inline constexpr unsigned kThreshold = 2;   // matches up to this length are literals
inline constexpr unsigned kSymbols = 256 - kThreshold + kLookAhead;  // 314
inline constexpr unsigned kNodes = 2 * kSymbols - 1;                 // 627
inline constexpr unsigned kRoot = kNodes - 1;                        // 626
inline constexpr unsigned kMaxFrequency = 0x8000;
// The ring starts as spaces up to here; input begins at this position.
inline constexpr unsigned kStart = kRingSize - kLookAhead;  // 4036
inline constexpr unsigned kPositionLowBits = 6;

// The symbol of a match of `length` bytes (3..60).
constexpr unsigned MatchSymbol(unsigned length) { return 255 - kThreshold + length; }

// The fixed prefix code of a position's upper 6 bits: 1, 3, 8, 12, 24 and 16 values take
// 3 to 8 bits, codes counted up from 0 in that order.
struct PositionCode {
  std::array<uint8_t, 64> length{};
  std::array<uint8_t, 64> code{};  // right-aligned
  // Indexed by the next 8 stream bits: the upper 6 bits and the code's length.
  std::array<uint8_t, 256> decode_value{};
  std::array<uint8_t, 256> decode_length{};
};

constexpr PositionCode MakePositionCode() {
  PositionCode pc;
  constexpr unsigned kCounts[6] = {1, 3, 8, 12, 24, 16};
  unsigned value = 0;
  unsigned code = 0;
  for (unsigned len = 3; len <= 8; ++len) {
    for (unsigned k = 0; k < kCounts[len - 3]; ++k, ++value, ++code) {
      pc.length[value] = static_cast<uint8_t>(len);
      pc.code[value] = static_cast<uint8_t>(code);
      const unsigned first = code << (8 - len);
      for (unsigned b = 0; b < (1u << (8 - len)); ++b) {
        pc.decode_value[first + b] = static_cast<uint8_t>(value);
        pc.decode_length[first + b] = static_cast<uint8_t>(len);
      }
    }
    code <<= 1;
  }
  return pc;
}

inline constexpr PositionCode kPositionCode = MakePositionCode();

}  // namespace vorncom::archive::lzh

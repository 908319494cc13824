#pragma once

#include <bit>
#include <cstdint>

namespace vorncom::archive::lh5 {

// Parameters of the -lh5- bit stream.
inline constexpr unsigned kWindowBits = 13;
inline constexpr unsigned kWindowSize = 1u << kWindowBits;                // 8192 bytes of history
inline constexpr unsigned kMaxMatch = 256;                                // bytes
inline constexpr unsigned kThreshold = 3;                                 // shortest match, bytes
inline constexpr unsigned kCharCodes = 256 + kMaxMatch - kThreshold + 1;  // 510: bytes, lengths
inline constexpr unsigned kPositionCodes = kWindowBits + 1;               // 14
inline constexpr unsigned kLengthCodes = 16 + 3;  // 19: lengths 0..16 and three zero-run codes
inline constexpr unsigned kCharCountBits = 9;
inline constexpr unsigned kPositionCountBits = 4;
inline constexpr unsigned kLengthCountBits = 5;
inline constexpr unsigned kCharTableBits = 12;
inline constexpr unsigned kSmallTableBits = 8;
inline constexpr unsigned kBlockCountBits = 16;

// The code of a match of `length` bytes in the character/length set.
constexpr unsigned MatchCode(unsigned length) { return length + 256 - kThreshold; }

// Position values (distance - 1) are sent as their bit count, then the bits below the top one.
constexpr unsigned BitCount(unsigned value) { return static_cast<unsigned>(std::bit_width(value)); }

}  // namespace vorncom::archive::lh5

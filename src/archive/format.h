#pragma once

// Byte layout of the archive format: one fixed header, then entries of record + name + stored
// data, nothing after the last entry. Every integer is little-endian; no padding anywhere.
// docs/archive-format.md describes the same layout in prose.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorncom::archive {

// The coding methods; the enumerator value is the index an entry record stores.
enum class TCompressMethod : uint8_t { cmNone = 0, cmRLE = 1, cmLZH = 2, cmCustom = 3, cmLH5 = 4 };

inline constexpr int kMethodCount = 5;
// Three-letter ids in index order; the header carries one of them (or a custom id).
inline constexpr std::array<std::string_view, kMethodCount> kMethodIds = {"NON", "RLE", "LZH",
                                                                          "CUS", "LH5"};

namespace header {
// magic (4) + 0x1A (1) + method id (3) + total size (4) + type (1) + reserved (4) + lock (4)
inline constexpr size_t kMagicOffset = 0, kMagicSize = 5;  // "ZELK" followed by 0x1A
inline constexpr size_t kMethodIdOffset = 5, kMethodIdSize = 3;
inline constexpr size_t kTotalSizeOffset = 8;  // int32: sum of the entries' uncompressed sizes
inline constexpr size_t kTypeOffset = 12;      // byte: archive type
inline constexpr size_t kReservedOffset = 13;  // int32: written 0, never read
inline constexpr size_t kLockOffset = 17;      // int32: 2 when written with a positive key
inline constexpr size_t kSize = 4 + 1 + 3 + 4 + 1 + 4 + 4;
static_assert(kSize == 21);

inline constexpr std::array<uint8_t, kMagicSize> kMagic = {'Z', 'E', 'L', 'K', 0x1A};
inline constexpr uint8_t kTypeMulti = 1;  // caMulti, the only type accepted
}  // namespace header

namespace record {
// name length (2) + DOS date-time (4) + attributes (2) + size (4) + stored size (4)
// + method (1) + checksum (4) + lock (4)
inline constexpr size_t kNameLengthOffset = 0;   // int16: bytes of the name that follows
inline constexpr size_t kDateTimeOffset = 2;     // int32: DOS date (high 16) and time (low 16)
inline constexpr size_t kAttributesOffset = 6;   // int16: Windows attribute word, low half
inline constexpr size_t kSizeOffset = 8;         // int32: uncompressed size
inline constexpr size_t kStoredSizeOffset = 12;  // int32: bytes of stored data after the name
inline constexpr size_t kMethodOffset = 16;      // byte: TCompressMethod index
inline constexpr size_t kChecksumOffset = 17;    // int32: byte sum of the data plus the key
inline constexpr size_t kLockOffset = 21;        // int32: 2 locked, 0 not locked
inline constexpr size_t kSize = 2 + 4 + 2 + 4 + 4 + 1 + 4 + 4;
static_assert(kSize == 25);
}  // namespace record

// The value of both lock flags when a positive key was in force.
inline constexpr int32_t kLocked = 2;

// Windows attribute bits that the Linux file layer maps.
inline constexpr uint16_t kAttrReadOnly = 0x01;
inline constexpr uint16_t kAttrArchive = 0x20;

// A scan needs at least a header and one record to find anything.
inline constexpr size_t kMinimumScanSize = header::kSize + record::kSize;

}  // namespace vorncom::archive

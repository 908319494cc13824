#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The smallest LHA archive framing around one raw coder stream, so independent LHA tools can
// read our -lh1-/-lh5- output and we can read theirs.
namespace vorncom::archive::testing {

struct LhaMember {
  std::string method;  // "-lh5-", "-lh1-", ...
  std::vector<uint8_t> packed;
  uint32_t original_size = 0;
  uint16_t crc = 0;
};

// CRC-16 of LHA (reflected polynomial 0xA001, initial value 0).
uint16_t LhaCrc16(const std::vector<uint8_t>& data);

// One level-0 member named `name` followed by the end-of-archive byte.
std::vector<uint8_t> WrapLevel0(const std::string& method, const std::vector<uint8_t>& packed,
                                const std::vector<uint8_t>& original, const std::string& name);

// The first member of an archive with a level 0, 1 or 2 header; nullopt if it is not one.
std::optional<LhaMember> UnwrapFirst(const std::vector<uint8_t>& archive);

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& data);

}  // namespace vorncom::archive::testing

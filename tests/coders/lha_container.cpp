#include "lha_container.h"

#include <fstream>
#include <iterator>

namespace vorncom::archive::testing {

namespace {

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t GetLe(const std::vector<uint8_t>& in, size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[at + i];
  return value;
}

}  // namespace

uint16_t LhaCrc16(const std::vector<uint8_t>& data) {
  uint16_t crc = 0;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

std::vector<uint8_t> WrapLevel0(const std::string& method, const std::vector<uint8_t>& packed,
                                const std::vector<uint8_t>& original, const std::string& name) {
  std::vector<uint8_t> h = {0, 0};  // header size and checksum, filled in below
  h.insert(h.end(), method.begin(), method.end());
  PutLe(h, static_cast<uint32_t>(packed.size()), 4);
  PutLe(h, static_cast<uint32_t>(original.size()), 4);
  PutLe(h, 0x5A210000u, 4);  // 2025-01-01 00:00 in DOS date and time
  h.push_back(0x20);         // archive attribute
  h.push_back(0);            // header level
  h.push_back(static_cast<uint8_t>(name.size()));
  h.insert(h.end(), name.begin(), name.end());
  PutLe(h, LhaCrc16(original), 2);
  h[0] = static_cast<uint8_t>(h.size() - 2);
  uint8_t sum = 0;
  for (size_t i = 2; i < h.size(); ++i) sum = static_cast<uint8_t>(sum + h[i]);
  h[1] = sum;
  h.insert(h.end(), packed.begin(), packed.end());
  h.push_back(0);
  return h;
}

std::optional<LhaMember> UnwrapFirst(const std::vector<uint8_t>& a) {
  if (a.size() < 24) return std::nullopt;
  LhaMember m;
  m.method.assign(a.begin() + 2, a.begin() + 7);
  uint32_t packed = GetLe(a, 7, 4);
  m.original_size = GetLe(a, 11, 4);
  size_t data = 0;
  switch (a[20]) {
    case 0: {
      data = a[0] + 2u;
      const size_t name_len = a[21];
      m.crc = static_cast<uint16_t>(GetLe(a, 22 + name_len, 2));
      break;
    }
    case 1: {
      // The skip size covers the extended headers too; walk them to find the data.
      data = a[0] + 2u;
      const size_t name_len = a[21];
      m.crc = static_cast<uint16_t>(GetLe(a, 22 + name_len, 2));
      uint32_t next = GetLe(a, data - 2, 2);
      while (next != 0) {
        if (data + next > a.size()) return std::nullopt;
        packed -= next;
        data += next;
        next = GetLe(a, data - 2, 2);
      }
      break;
    }
    case 2: {
      data = GetLe(a, 0, 2);
      m.crc = static_cast<uint16_t>(GetLe(a, 21, 2));
      break;
    }
    default:
      return std::nullopt;
  }
  if (data + packed > a.size()) return std::nullopt;
  m.packed.assign(a.begin() + data, a.begin() + data + packed);
  return m;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

}  // namespace vorncom::archive::testing

#include <array>

#include "archive/coders.h"

namespace vorncom::archive {

void EncodeStored(ByteLayer& io) {
  std::array<uint8_t, ByteLayer::kBufferSize> bytes;
  while (const size_t n = io.ReadBytes(bytes.data(), bytes.size())) io.WriteBytes(bytes.data(), n);
}

void DecodeStored(ByteLayer& io) { EncodeStored(io); }

}  // namespace vorncom::archive

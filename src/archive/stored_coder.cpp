#include "archive/coders.h"

namespace vorncom::archive {

void EncodeStored(ByteLayer& io) {
  for (;;) {
    const uint8_t b = io.ReadByte();
    if (io.AtEnd()) return;
    io.WriteByte(b);
  }
}

void DecodeStored(ByteLayer& io) { EncodeStored(io); }

}  // namespace vorncom::archive

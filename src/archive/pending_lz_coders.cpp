// Placeholder until the LZ coders join the module: encoders report "store instead", so every
// archive still gets written (with the stored method); decoders refuse.
#include <stdexcept>

#include "archive/coders.h"

namespace vorncom::archive {

void EncodeLzh(ByteLayer&) {
  throw EUnableToCompress("Could not compress data, will store instead");
}
void DecodeLzh(ByteLayer&, int64_t) { throw std::logic_error("LZH decoder not built"); }
void EncodeLh5(ByteLayer&) {
  throw EUnableToCompress("Could not compress data, will store instead");
}
void DecodeLh5(ByteLayer&, int64_t) { throw std::logic_error("LH5 decoder not built"); }

}  // namespace vorncom::archive

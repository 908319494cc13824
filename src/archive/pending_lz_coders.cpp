// Placeholder until the LZ coders join the module: encoders report "store instead", so every
// archive still gets written (with the stored method); decoders refuse.
#include "archive/coder_errors.h"

#include "archive/coders.h"

namespace vorncom::archive {

void EncodeLzh(ByteLayer&) {
  throw EUnableToCompress("Could not compress data, will store instead");
}
void DecodeLzh(ByteLayer&, int64_t) { throw ELZHBadDecodeTable("Bad decode table in archive!"); }
void EncodeLh5(ByteLayer&) {
  throw EUnableToCompress("Could not compress data, will store instead");
}
void DecodeLh5(ByteLayer&, int64_t) { throw ELZHBadDecodeTable("Bad decode table in archive!"); }

}  // namespace vorncom::archive

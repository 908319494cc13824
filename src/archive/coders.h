#pragma once

#include <cstdint>

#include "archive/byte_layer.h"

namespace vorncom::archive {

// The coders of the entry methods. Each reads its input and writes its output one byte at a time
// through `io`; encoders read until io.AtEnd(); decoders of the LZ methods stop once they have
// produced `count` bytes (a final match may run past it and is still copied whole: the byte
// layer's budget bounds what is written). A decoder that runs out of input, stored bytes or a
// code's bits, throws ESizeMismatch at once (within a block or 8 KiB of output) unless the run
// was cancelled.

void EncodeStored(ByteLayer& io);
void DecodeStored(ByteLayer& io);

void EncodeRle(ByteLayer& io);
void DecodeRle(ByteLayer& io);

void EncodeLzh(ByteLayer& io);
void DecodeLzh(ByteLayer& io, int64_t count);

// Throws ELZHBadDecodeTable ("Bad decode table in archive!") on a corrupt table.
void EncodeLh5(ByteLayer& io);
void DecodeLh5(ByteLayer& io, int64_t count);

}  // namespace vorncom::archive

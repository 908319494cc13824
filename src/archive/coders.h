#pragma once

#include <cstdint>

#include "archive/byte_layer.h"

namespace vorncom::archive {

// The coders of the entry methods. Each reads its input and writes its output one byte at a time
// through `io`; encoders read until io.AtEnd(). When expanding, the byte layer's budget is the
// entry's size and any byte past it throws ESizeMismatch; decoders of the LZ methods stop once
// they have produced `count` bytes, so a final match that runs past it throws too. An LZ decoder
// that runs out of its codes' bits throws ESizeMismatch soon after (LH5: at the next block or
// 8 KiB of output; LZH: within 4096 codes, or at the end), as does the RLE decoder cut off inside
// a run, unless the run was cancelled. Otherwise the stored and RLE decoders stop at the end of
// their input, and the archiver fails an entry that comes out short like a bad checksum.

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

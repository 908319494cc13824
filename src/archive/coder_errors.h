#pragma once

#include "common/exception.h"

namespace vorncom::archive {

// A corrupt Huffman table in LH5 stored data ("Bad decode table in archive!").
VORNCOM_EXCEPTION(ELZHBadDecodeTable);

// Stored data that does not expand to the entry's size: a decoder ran out of input, or the output
// would pass the size. The archiver reports it as the entry's checksum failure.
VORNCOM_EXCEPTION(ESizeMismatch);
inline constexpr const char* kSizeMismatch = "Stored data does not expand to the entry's size";

}  // namespace vorncom::archive

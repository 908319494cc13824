#pragma once

#include "common/exception.h"

namespace vorncom::archive {

// A corrupt Huffman table in LH5 stored data ("Bad decode table in archive!").
VORNCOM_EXCEPTION(ELZHBadDecodeTable);

}  // namespace vorncom::archive

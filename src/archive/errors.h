#pragma once

// The archive component's exception families. Each derives directly from vorncom::Exception and
// carries its message exactly; the messages are English by design. EUnableToCompress lives with
// the byte layer and ELZHBadDecodeTable with the coders.

#include <string>
#include <string_view>

#include "archive/byte_layer.h"
#include "archive/coder_errors.h"
#include "common/exception.h"

namespace vorncom::archive {

VORNCOM_EXCEPTION(EInsufficientDiskSpace);
VORNCOM_EXCEPTION(EUnrecognizedCompressionMethod);
VORNCOM_EXCEPTION(EInvalidHeaderArchiveType);
VORNCOM_EXCEPTION(EInvalidHeader);
VORNCOM_EXCEPTION(EBadChecksum);
VORNCOM_EXCEPTION(EInvalidKey);

namespace messages {
inline constexpr std::string_view kUnableToCompress = "Could not compress data, will store instead";
inline constexpr std::string_view kBadDecodeTable = "Bad decode table in archive!";
inline constexpr std::string_view kDiskFullCompressing =
    "Disk protected or full during compression";
inline constexpr std::string_view kDiskFullMerging = "Disk full or write error during compression";
inline constexpr std::string_view kArchiveType = "Archive type must be caMulti";
inline constexpr std::string_view kInvalidHeader = "Can't recognize compressed file header";
inline constexpr std::string_view kBadChecksum =
    "Bad checksum during expansion -- data may be invalid";
inline constexpr std::string_view kInvalidKey = "File locked -- valid key required";
inline constexpr std::string_view kNameLeavesFolder = "Stored name leaves the target folder: ";
}  // namespace messages

// "Unrecognized compression method: "<id>" in header"
std::string UnrecognizedMethodMessage(std::string_view id);

}  // namespace vorncom::archive

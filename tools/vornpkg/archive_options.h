#pragma once

// Option values shared by the commands that read or write archives.

#include <cstdint>
#include <optional>
#include <string>

#include "archive/format.h"
#include "command_table.h"

namespace vornpkg {

// "none", "rle", "lzh", "lh5" (any case).
std::optional<vorncom::archive::TCompressMethod> ParseMethod(const std::string& text);
// Decimal or 0x-hexadecimal, 0..2147483647.
std::optional<int32_t> ParseKey(const std::string& text);
// The method's three-letter id, or "#n" for an index outside the table.
std::string MethodName(uint8_t index);

// Reads --key from the invocation into `key`; prints the error and returns false on a bad value.
bool KeyOption(const Invocation& invocation, int32_t& key);

}  // namespace vornpkg

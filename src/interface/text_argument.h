#pragma once

#include <cstdint>
#include <string>

namespace vorncom::iface {

// A length-prefixed Windows-1252 text argument as UTF-8; a null address is the empty text.
std::string ReadText(const unsigned char* text);

// Writes `utf8` as a length-prefixed Windows-1252 text into a caller's buffer: cut to 255
// characters and then to `capacity` (0 or less writes an empty text). A null buffer is left alone.
void WriteText(unsigned char* buffer, int32_t capacity, const std::string& utf8);

// `utf8` cut to `max_chars` Windows-1252 characters.
std::string CutText(const std::string& utf8, size_t max_chars);

}  // namespace vorncom::iface

#pragma once

#include <string>
#include <string_view>

namespace vorncom {

// Windows-1252 text is what crosses the library's edges (export arguments, INI files, archive entry
// names, the server list, origin tags); UTF-8 is used everywhere inside.

// Every byte maps to a character; the five unassigned bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to
// the C1 control of the same value, as Windows does, so the round trip is lossless.
std::string Cp1252ToUtf8(std::string_view cp1252);

// Characters with no Windows-1252 form become '?', and so does each byte of a malformed sequence.
std::string Utf8ToCp1252(std::string_view utf8);

// Appends the UTF-8 form of one code point.
void AppendUtf8(std::string& out, char32_t code_point);

// Case folding of Windows-1252 letters (A-Z and the accented Latin-1 capitals), as Windows'
// case-insensitive comparisons of names do. Operates on Windows-1252 bytes.
char Cp1252ToUpper(char c);
char Cp1252ToLower(char c);

// Case-insensitive equality of two UTF-8 strings under the Windows-1252 folding above.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string ToUpperUtf8(std::string_view utf8);

}  // namespace vorncom

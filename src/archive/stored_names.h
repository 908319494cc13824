#pragma once

// Stored names use '\' as separator and compare ignoring the case of A-Z only; paths on disk
// use '/'.

#include <optional>
#include <string>
#include <string_view>

namespace vorncom::archive {

// Equality ignoring the case of the letters A to Z; every other byte must match.
bool SameStoredName(std::string_view a, std::string_view b);
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

// '/' becomes '\' (the form written into an archive) and back.
std::string ToStoredSeparators(std::string_view path);
std::string ToDiskSeparators(std::string_view stored);

// The part after the last '\' or '/'.
std::string FileNamePart(std::string_view name);

// A stored or disk path as a path under whatever folder it is joined to, with '/': leading,
// doubled and trailing separators and "." components drop out (so an absolute name becomes
// relative). Nothing when a ".." component could climb out of that folder. May be empty.
std::optional<std::string> PathInsideFolder(std::string_view path);

}  // namespace vorncom::archive

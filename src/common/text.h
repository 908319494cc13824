#pragma once

#include <string_view>

namespace vorncom {

// Space and tab: what a key or value inside one line may be padded with.
inline constexpr std::string_view kBlanks = " \t";
// Blanks plus the '\r' a line keeps when its file was written with CR LF ends.
inline constexpr std::string_view kLineBlanks = " \t\r";

// `s` without the characters of `blanks` at either end; a view into `s`.
std::string_view TrimBlanks(std::string_view s, std::string_view blanks = kBlanks);

// `s` without blanks and control characters (every byte up to ' ') at either end, as the host
// trims the texts it passes in; a view into `s`.
std::string_view TrimControls(std::string_view s);

}  // namespace vorncom

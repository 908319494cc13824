#include "archive/stored_names.h"

#include <algorithm>

namespace vorncom::archive {
namespace {

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool SameStoredName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldAscii(x) == FoldAscii(y);
         });
}

bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameStoredName(text.substr(0, prefix.size()), prefix);
}

std::string ToStoredSeparators(std::string_view path) {
  std::string s(path);
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

std::string ToDiskSeparators(std::string_view stored) {
  std::string s(stored);
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

std::string FileNamePart(std::string_view name) {
  const auto cut = name.find_last_of("\\/");
  return std::string(cut == std::string_view::npos ? name : name.substr(cut + 1));
}

std::optional<std::string> PathInsideFolder(std::string_view path) {
  std::string relative;
  const std::string disk = ToDiskSeparators(path);
  size_t start = 0;
  while (start <= disk.size()) {
    size_t end = disk.find('/', start);
    if (end == std::string::npos) end = disk.size();
    const std::string_view part = std::string_view(disk).substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return std::nullopt;
    if (!relative.empty()) relative += '/';
    relative += part;
  }
  return relative;
}

}  // namespace vorncom::archive

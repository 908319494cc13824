#include "archive_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace vornpkg {
using vorncom::archive::TCompressMethod;

std::optional<TCompressMethod> ParseMethod(const std::string& text) {
  std::string t = text;
  std::transform(t.begin(), t.end(), t.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (t == "none" || t == "non") return TCompressMethod::cmNone;
  if (t == "rle") return TCompressMethod::cmRLE;
  if (t == "lzh") return TCompressMethod::cmLZH;
  if (t == "lh5") return TCompressMethod::cmLH5;
  return std::nullopt;
}

std::optional<int32_t> ParseKey(const std::string& text) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < 0 || v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(v);
}

std::string MethodName(uint8_t index) {
  if (index < vorncom::archive::kMethodCount)
    return std::string(vorncom::archive::kMethodIds[index]);
  return "#" + std::to_string(index);
}

bool KeyOption(const Invocation& invocation, int32_t& key) {
  key = 0;
  const auto text = invocation.Value("--key");
  if (!text) return true;
  const auto parsed = ParseKey(*text);
  if (!parsed) {
    PrintError("invalid key '" + *text + "': expected a number from 0 to 2147483647");
    return false;
  }
  key = *parsed;
  return true;
}

}  // namespace vornpkg

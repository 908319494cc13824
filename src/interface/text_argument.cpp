#include "interface/text_argument.h"

#include <algorithm>
#include <cstring>

#include "common/cp1252.h"
#include "interface/library_state.h"

namespace vorncom::iface {

std::string ReadText(const unsigned char* text) {
  if (!text) return {};
  return Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(text + 1), text[0]));
}

void WriteText(unsigned char* buffer, int32_t capacity, const std::string& utf8) {
  if (!buffer) return;
  std::string bytes = Utf8ToCp1252(utf8);
  size_t n = std::min(bytes.size(), kMaxTextLength);
  n = std::min(n, static_cast<size_t>(std::max<int32_t>(capacity, 0)));
  buffer[0] = static_cast<unsigned char>(n);
  std::memcpy(buffer + 1, bytes.data(), n);
}

std::string CutText(const std::string& utf8, size_t max_chars) {
  const std::string bytes = Utf8ToCp1252(utf8);
  if (bytes.size() <= max_chars) return utf8;
  return Cp1252ToUtf8(std::string_view(bytes).substr(0, max_chars));
}

}  // namespace vorncom::iface

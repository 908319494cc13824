#include "package/origin_tag.h"

#include "common/cp1252.h"

namespace vorncom::package {
namespace {

unsigned char UpperForTag(unsigned char c) {
  if (c == 0xFF) return c;
  return static_cast<unsigned char>(Cp1252ToUpper(static_cast<char>(c)));
}

}  // namespace

std::string ComputeOriginTagCp1252(std::string_view file_name) {
  const auto n = static_cast<long>(file_name.size());
  // 1-based position; outside the name counts as code 0.
  auto at = [&](long i) -> unsigned char {
    if (i < 1 || i > n) return 0;
    return UpperForTag(static_cast<unsigned char>(file_name[static_cast<size_t>(i - 1)]));
  };
  std::string tag = "Vorn";
  for (const long i : {1L, n, 2L, n - 1, n - 2}) {
    tag += static_cast<char>(static_cast<unsigned char>(at(i) + 1));
  }
  return tag;
}

std::string ComputeOriginTag(std::string_view file_name) {
  return Cp1252ToUtf8(ComputeOriginTagCp1252(Utf8ToCp1252(file_name)));
}

bool OriginTagMatches(std::string_view stored_tag, std::string_view file_name) {
  return ToUpperUtf8(stored_tag) == ToUpperUtf8(ComputeOriginTag(file_name));
}

}  // namespace vorncom::package

#include "package/control_files.h"

#include <cstdio>
#include <filesystem>

namespace vorncom::package {
namespace {

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  size_t pos = 0;
  while (true) {
    const size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace

Variant NewProtocolData() { return Variant::Array(1, pd::kCount); }

std::string EncodeLineBreaks(std::string_view text) { return ReplaceAll(text, "\r\n", "<CRLF>"); }

std::string DecodeLineBreaks(std::string_view text) { return ReplaceAll(text, "<CRLF>", "\r\n"); }

std::string ValidationFolderName(const std::string& work_folder, const std::string& package_name,
                                 OleDate now) {
  // A name without '.' contributes nothing: the folder is then named by the time alone.
  const size_t dot = package_name.find('.');
  std::string stem = dot == std::string::npos ? std::string() : package_name.substr(0, dot);
  // The folder's name must fit where the package's own name did (255 bytes) with the time
  // added; a cut never splits a UTF-8 character.
  constexpr size_t kMaxStem = 255 - 6;
  if (stem.size() > kMaxStem) {
    size_t cut = kMaxStem;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    stem.resize(cut);
  }
  const CivilDateTime c = ToCivil(now);
  char time[16];
  std::snprintf(time, sizeof time, "%02d%02d%02d", c.hour, c.minute, c.second);
  return work_folder + stem + time + "/";
}

Variant SingleNameList(const std::string& name) {
  Variant list = Variant::Array(0, 1);
  list.At(0) = Variant(name);
  return list;
}

std::string FileNameOf(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace vorncom::package

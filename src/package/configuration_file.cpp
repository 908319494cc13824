#include "package/configuration_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "common/atomic_file.h"
#include "common/cp1252.h"

namespace vorncom::package {

std::optional<std::string> ToCp1252Exactly(const std::string& utf8) {
  std::string bytes = Utf8ToCp1252(utf8);
  if (Cp1252ToUtf8(bytes) != utf8) return std::nullopt;
  return bytes;
}

std::optional<int32_t> ParseIniInteger(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    i += 2;
    const size_t digits = text.size() - i;
    if (digits == 0 || digits > 8) return std::nullopt;
    uint32_t v = 0;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      int d;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
      } else {
        return std::nullopt;
      }
      v = v * 16 + static_cast<uint32_t>(d);
    }
    if (negative) v = 0u - v;
    return static_cast<int32_t>(v);
  }
  if (i == text.size()) return std::nullopt;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
    if (v > int64_t{2147483648}) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(v);
}

TConfigurationFile::TConfigurationFile(std::string file_name, bool create_folder)
    : file_name_(std::move(file_name)) {
  try {
    if (file_name_.empty()) throw EIniFileError("Cannot open file \"\": empty file name");
    if (create_folder) {
      const auto folder = std::filesystem::path(file_name_).parent_path();
      std::error_code ignored;
      if (!folder.empty()) std::filesystem::create_directory(folder, ignored);
    }
    document_ = Load();
  } catch (const EIniFileError&) {
    throw;
  } catch (const std::exception& e) {
    throw EIniFileError(e.what());
  }
}

TConfigurationFile TConfigurationFile::FromText(std::string_view bytes) {
  TConfigurationFile file;
  file.document_ = IniDocument::Parse(bytes);
  return file;
}

IniDocument TConfigurationFile::Load() const {
  std::error_code ec;
  const auto status = std::filesystem::status(file_name_, ec);
  if (status.type() == std::filesystem::file_type::not_found) return IniDocument();
  if (std::filesystem::is_directory(status)) {
    throw EIniFileError("Cannot open file \"" + file_name_ + "\": " + std::strerror(EISDIR));
  }
  // Control files are a few hundred bytes; a huge one is damage, not something to load.
  const auto size = std::filesystem::file_size(file_name_, ec);
  if (!ec && size > TConfigurationFile::kMaxFileSize) {
    throw EIniFileError("Cannot open file \"" + file_name_ + "\": " + std::to_string(size) +
                        " bytes is too large for a configuration file");
  }
  std::ifstream in(file_name_, std::ios::binary);
  if (!in) {
    throw EIniFileError("Cannot open file \"" + file_name_ + "\": " + std::strerror(errno));
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw EIniFileError("Cannot read file \"" + file_name_ + "\"");
  return IniDocument::Parse(content.str());
}

std::string TConfigurationFile::ReadString(const std::string& section, const std::string& key,
                                           const std::string& default_value) const {
  const auto sec = ToCp1252Exactly(section);
  const auto k = ToCp1252Exactly(key);
  if (!sec || !k) return default_value;
  const auto value = document_.Find(*sec, *k);
  if (!value) return default_value;
  return Cp1252ToUtf8(std::string_view(*value).substr(0, kMaxValueLength));
}

bool TConfigurationFile::KeyExists(const std::string& section, const std::string& key) const {
  return ReadString(section, key, "erro") != "erro";
}

void TConfigurationFile::ReadValue(const std::string& section, const std::string& key,
                                   Variant& value, TConfigValueKind kind) const {
  switch (kind) {
    case TConfigValueKind::vkInteger:
      value = Variant(ParseIniInteger(ReadString(section, key)).value_or(0));
      break;
    case TConfigValueKind::vkBoolean:
      value = Variant(ParseIniInteger(ReadString(section, key)).value_or(0) != 0);
      break;
    case TConfigValueKind::vkString:
      value = Variant(ReadString(section, key));
      break;
  }
}

bool TConfigurationFile::WriteValue(const std::string& section, const std::string& key,
                                    TConfigValueKind kind, const Variant& value) {
  try {
    std::string text;
    switch (kind) {
      case TConfigValueKind::vkInteger:
        text = std::to_string(value.ToInteger());
        break;
      case TConfigValueKind::vkBoolean:
        text = value.ToBoolean() ? "1" : "0";
        break;
      case TConfigValueKind::vkString:
        text = value.ToString();
        break;
    }
    const auto sec = ToCp1252Exactly(section);
    const auto k = ToCp1252Exactly(key);
    const auto v = ToCp1252Exactly(text);
    if (!sec || !k || !v || file_name_.empty()) return false;
    // Another writer may have changed the file since it was opened; its changes are kept.
    IniDocument current = Load();
    if (!current.Set(*sec, *k, *v)) return false;
    WriteFileAtomically(file_name_, current.Serialize());
    document_ = std::move(current);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace vorncom::package

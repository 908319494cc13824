#include "common/registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/atomic_file.h"
#include "common/cp1252.h"
#include "common/text.h"

namespace vorncom {
namespace {

// The registry file is a text file that may have been written with CR LF line ends.
std::string Trim(std::string_view s) { return std::string(TrimBlanks(s, kLineBlanks)); }

// Registry names compare without regard to case; surrounding and doubled backslashes in key
// paths do not matter.
std::string NormalizeKey(const std::string& key) {
  std::string out;
  for (char c : key) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return ToUpperUtf8(out);
}

std::string ToHex(const Registry::Binary& bytes) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : bytes) {
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
  }
  return s;
}

std::optional<Registry::Binary> FromHex(const std::string& s) {
  if (s.size() % 2 != 0) return std::nullopt;
  Registry::Binary out;
  for (size_t i = 0; i < s.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = s.substr(i, 2);
    const long v = std::strtol(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return std::nullopt;
    out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

std::optional<Registry::Value> ParseValue(const std::string& text) {
  if (text.size() < 2 || text[1] != ':') return std::nullopt;
  const std::string data = text.substr(2);
  switch (text[0]) {
    case 's':
      return Registry::Value(data);
    case 'i': {
      char* end = nullptr;
      const long long v = std::strtoll(data.c_str(), &end, 10);
      if (data.empty() || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return std::nullopt;
      return Registry::Value(static_cast<int32_t>(v));
    }
    case 'b':
      if (auto bytes = FromHex(data)) return Registry::Value(*bytes);
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::string FormatValue(const Registry::Value& value) {
  if (auto* s = std::get_if<std::string>(&value)) return "s:" + *s;
  if (auto* i = std::get_if<int32_t>(&value)) return "i:" + std::to_string(*i);
  return "b:" + ToHex(std::get<Registry::Binary>(value));
}

}  // namespace

std::string CleanRegistryName(const std::string& name, bool is_key) {
  std::string out;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80) {
      if ((c & 0xC0) != 0x80) out += ' ';  // one blank per character, not per byte
      continue;
    }
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      (c != 0 && std::strchr("!#$%&-^_~@", c) != nullptr);
    const bool path_mark = c == '.' || c == ':' || c == '\\';
    out += (kept || (is_key && path_mark)) ? static_cast<char>(c) : ' ';
  }
  return Trim(out);
}

Registry::Registry(std::string path) : path_(std::move(path)) {}

std::string Registry::DefaultPath() {
  if (const char* p = std::getenv("VORNCOM_REGISTRY"); p && *p) return p;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = std::string(h) + "/.config";
  } else {
    base = "/tmp";
  }
  return base + "/vorncom/registry";
}

Registry Registry::Default() { return Registry(DefaultPath()); }

std::vector<Registry::Key> Registry::Load() const {
  std::vector<Key> keys;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return keys;
  std::string line;
  Key* current = nullptr;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      const std::string name = line.substr(1, line.size() - 2);
      current = Find(keys, name);
      if (!current) {
        keys.push_back(Key{name, false, {}});
        current = &keys.back();
      }
    } else if (current && line == "!denied") {
      current->denied = true;
    } else if (current) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      // Values that do not parse are left out, as a damaged registry value would be unreadable.
      if (auto value = ParseValue(line.substr(eq + 1))) {
        current->values.emplace_back(Trim(line.substr(0, eq)), *value);
      }
    }
  }
  return keys;
}

void Registry::Save(const std::vector<Key>& keys) const {
  std::ostringstream out;
  out << "# VornCom registry layer; edit with care. Keys are case-insensitive.\n";
  for (const Key& key : keys) {
    out << '[' << key.name << "]\n";
    if (key.denied) out << "!denied\n";
    for (const auto& [name, value] : key.values) out << name << '=' << FormatValue(value) << '\n';
  }
  WriteFileAtomically(path_, out.str(), /*create_folder=*/true);
}

Registry::Key* Registry::Find(std::vector<Key>& keys, const std::string& key) {
  const std::string wanted = NormalizeKey(key);
  for (Key& k : keys) {
    if (NormalizeKey(k.name) == wanted) return &k;
  }
  return nullptr;
}

Registry::OpenResult Registry::OpenKey(const std::string& key) const {
  auto keys = Load();
  const Key* k = Find(keys, key);
  if (!k) return OpenResult::kMissing;
  return k->denied ? OpenResult::kDenied : OpenResult::kOpened;
}

std::optional<Registry::Value> Registry::ReadValue(const std::string& key,
                                                   const std::string& name) const {
  auto keys = Load();
  const Key* k = Find(keys, key);
  if (!k || k->denied) return std::nullopt;
  const std::string wanted = ToUpperUtf8(name);
  for (const auto& [n, v] : k->values) {
    if (ToUpperUtf8(n) == wanted) return v;
  }
  return std::nullopt;
}

void Registry::WriteValue(const std::string& key, const std::string& name, const Value& value) {
  auto keys = Load();
  Key* k = Find(keys, key);
  if (!k) {
    keys.push_back(Key{key, false, {}});
    k = &keys.back();
  }
  const std::string wanted = ToUpperUtf8(name);
  for (auto& [n, v] : k->values) {
    if (ToUpperUtf8(n) == wanted) {
      v = value;
      Save(keys);
      return;
    }
  }
  k->values.emplace_back(name, value);
  Save(keys);
}

void Registry::DeleteValue(const std::string& key, const std::string& name) {
  auto keys = Load();
  Key* k = Find(keys, key);
  if (!k) return;
  const std::string wanted = ToUpperUtf8(name);
  std::erase_if(k->values, [&](const auto& item) { return ToUpperUtf8(item.first) == wanted; });
  Save(keys);
}

void Registry::SetDenied(const std::string& key, bool denied) {
  auto keys = Load();
  Key* k = Find(keys, key);
  if (!k) {
    keys.push_back(Key{key, false, {}});
    k = &keys.back();
  }
  k->denied = denied;
  Save(keys);
}

}  // namespace vorncom

#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/exception.h"

namespace vorncom {

// Stands in for the local-machine registry: a typed key/value store in one text file.
//
// Path: $VORNCOM_REGISTRY, else $XDG_CONFIG_HOME/vorncom/registry (~/.config/vorncom/registry).
// Layout (UTF-8, one item a line, '#' starts a comment line):
//   [SOFTWARE\Mirtal]                 a key; names are case-insensitive, '\' separates levels
//   !denied                           optional: the key exists but cannot be opened
//   DiretorioInstalacao=s:/opt/vorn   a string value
//   Tentativas=i:3                    a 32-bit integer value
//   Limite=b:000000000000F03F         a binary value, hex bytes
// Every change rewrites the whole file atomically (temporary file, flush, rename), so a crash
// never leaves a damaged store. Each call reads the file afresh: several processes may share it.
class Registry {
 public:
  using Binary = std::vector<uint8_t>;
  using Value = std::variant<std::string, int32_t, Binary>;

  enum class OpenResult { kOpened, kMissing, kDenied };

  explicit Registry(std::string path);
  // The store at the default path.
  static Registry Default();
  static std::string DefaultPath();

  const std::string& path() const { return path_; }

  OpenResult OpenKey(const std::string& key) const;
  std::optional<Value> ReadValue(const std::string& key, const std::string& name) const;
  // Creates the key as needed. Throws vorncom::Exception when the file cannot be written.
  void WriteValue(const std::string& key, const std::string& name, const Value& value);
  void DeleteValue(const std::string& key, const std::string& name);
  // Marks a key as existing but unreadable (for tests of the opening failure).
  void SetDenied(const std::string& key, bool denied);

 private:
  struct Key {
    std::string name;  // as first written
    bool denied = false;
    std::vector<std::pair<std::string, Value>> values;
  };
  std::vector<Key> Load() const;
  void Save(const std::vector<Key>& keys) const;
  static Key* Find(std::vector<Key>& keys, const std::string& key);

  std::string path_;
};

// Cleans a registry key path or value name the way the library's registry readers do: letters
// A-Z and a-z, digits and the marks ! # $ % & - ^ _ ~ @ stay (in a key path also '.', ':' and
// '\\'); every other character, accented letters included, becomes one blank; then both ends
// are trimmed of blanks. Works on UTF-8 text.
std::string CleanRegistryName(const std::string& name, bool is_key);

}  // namespace vorncom

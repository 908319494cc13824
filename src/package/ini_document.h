#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorncom::package {

// The text of an INI-layout file held line by line, in Windows-1252 bytes, following the rules
// of the Windows profile functions:
// - a section starts at a line whose first non-blank character is '['; its name runs to the
//   first ']' and is trimmed;
// - inside a section, a line holding '=' (and not starting with ';') is a key: the name before
//   the first '=' and the value after it, both trimmed of blanks and tabs;
// - section and key names match without regard to Windows-1252 letter case; the first matching
//   section and the first matching key in it win;
// - lines before the first section, comments, blank lines and other lines are kept as they are.
// Every line keeps its own line end, so a file that is changed keeps every line it did not touch
// byte for byte. New lines end in CR LF.
class IniDocument {
 public:
  IniDocument() = default;
  // Never fails: any byte sequence is some INI text.
  static IniDocument Parse(std::string_view bytes);
  std::string Serialize() const;

  // The stored value with the outer blanks and one pair of enclosing quotation marks (single or
  // double) removed; nullopt when the section or the key is missing. Not cut to any length.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;

  // Writes `value` under section/key, replacing the value of an existing key in place, else
  // adding the key after the section's last non-blank line, else adding the section at the end.
  // Returns false, and changes nothing, when a name or the value cannot be stored on one line
  // (line breaks or NUL anywhere, ']' in a section name, '=' in a key name, empty names, a key
  // name starting with '[' or ';').
  bool Set(std::string_view section, std::string_view key, std::string_view value);

 private:
  struct Line {
    std::string text;
    std::string end;  // "\r\n", "\n", "\r" or "" for a last line without one
  };
  struct Range {
    size_t header;  // index of the section line
    size_t end;     // one past its last line
  };
  std::optional<Range> FindSection(std::string_view section) const;
  std::optional<size_t> FindKey(const Range& range, std::string_view key) const;

  std::vector<Line> lines_;
};

// Equality of two Windows-1252 texts without regard to letter case.
bool EqualsIgnoreCaseCp1252(std::string_view a, std::string_view b);

}  // namespace vorncom::package

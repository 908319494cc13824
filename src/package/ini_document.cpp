#include "package/ini_document.h"

#include "common/cp1252.h"
#include "common/text.h"

namespace vorncom::package {
namespace {

// Line ends are split off before a line is read, so only space and tab pad a key or value.
std::string_view Trim(std::string_view s) { return TrimBlanks(s); }

// The section name of a header line, or nullopt when the line is no section header.
std::optional<std::string_view> SectionName(std::string_view line) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  std::string_view inner = t.substr(1);
  const size_t close = inner.find(']');
  if (close != std::string_view::npos) inner = inner.substr(0, close);
  return Trim(inner);
}

struct KeyLine {
  std::string_view name;
  size_t value_start;  // offset of the raw value in the line
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return std::nullopt;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return KeyLine{Trim(line.substr(0, eq)), eq + 1};
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

bool EqualsIgnoreCaseCp1252(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && Cp1252ToUpper(a[i]) != Cp1252ToUpper(b[i])) return false;
  }
  return true;
}

IniDocument IniDocument::Parse(std::string_view bytes) {
  IniDocument doc;
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t brk = bytes.find_first_of("\r\n", pos);
    if (brk == std::string_view::npos) {
      doc.lines_.push_back({std::string(bytes.substr(pos)), ""});
      break;
    }
    size_t next = brk + 1;
    if (bytes[brk] == '\r' && next < bytes.size() && bytes[next] == '\n') ++next;
    doc.lines_.push_back(
        {std::string(bytes.substr(pos, brk - pos)), std::string(bytes.substr(brk, next - brk))});
    pos = next;
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const Line& line : lines_) {
    out += line.text;
    out += line.end;
  }
  return out;
}

std::optional<IniDocument::Range> IniDocument::FindSection(std::string_view section) const {
  const std::string_view wanted = Trim(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto name = SectionName(lines_[i].text);
    if (!name || !EqualsIgnoreCaseCp1252(*name, wanted)) continue;
    size_t end = i + 1;
    while (end < lines_.size() && !SectionName(lines_[end].text)) ++end;
    return Range{i, end};
  }
  return std::nullopt;
}

std::optional<size_t> IniDocument::FindKey(const Range& range, std::string_view key) const {
  const std::string_view wanted = Trim(key);
  for (size_t i = range.header + 1; i < range.end; ++i) {
    const auto parsed = ParseKeyLine(lines_[i].text);
    if (parsed && EqualsIgnoreCaseCp1252(parsed->name, wanted)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
  const auto range = FindSection(section);
  if (!range) return std::nullopt;
  const auto index = FindKey(*range, key);
  if (!index) return std::nullopt;
  const std::string_view line = lines_[*index].text;
  std::string_view value = Trim(line.substr(ParseKeyLine(line)->value_start));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view sec = Trim(section);
  const std::string_view k = Trim(key);
  if (sec.empty() || k.empty() || HasLineBreakOrNul(section) || HasLineBreakOrNul(key) ||
      HasLineBreakOrNul(value) || sec.find(']') != std::string_view::npos ||
      k.find('=') != std::string_view::npos || k.front() == '[' || k.front() == ';') {
    return false;
  }
  const std::string new_line = std::string(k) + "=" + std::string(value);

  // A last line without a line end must get one before anything follows it.
  auto terminate_last = [this] {
    if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = "\r\n";
  };

  const auto range = FindSection(sec);
  if (!range) {
    terminate_last();
    lines_.push_back({"[" + std::string(sec) + "]", "\r\n"});
    lines_.push_back({new_line, "\r\n"});
    return true;
  }
  if (const auto index = FindKey(*range, k)) {
    Line& line = lines_[*index];
    line.text = line.text.substr(0, ParseKeyLine(line.text)->value_start) + std::string(value);
    return true;
  }
  size_t insert_at = range->end;
  while (insert_at > range->header + 1 && Trim(lines_[insert_at - 1].text).empty()) --insert_at;
  if (insert_at == lines_.size()) terminate_last();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at), Line{new_line, "\r\n"});
  return true;
}

}  // namespace vorncom::package

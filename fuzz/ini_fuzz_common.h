#pragma once

// Shared by the INI-layout fuzz target and the test that replays its findings. Any byte sequence
// is some INI text, so nothing may throw; a broken invariant traps.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "package/ini_document.h"

namespace vorncom::package::fuzz {

inline void Require(bool condition) {
  if (!condition) __builtin_trap();
}

inline void CheckIniBytes(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  IniDocument doc = IniDocument::Parse(bytes);
  // Reading and writing back loses nothing.
  Require(doc.Serialize() == bytes);

  // Names taken from the input reach whatever they name; the values found are well-formed.
  const size_t cut = size / 3;
  const std::string_view section = bytes.substr(0, std::min<size_t>(cut, 16));
  const std::string_view key = bytes.substr(cut, std::min<size_t>(cut, 16));
  for (const auto& [s, k] : {std::pair{section, key},
                             std::pair{std::string_view("Documento"), std::string_view("C\xF3"
                                                                                       "digo")}}) {
    if (const auto value = doc.Find(s, k)) {
      Require(value->find_first_of("\r\n") == std::string::npos);
    }
    // A value written can be read back, and every other line is kept.
    IniDocument changed = doc;
    if (changed.Set(s, k, "v")) {
      Require(changed.Find(s, k) == std::optional<std::string>("v"));
      Require(IniDocument::Parse(changed.Serialize()).Find(s, k) ==
              std::optional<std::string>("v"));
    }
  }
}

}  // namespace vorncom::package::fuzz

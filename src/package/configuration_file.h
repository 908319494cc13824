#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/exception.h"
#include "common/variant.h"
#include "package/ini_document.h"

namespace vorncom::package {

// Raised when a configuration file cannot be opened; carries the message of the underlying failure.
VORNCOM_EXCEPTION(EIniFileError);

// How ReadValue and WriteValue convert a value.
enum class TConfigValueKind : uint8_t {
  vkInteger = 0,  // signed 32-bit; decimal or "0x" hexadecimal on reading, decimal on writing
  vkBoolean = 1,  // read as an integer, non-zero is true; written as "1" or "0"
  vkString = 2,
};

// A section/key/value file in the Windows INI layout: Windows-1252 text, CR LF line ends, names
// matched without regard to letter case (accented letters included). Names and values cross this
// interface as UTF-8.
//
// Reading never fails: a missing file, section or key gives the kind's default. A value reads
// without its outer blanks and one pair of enclosing quotation marks, and at most
// kMaxValueLength characters of it are returned.
//
// Each WriteValue re-reads the file, changes the one value and replaces the file in one step
// (temporary file in the same folder, flushed and renamed), so that everything else in it —
// other sections and keys, their order, comments, line ends — stays as it was, and a failure
// never leaves a damaged file behind.
class TConfigurationFile {
 public:
  static constexpr size_t kMaxValueLength = 2047;
  // Larger files are refused when opened (EIniFileError).
  static constexpr uintmax_t kMaxFileSize = 16u << 20;

  // With `create_folder`, the last level of the file's folder is created when missing (a failure
  // to do so shows up at the first write). The file need not exist. Throws EIniFileError when the
  // name is empty or an existing file cannot be read or is larger than kMaxFileSize.
  TConfigurationFile(std::string file_name, bool create_folder);
  // Reads `bytes` (the file's content, Windows-1252) as if they were the file; nothing is ever
  // written (WriteValue answers false). Never fails.
  static TConfigurationFile FromText(std::string_view bytes);

  // True when the value read with the default "erro" differs from "erro": a key with an empty
  // value is present, one whose value is exactly "erro" is not.
  bool KeyExists(const std::string& section, const std::string& key) const;

  // Fills `value` with an int32, a bool or a string according to `kind`.
  void ReadValue(const std::string& section, const std::string& key, Variant& value,
                 TConfigValueKind kind) const;
  // The string read, or `default_value` when the section or key is missing.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& default_value = "") const;

  // Answers false, leaving the file as it was, when the value cannot be converted to the kind,
  // cannot be expressed in Windows-1252 on one line, or the file cannot be written. Never throws.
  bool WriteValue(const std::string& section, const std::string& key, TConfigValueKind kind,
                  const Variant& value);

  const std::string& file_name() const { return file_name_; }

 private:
  TConfigurationFile() = default;
  // Throws EIniFileError when an existing file cannot be read.
  IniDocument Load() const;

  IniDocument document_;
  std::string file_name_;
};

// Parses an integer as the typed read does: optional sign, then decimal digits or "0x"/"0X" and
// up to eight hexadecimal digits (taken as a 32-bit pattern); nullopt for anything else, decimal
// values outside int32 included.
std::optional<int32_t> ParseIniInteger(const std::string& text);

// UTF-8 to Windows-1252, or nullopt when a character has no Windows-1252 form (or the text is no
// valid UTF-8): such a name or value cannot be stored, nor match anything stored.
std::optional<std::string> ToCp1252Exactly(const std::string& utf8);

}  // namespace vorncom::package

#pragma once

// Checking a whole archive without writing anything to disk: every entry is expanded into a
// checksum sink, so its size and checksum are proven, and one named entry may be kept in memory.
// What the records claim is checked against the caller's limits before anything is expanded, so
// a small archive that claims a huge expansion costs only the reading of its records.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "archive/byte_layer.h"
#include "common/exception.h"

namespace vorncom::archive {

// The records claim more than the caller allows: refused before any entry is expanded.
VORNCOM_EXCEPTION(EExpansionLimit);

// The largest entry CheckArchive keeps in memory by default.
inline constexpr int64_t kLargestCapturedEntry = int64_t{1} << 20;

struct ArchiveCheckOptions {
  int32_t key = 0;  // for locked entries; 0 fails them
  // Negative: no limit. Otherwise the sum of the records' uncompressed sizes may not exceed it.
  int64_t max_expanded_bytes = -1;
  // Exact, case-sensitive stored name of an entry whose bytes are kept ("": none). When several
  // entries carry the name, the last sound one is kept.
  std::string capture;
  int64_t capture_limit = kLargestCapturedEntry;
  // Stop at the first entry that fails (the rest is not expanded).
  bool stop_at_first_failure = false;
  // Called before each entry is expanded, and after with "" or the entry's error.
  std::function<void(const std::string& name)> on_entry;
  std::function<void(const std::string& name, const std::string& error)> on_result;
  ProgressHandler progress;  // per entry, as the engine calls it
};

struct ArchiveCheck {
  bool has_header = false;    // false: fewer bytes than a header, an empty archive
  int64_t entries = 0;        // entries expanded
  int64_t failed = 0;         // of them, those that failed
  std::string first_failure;  // "NAME: error" of the first entry that failed
  // Bytes after the last complete entry: a record or a name cut short by the end of the file,
  // or a remnant too short for a record. The readers end there quietly; a check reports it.
  int64_t incomplete_tail = 0;
  std::optional<std::string> captured;  // the bytes of the captured entry, when found and sound

  bool sound() const { return failed == 0 && incomplete_tail == 0; }
  // What is wrong, in one line; "" for a sound archive.
  std::string Problem() const;
};

// Walks every entry of the archive in `source` (from its current position to its end; seekable)
// regardless of the header's total. Throws the header errors (EInvalidHeader,
// EInvalidHeaderArchiveType, EUnrecognizedCompressionMethod; custom ids are not recognised),
// EInvalidHeader for record fields that cannot be meant, and EExpansionLimit when the records
// claim more than max_expanded_bytes in all or the captured entry claims more than
// capture_limit. Failures of single entries are counted, not thrown.
ArchiveCheck CheckArchive(std::istream& source, const ArchiveCheckOptions& options = {});
// Throws std::system_error when the file cannot be opened.
ArchiveCheck CheckArchiveFile(const std::string& path, const ArchiveCheckOptions& options = {});

}  // namespace vorncom::archive

#pragma once

// Reading and writing the fixed parts of an archive: the header, the entry records and the names.
// Field positions come from format.h.

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "archive/format.h"

namespace vorncom::archive {

struct ArchiveHeader {
  std::string method_id = "NON";  // three bytes as stored
  int32_t total_size = 0;
  uint8_t type = header::kTypeMulti;
  int32_t reserved = 0;
  int32_t lock = 0;
};

struct EntryRecord {
  int16_t name_length = 0;
  int32_t date_time = 0;
  uint16_t attributes = 0;
  int32_t size = 0;
  int32_t stored_size = 0;
  uint8_t method = 0;
  int32_t checksum = 0;
  int32_t lock = 0;
  bool locked() const { return lock > 0; }
};

std::array<uint8_t, header::kSize> EncodeHeader(const ArchiveHeader& h);
// Throws EInvalidHeader for a wrong magic, EInvalidHeaderArchiveType for a type other than 1.
ArchiveHeader DecodeHeader(std::span<const uint8_t, header::kSize> bytes);

std::array<uint8_t, record::kSize> EncodeRecord(const EntryRecord& r);
EntryRecord DecodeRecord(std::span<const uint8_t, record::kSize> bytes);

// Answers whether an id (UTF-8) that is none of the five built-in ones is readable as cmCustom.
using RecognizeHandler = std::function<void(const std::string& id, bool& recognized)>;

// `raw_id` holds the header's three bytes. Exact, case-sensitive match with the five ids in index
// order; else asks `recognize` (may be empty); throws EUnrecognizedCompressionMethod when nobody
// knows the id.
TCompressMethod RecognizeMethod(const std::string& raw_id, const RecognizeHandler& recognize);

// Walks an archive held in `in` from its current position to its end. The stream must be
// seekable and outlive the reader. Truncation ends the walk quietly (fewer bytes than a record
// or a name); fields that cannot be meant (negative lengths or sizes) throw EInvalidHeader, so a
// corrupt file can neither loop nor make the reader allocate.
class ArchiveReader {
 public:
  struct Entry {
    EntryRecord record;
    std::string name;       // as stored, converted to UTF-8; backslashes kept
    int64_t record_offset;  // position of the record in the stream
    int64_t data_offset;    // position of the stored data
    // Stored bytes that really follow in the stream (less than stored_size when truncated).
    int64_t available;
  };

  explicit ArchiveReader(std::istream& in);

  int64_t remaining();
  // Empty when fewer than header::kSize bytes remain; otherwise the decoded header (throws as
  // DecodeHeader does).
  std::optional<ArchiveHeader> ReadHeader();
  // The next record and name, or empty at the end. Leaves the stream at the stored data, or at
  // the record when it or its name is cut short (remaining() then counts the bytes left over).
  std::optional<Entry> Next();
  // Positions the stream just past the entry's stored data (or at the end when truncated).
  void SkipData(const Entry& entry);

 private:
  std::istream& in_;
  int64_t end_;
};

void WriteHeader(std::ostream& out, const ArchiveHeader& h);
void WriteRecord(std::ostream& out, const EntryRecord& r);

}  // namespace vorncom::archive

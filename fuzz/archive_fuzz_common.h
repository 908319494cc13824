#pragma once

// Shared by the archive fuzz targets and the test that replays their findings. Archive errors
// (vorncom::Exception families) are the expected answer to bad input; anything else escaping,
// a crash or a sanitizer report is a finding.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "archive/archive_io.h"
#include "archive/archiver.h"

namespace vorncom::archive::fuzz {

// Counts what is written and keeps nothing; refuses writes past `limit` (a write error).
class NullBuf : public std::streambuf {
 public:
  int64_t written = 0;
  int64_t limit = INT64_MAX;
  bool capped = false;

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    if (written + n > limit) {
      capped = true;
      return 0;
    }
    written += n;
    return n;
  }
  int_type overflow(int_type c) override {
    return xsputn(nullptr, 1) == 1 ? traits_type::not_eof(c) : traits_type::eof();
  }
};

// A broken rule of the archive, not an answer to bad input: escapes as a finding.
struct RuleBroken : std::logic_error {
  using std::logic_error::logic_error;
};

// Decoding is bounded by the entry size; larger entries are cut off there, which would otherwise
// only make the run slow (data that runs out must fail well before).
inline constexpr int32_t kLargestExpanded = 1 << 16;

inline void ScanBytes(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  TArchiver archiver;
  archiver.OnRecognize = [](const std::string& id, bool& ok) { ok = !id.empty() && id[0] == 'C'; };
  std::vector<ScannedEntry> list;
  try {
    archiver.ScanArchive(in, list);
  } catch (const vorncom::Exception&) {
  }
}

inline void ExpandBytes(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  TArchiver archiver;
  ArchiveReader reader(in);
  try {
    const auto header = reader.ReadHeader();
    if (!header) return;
    const std::string id = header->method_id;
    while (auto entry = reader.Next()) {
      const EntryRecord& r = entry->record;
      NullBuf sink;
      sink.limit = kLargestExpanded;
      std::ostream out(&sink);
      archiver.Key = r.locked() ? 0x5A5A5A5A : 0;
      bool passed = false;
      try {
        archiver.ExpandStream(out, in, r.lock, id, static_cast<TCompressMethod>(r.method),
                              r.checksum, r.size, r.stored_size);
        passed = true;
      } catch (const vorncom::Exception&) {
      } catch (const std::ios_base::failure&) {
        if (!sink.capped) throw;
      }
      // Built-in methods never write past the record's size, and pass only at exactly it.
      if (!sink.capped && r.method != static_cast<uint8_t>(TCompressMethod::cmCustom) &&
          (sink.written > r.size || (passed && sink.written != r.size))) {
        throw RuleBroken("entry " + entry->name + " of " + std::to_string(r.size) +
                         " bytes expanded to " + std::to_string(sink.written));
      }
      reader.SkipData(*entry);
    }
  } catch (const vorncom::Exception&) {
  }
}

}  // namespace vorncom::archive::fuzz

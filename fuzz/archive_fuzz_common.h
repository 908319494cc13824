#pragma once

// Shared by the archive fuzz targets and the test that replays their findings. Archive errors
// (vorncom::Exception families) are the expected answer to bad input; anything else escaping,
// a crash or a sanitizer report is a finding.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "archive/archive_io.h"
#include "archive/archiver.h"

namespace vorncom::archive::fuzz {

// Counts what is written and keeps nothing.
class NullBuf : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

// Decoding is bounded by the entry size; larger entries would only make the run slow.
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
      if (r.size <= kLargestExpanded) {
        NullBuf sink;
        std::ostream out(&sink);
        archiver.Key = r.locked() ? 0x5A5A5A5A : 0;
        try {
          archiver.ExpandStream(out, in, r.lock, id, static_cast<TCompressMethod>(r.method),
                                r.checksum, r.size, r.stored_size);
        } catch (const vorncom::Exception&) {
        }
      }
      reader.SkipData(*entry);
    }
  } catch (const vorncom::Exception&) {
  }
}

}  // namespace vorncom::archive::fuzz

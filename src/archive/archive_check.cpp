#include "archive/archive_check.h"

#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>
#include <streambuf>

#include "archive/archive_io.h"
#include "archive/archiver.h"
#include "archive/errors.h"
#include "archive/file_system.h"
#include "common/cp1252.h"

namespace vorncom::archive {
namespace {

// Keeps nothing: expansion for the size and checksum only.
class DiscardBuf : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

// Reads every record once, so that what the archive claims is known before anything is decoded.
void CheckClaims(std::istream& source, const ArchiveCheckOptions& options) {
  ArchiveReader reader(source);
  if (!reader.ReadHeader()) return;
  int64_t claimed = 0;
  while (auto entry = reader.Next()) {
    claimed += entry->record.size;
    if (!options.capture.empty() && entry->name == options.capture &&
        entry->record.size > options.capture_limit) {
      throw EExpansionLimit("Entry " + entry->name + " claims " +
                            std::to_string(entry->record.size) + " bytes, more than the " +
                            std::to_string(options.capture_limit) + " bytes it may hold");
    }
    reader.SkipData(*entry);
  }
  if (options.max_expanded_bytes >= 0 && claimed > options.max_expanded_bytes) {
    throw EExpansionLimit("The entries claim " + std::to_string(claimed) +
                          " bytes expanded, more than the limit of " +
                          std::to_string(options.max_expanded_bytes) + " bytes");
  }
}

}  // namespace

std::string ArchiveCheck::Problem() const {
  if (failed > 0) {
    return failed == 1 ? first_failure
                       : first_failure + " (" + std::to_string(failed) + " entries failed)";
  }
  if (incomplete_tail > 0) {
    return std::to_string(incomplete_tail) + " bytes at the end hold no complete entry";
  }
  return {};
}

ArchiveCheck CheckArchive(std::istream& source, const ArchiveCheckOptions& options) {
  ArchiveCheck check;
  const auto start = source.tellg();
  CheckClaims(source, options);
  source.clear(source.rdstate() & std::ios::badbit);
  source.seekg(start);

  ArchiveReader reader(source);
  const auto header = reader.ReadHeader();
  // A file too short for a header is an empty archive, not a damaged one.
  if (!header) return check;
  check.has_header = true;
  RecognizeMethod(header->method_id, nullptr);
  const std::string compress_id = Cp1252ToUtf8(header->method_id);

  TArchiver archiver;
  archiver.Key = options.key;
  archiver.OnShowProgress = options.progress;
  while (auto entry = reader.Next()) {
    const EntryRecord& r = entry->record;
    ++check.entries;
    if (options.on_entry) options.on_entry(entry->name);
    const bool capturing = !options.capture.empty() && entry->name == options.capture;
    DiscardBuf discard;
    std::stringbuf kept;
    std::ostream out(capturing ? static_cast<std::streambuf*>(&kept) : &discard);
    std::string error;
    try {
      archiver.ExpandStream(out, source, r.lock, compress_id,
                            static_cast<TCompressMethod>(r.method), r.checksum, r.size,
                            r.stored_size);
      if (capturing) check.captured = kept.str();
    } catch (const vorncom::Exception& e) {
      error = e.what();
    }
    if (options.on_result) options.on_result(entry->name, error);
    if (!error.empty()) {
      if (check.failed++ == 0) check.first_failure = entry->name + ": " + error;
      if (options.stop_at_first_failure) return check;
    }
    reader.SkipData(*entry);
  }
  check.incomplete_tail = reader.remaining();
  return check;
}

ArchiveCheck CheckArchiveFile(const std::string& path, const ArchiveCheckOptions& options) {
  std::ifstream in(path, std::ios::binary);
  if (!in) ThrowFileOpenError(path);
  return CheckArchive(in, options);
}

}  // namespace vorncom::archive

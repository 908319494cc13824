#pragma once

// TArchiver: adds files to archive files, expands entries to files and lists entries. Paths on
// disk are Linux paths (UTF-8, '/'); stored names are Windows-1252 with '\' and are handed to
// and from callers as UTF-8 with '\' kept.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_io.h"
#include "archive/byte_layer.h"
#include "archive/coder_state.h"
#include "archive/errors.h"
#include "archive/file_system.h"
#include "archive/format.h"

namespace vorncom::archive {

enum class TCProcessMode : uint8_t { pmCompress = 0, pmExpand = 1 };

// One entry found by a scan.
struct TCompressedFileInfo {
  int32_t date_time = 0;  // packed DOS format
  uint16_t attributes = 0;
  int32_t size = 0;  // uncompressed
  int32_t stored_size = 0;
  uint8_t method = 0;
  int32_t checksum = 0;  // as stored
  int64_t position = 0;  // of the entry record in the archive
  bool locked = false;
};

struct ScannedEntry {
  std::string name;  // stored name, UTF-8
  TCompressedFileInfo info;
};

// The OnCompress handler writes the stored data of `source` to `dest`, sets `output_size` and
// `checksum`, and may change `compress_id` (which then becomes the header's id).
using TCompressEvent =
    std::function<void(std::ostream& dest, std::istream& source, std::string& compress_id,
                       int32_t& output_size, int32_t& checksum)>;
// The OnExpand handler reads `source_size` bytes, writes `dest_size` bytes and sets `checksum`.
using TExpandEvent =
    std::function<void(std::ostream& dest, std::istream& source, int32_t source_size,
                       int32_t dest_size, const std::string& compress_id, int32_t& checksum)>;
using TRecognizeEvent = RecognizeHandler;
// May change `filepath`; "" skips the file, "*" skips it and ends the operation.
using TFilenameCheckEvent = std::function<void(std::string& filepath, TCProcessMode mode)>;
using TShowProgressEvent = ProgressHandler;
// Expanding: sees each entry about to be expanded, before OnCheckFile; clearing `expand` skips it.
using TEntryCheckEvent = std::function<void(const std::string& stored_name,
                                            const TCompressedFileInfo& info, bool& expand)>;
// Adding: sees the new archive once it is written in full, before it takes the archive's name:
// `added` new entries, then `kept` entries of the old archive, `replaced` old entries left out
// because a new one has the same name. Clearing `commit` drops the new archive and leaves the
// old one (or none) as it was.
using TCommitEvent = std::function<void(size_t added, size_t kept, size_t replaced, bool& commit)>;

class TArchiver {
 public:
  TArchiver();
  ~TArchiver();
  TArchiver(const TArchiver&) = delete;
  TArchiver& operator=(const TArchiver&) = delete;

  // Compressing: a leading part of a path equal to it (A-Z case ignored) is left out of the
  // stored name. Expanding: put in front of every stored name, whose leading '\' is dropped; a
  // stored name with a ".." component is refused (EInvalidHeader) unless OnCheckFile skips or
  // re-maps it. A non-empty value gets a trailing '/'.
  const std::string& TargetPath() const { return target_path_; }
  void SetTargetPath(std::string path);

  bool MakeDirectories = false;
  // Sources that cannot be opened and targets that cannot be created throw std::system_error
  // instead of being skipped.
  bool ExceptionOnFileError = false;
  // Positive: entries written are locked with it; locked entries need it to expand. Zero and
  // negative keys lock nothing.
  int32_t Key = 0;

  TCompressEvent OnCompress;
  TExpandEvent OnExpand;
  TRecognizeEvent OnRecognize;
  TFilenameCheckEvent OnCheckFile;
  TShowProgressEvent OnShowProgress;
  TEntryCheckEvent OnCheckEntry;
  TCommitEvent OnCommit;

  // Adds one file; `file_name` becomes the stored name, or "" when the file was skipped.
  void CompressFile(const std::string& archive_name, std::string& file_name,
                    TCompressMethod method);
  // Adds the files (paths) to the archive, creating it when missing. An existing archive is
  // rebuilt in a temporary file of its own beside it (an AtomicFile): new entries first, then
  // the old entries whose names differ (A-Z case ignored) in their order; the temporary file is
  // flushed and renamed over the archive, so a failure leaves the archive as it was. On return
  // `files` holds the stored names of the files added. Throws EInsufficientDiskSpace on write
  // errors (data that cannot be flushed included), std::system_error when the temporary file
  // cannot be created, EFileReplaceError when it cannot be renamed or the rename flushed.
  void CompressFiles(const std::string& archive_name, std::vector<std::string>& files,
                     TCompressMethod method);
  // Adds one entry holding the bytes of `source` from its current position to its end, as
  // CompressFile adds a file: `stored_name` stands for the file's path (the target path, a drive
  // and OnCheckFile shape it alike) and `info` gives its date and attributes. On return
  // `stored_name` is the name stored, or "" when it was skipped. `source` must be seekable.
  void CompressStreamAs(const std::string& archive_name, std::string& stored_name,
                        std::istream& source, const SourceFileInfo& info, TCompressMethod method);
  // Stored data of one file from the current position of `source` to its end; returns its
  // length. `checksum` includes the key.
  int32_t CompressStream(std::ostream& dest, std::istream& source, int32_t& checksum,
                         std::string& compress_id, TCompressMethod method);
  // Expands one entry whose stored data starts at the current position of `source`, consuming
  // exactly `stored_size` bytes of it. Stored data that does not expand to exactly
  // `uncompressed_size` bytes (built-in methods) fails like a bad checksum, and no more than
  // that many bytes are written. Throws EInvalidKey, EBadChecksum or the coders' errors.
  void ExpandStream(std::ostream& dest, std::istream& source, int32_t lock_flag,
                    const std::string& compress_id, TCompressMethod method, int32_t stored_checksum,
                    int32_t uncompressed_size, int32_t stored_size);
  // Expands the archive in `source` to files: all entries when `names` is null, else those
  // named (A-Z case ignored), after which `names` holds the paths written.
  void ExpandFiles(std::istream& source, std::vector<std::string>* names);
  // Appends one item per entry, reading to the end of the source.
  void ScanArchive(std::istream& source, std::vector<ScannedEntry>& list);
  // Throws std::system_error when the file cannot be opened.
  void ScanArchiveFile(const std::string& archive_name, std::vector<ScannedEntry>& list);

  // The engine: one run over `input_size` bytes of `source`. Returns the bytes written.
  int64_t ProcessStream(std::ostream& dest, std::istream& source, bool locked, bool expand,
                        TCompressMethod method, int64_t count, int64_t input_size,
                        uint32_t& checksum);

 private:
  // The new archive's entries, written at the current position of `dest` after its header.
  // Returns the bytes they hold uncompressed.
  using EntryWriter = std::function<int64_t(std::ostream& dest, std::string& compress_id)>;
  // Builds `archive_name` from the entries `write` adds and, when the archive exists, the old
  // entries of other names; replaces it atomically, as CompressFiles says. `names` comes in
  // holding the paths to add (those of the archive's temporary file, or of a new archive itself,
  // are dropped) and must hold the stored names written once `write` returns.
  void BuildArchive(const std::string& archive_name, std::vector<std::string>& names,
                    TCompressMethod method, const EntryWriter& write);
  // Writes the header and the entries; returns the header and its position in `dest`.
  ArchiveHeader WriteArchive(std::ostream& dest, TCompressMethod method, const EntryWriter& write,
                             int64_t& header_pos);
  // The entries of the files (paths) that can be added; `files` ends up holding their stored
  // names.
  int64_t WriteFileEntries(std::ostream& dest, std::vector<std::string>& files,
                           TCompressMethod method, std::string& compress_id);
  // One entry of `size` bytes from `source`, stored under `raw_name` (Windows-1252).
  void WriteEntry(std::ostream& dest, std::istream& source, int64_t size,
                  const std::string& raw_name, const SourceFileInfo& info, TCompressMethod method,
                  std::string& compress_id);
  // The stored name of `path`; "" skips it, "*" ends the operation (OnCheckFile's answers).
  std::string StoredNameOf(const std::string& path);
  // The old entries copied into the rebuilt archive, and those a new entry replaced.
  struct MergeCounts {
    size_t kept = 0;
    size_t replaced = 0;
  };
  // Appends the entries of `old_archive` whose names are not in `new_names` and rewrites the
  // header with the grown total.
  MergeCounts MergeArchive(const std::string& old_archive, std::ostream& out, ArchiveHeader header,
                           int64_t header_pos, const std::vector<std::string>& new_names);
  int32_t EffectiveKey() const { return Key > 0 ? Key : 0; }

  std::string target_path_;
  std::unique_ptr<TCoderState> state_;
};

}  // namespace vorncom::archive

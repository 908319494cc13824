#pragma once

#include <string>
#include <string_view>

#include "common/exception.h"

namespace vorncom {

// Raised when a file cannot be put in place durably. The message names the file and the
// system's reason. Up to and including kRename the target is as it was; at kFlushFolder the new
// file already holds the target's name but may not survive a crash.
class EFileReplaceError : public Exception {
 public:
  enum class Step { kCreate, kWrite, kFlush, kRename, kFlushFolder };
  EFileReplaceError(Step step, int error, const std::string& message)
      : Exception(message), step_(step), error_(error) {}
  Step step() const { return step_; }
  // The errno of the failure.
  int error() const { return error_; }

 private:
  Step step_;
  int error_;
};

// Creates a new empty file in the folder of `path` that no one else has, with the permissions
// of any new file (0666 less the umask), and returns its name: `path` + ".XXXXXX" (six random
// letters and digits) where the file name leaves room for it, else the short ".vc-XXXXXX".
// Throws EFileReplaceError (kCreate) when no file can be created.
std::string CreateUniqueFileBeside(const std::string& path);

// Flushes the data of the file at `path` to disk. Throws EFileReplaceError (kFlush).
void FlushFile(const std::string& path);

// Makes the latest renames into the folder holding `path` durable. A folder this process may
// not open, or one whose file system cannot flush folders, is passed over; any other failure
// throws EFileReplaceError (kFlushFolder).
void FlushFolderOf(const std::string& path);

// Puts the complete file `from` at `to` (both in one file system), replacing any file there:
// flushes `from`, renames it, flushes the folder of `to`. Throws EFileReplaceError; see its
// steps for what then holds the name `to`.
void MoveFileIntoPlace(const std::string& from, const std::string& to);

// Replaces `path` with `contents` so that either the old or the new file exists at every moment
// (an AtomicFile written in one go). Throws EFileReplaceError. With `create_folder`, missing
// parent folders are created first.
void WriteFileAtomically(const std::string& path, std::string_view contents,
                         bool create_folder = false);

// A temporary file beside `path` (CreateUniqueFileBeside) that replaces `path` on Commit() and
// is removed otherwise. Two writers of one target never share a temporary file; the last
// Commit() wins.
class AtomicFile {
 public:
  // Throws EFileReplaceError (kCreate).
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  const std::string& path() const { return path_; }
  // The temporary file's path, to be written (and closed) by the caller before Commit().
  const std::string& temp_path() const { return temp_path_; }
  // Gives the temporary file the permissions of the file it replaces, if any, then
  // MoveFileIntoPlace. Throws EFileReplaceError; before the rename the temporary file stays
  // (until destruction) and the target is untouched.
  void Commit();

 private:
  std::string path_;
  std::string temp_path_;
  bool committed_ = false;
};

}  // namespace vorncom

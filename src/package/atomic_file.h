#pragma once

#include <string>
#include <string_view>

#include "common/exception.h"

namespace vorncom::package {

// Raised when a replacement file cannot be created, written or put in place. The message names
// the file and the system's reason.
VORNCOM_EXCEPTION(EAtomicFileError);

// A file that replaces `path` only when committed. The bytes go to a temporary file in the same
// folder (so the final rename stays on one file system); Commit() flushes them to disk and renames
// the temporary file over `path`. Until then `path` keeps its old content, and a file that is never
// committed is removed by the destructor. A replaced file keeps its permission bits; a new one gets
// the usual 0666 less the umask.
class AtomicFile {
 public:
  // Creates the temporary file; throws EAtomicFileError when the folder does not take it.
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Throws EAtomicFileError on a failed write.
  void Write(std::string_view bytes);
  // Throws EAtomicFileError when flushing or renaming fails; the old file is then untouched.
  void Commit();

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string temp_path_;
  int fd_ = -1;
  bool committed_ = false;
};

// Replaces the whole content of `path` in one step, as AtomicFile does.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace vorncom::package

#pragma once

#include <string>
#include <string_view>

namespace vorncom {

// Creates a new empty file in the folder of `path` that no one else has, with the permissions
// of any new file (0666 less the umask), and returns its name: `path` + ".XXXXXX" (six random
// letters and digits) where the file name leaves room for it, else the short ".vc-XXXXXX".
// Throws vorncom::Exception when no file can be created.
std::string CreateUniqueFileBeside(const std::string& path);

// Replaces `path` with `contents` so that either the old or the new file exists at every moment:
// the bytes go to a temporary file in the same folder, are flushed to disk, and the temporary
// file is renamed over the original. Throws vorncom::Exception on failure, leaving the original
// untouched. With `create_folder`, missing parent folders are created first.
void WriteFileAtomically(const std::string& path, std::string_view contents,
                         bool create_folder = false);

// A temporary file beside `path` that becomes `path` on Commit() and is removed otherwise.
class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // The temporary file's path, to be written by the caller.
  const std::string& temp_path() const { return temp_path_; }
  // Flushes the temporary file to disk and renames it over the target.
  void Commit();

 private:
  std::string path_;
  std::string temp_path_;
  bool committed_ = false;
};

}  // namespace vorncom

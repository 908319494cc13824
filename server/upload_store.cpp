#include "server/upload_store.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "common/atomic_file.h"

namespace vorncom::server {

namespace fs = std::filesystem;

void MoveIntoStore(const std::string& upload, const std::string& stored, bool& copied) {
  try {
    MoveFileIntoPlace(upload, stored);
    return;
  } catch (const EFileReplaceError& e) {
    if (e.step() != EFileReplaceError::Step::kRename || e.error() != EXDEV) throw;
  }
  // A store on another file system: a copy under a temporary name beside it, flushed, renamed.
  // A crash leaves at most the temporary file, which has no record and is cleared at start-up.
  const std::string temporary = CreateUniqueFileBeside(stored);
  std::error_code ec;
  fs::copy_file(upload, temporary, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    fs::remove(temporary, ec);
    throw EFileReplaceError(EFileReplaceError::Step::kWrite, EIO, "Cannot copy to " + temporary);
  }
  try {
    MoveFileIntoPlace(temporary, stored);
  } catch (const EFileReplaceError& e) {
    if (e.step() != EFileReplaceError::Step::kFlushFolder) fs::remove(temporary, ec);
    copied = e.step() == EFileReplaceError::Step::kFlushFolder;
    throw;
  }
  copied = true;
}

void TakeOutOfStore(const std::string& upload, const std::string& stored, bool copied) {
  if (copied) {
    std::error_code ignored;
    fs::remove(stored, ignored);  // the upload is still where it was
  } else {
    std::rename(stored.c_str(), upload.c_str());
  }
}

}  // namespace vorncom::server

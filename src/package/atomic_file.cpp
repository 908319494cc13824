#include "package/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace vorncom::package {
namespace {

std::string Reason(const std::string& what, const std::string& path, int error) {
  return what + " \"" + path + "\": " + std::strerror(error);
}

std::string FolderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  if (path_.empty()) throw EAtomicFileError("Cannot create file \"\": empty file name");
  const std::filesystem::path p(path_);
  std::string pattern =
      (std::filesystem::path(FolderOf(path_)) / ("." + p.filename().string() + ".XXXXXX")).string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  fd_ = mkstemp(buffer.data());
  if (fd_ < 0) throw EAtomicFileError(Reason("Cannot create file", path_, errno));
  temp_path_.assign(buffer.data());

  struct stat existing {};
  const mode_t mode =
      stat(path_.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~CurrentUmask());
  fchmod(fd_, mode);
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) close(fd_);
  if (!committed_ && !temp_path_.empty()) unlink(temp_path_.c_str());
}

void AtomicFile::Write(std::string_view bytes) {
  if (fd_ < 0) throw EAtomicFileError(Reason("Cannot write to file", path_, EBADF));
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EAtomicFileError(Reason("Cannot write to file", path_, errno));
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void AtomicFile::Commit() {
  if (fd_ < 0) throw EAtomicFileError(Reason("Cannot write to file", path_, EBADF));
  if (fsync(fd_) != 0) throw EAtomicFileError(Reason("Cannot write to file", path_, errno));
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) throw EAtomicFileError(Reason("Cannot write to file", path_, errno));
  if (std::rename(temp_path_.c_str(), path_.c_str()) != 0) {
    throw EAtomicFileError(Reason("Cannot replace file", path_, errno));
  }
  committed_ = true;
  // The rename itself becomes durable once the folder is flushed; a failure here loses nothing
  // that the caller could still act on.
  const int dir = open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  AtomicFile file(path);
  file.Write(bytes);
  file.Commit();
}

}  // namespace vorncom::package

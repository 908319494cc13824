#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/exception.h"

namespace vorncom {
namespace {

std::string MakeTempPath(const std::string& path) {
  std::string templ = path + ".XXXXXX";
  const int fd = mkstemp(templ.data());
  if (fd < 0) {
    throw Exception("Cannot create a temporary file beside " + path + ": " + std::strerror(errno));
  }
  close(fd);
  return templ;
}

void SyncPath(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

AtomicFile::AtomicFile(std::string path)
    : path_(std::move(path)), temp_path_(MakeTempPath(path_)) {}

AtomicFile::~AtomicFile() {
  if (!committed_) unlink(temp_path_.c_str());
}

void AtomicFile::Commit() {
  SyncPath(temp_path_);
  // Keep the permissions of the file being replaced (mkstemp creates 0600).
  struct stat st {};
  if (stat(path_.c_str(), &st) == 0) {
    chmod(temp_path_.c_str(), st.st_mode & 07777);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temp_path_.c_str(), 0666 & ~mask);
  }
  if (std::rename(temp_path_.c_str(), path_.c_str()) != 0) {
    throw Exception("Cannot replace " + path_ + ": " + std::strerror(errno));
  }
  committed_ = true;
  const auto folder = std::filesystem::path(path_).parent_path();
  SyncPath(folder.empty() ? "." : folder.string());
}

void WriteFileAtomically(const std::string& path, std::string_view contents, bool create_folder) {
  if (create_folder) {
    const auto folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  }
  AtomicFile file(path);
  const int fd = open(file.temp_path().c_str(), O_WRONLY | O_TRUNC);
  if (fd < 0) throw Exception("Cannot write " + file.temp_path() + ": " + std::strerror(errno));
  size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = write(fd, contents.data() + done, contents.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      close(fd);
      throw Exception("Cannot write " + file.temp_path() + ": " + std::strerror(err));
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0) throw Exception("Cannot write " + file.temp_path());
  file.Commit();
}

}  // namespace vorncom

#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>

#include "common/exception.h"

namespace vorncom {
namespace {

void SyncPath(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

std::string CreateUniqueFileBeside(const std::string& path) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static constexpr size_t kRandom = 6;
  thread_local std::mt19937_64 rng(std::random_device{}() ^
                                   (static_cast<uint64_t>(getpid()) << 32));
  const size_t slash = path.rfind('/');
  const size_t name_length = slash == std::string::npos ? path.size() : path.size() - slash - 1;
  const std::string stem =
      name_length + 1 + kRandom <= NAME_MAX
          ? path + "."
          : path.substr(0, slash == std::string::npos ? 0 : slash + 1) + ".vc-";
  int err = EEXIST;
  for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
    std::string name = stem;
    for (size_t i = 0; i < kRandom; ++i) name += kLetters[rng() % (sizeof kLetters - 1)];
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      return name;
    }
    err = errno;
  }
  throw Exception("Cannot create a temporary file beside " + path + ": " + std::strerror(err));
}

AtomicFile::AtomicFile(std::string path)
    : path_(std::move(path)), temp_path_(CreateUniqueFileBeside(path_)) {}

AtomicFile::~AtomicFile() {
  if (!committed_) unlink(temp_path_.c_str());
}

void AtomicFile::Commit() {
  SyncPath(temp_path_);
  // Keep the permissions of the file being replaced; a new one keeps those it was created with.
  struct stat st {};
  if (stat(path_.c_str(), &st) == 0) chmod(temp_path_.c_str(), st.st_mode & 07777);
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

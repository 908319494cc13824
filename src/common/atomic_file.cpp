#include "common/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace vorncom {
namespace {

using Step = EFileReplaceError::Step;

[[noreturn]] void Fail(Step step, int error, const std::string& what) {
  throw EFileReplaceError(step, error, what + ": " + std::strerror(error));
}

int FsyncRetrying(int fd) {
  int rc;
  do rc = ::fsync(fd);
  while (rc != 0 && errno == EINTR);
  return rc;
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
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    err = errno;
  }
  Fail(Step::kCreate, err, "Cannot create a temporary file beside " + path);
}

void FlushFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  // A file its owner may write but not read (the mode of the file it replaces) is flushed so.
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) Fail(Step::kFlush, errno, "Cannot flush " + path);
  const int rc = FsyncRetrying(fd);
  const int err = errno;
  ::close(fd);
  if (rc != 0) Fail(Step::kFlush, err, "Cannot flush " + path);
}

void FlushFolderOf(const std::string& path) {
  const auto parent = std::filesystem::path(path).parent_path();
  const std::string folder = parent.empty() ? "." : parent.string();
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    // A folder the process may write but not read cannot be opened to be flushed.
    if (errno == EACCES || errno == EPERM) return;
    Fail(Step::kFlushFolder, errno, "Cannot flush the folder of " + path);
  }
  const int rc = FsyncRetrying(fd);
  const int err = errno;
  ::close(fd);
  // EINVAL: the file system offers no flush for folders; its renames are as durable as it gets.
  if (rc != 0 && err != EINVAL) Fail(Step::kFlushFolder, err, "Cannot flush the folder of " + path);
}

void MoveFileIntoPlace(const std::string& from, const std::string& to) {
  FlushFile(from);
  if (std::rename(from.c_str(), to.c_str()) != 0)
    Fail(Step::kRename, errno, "Cannot replace " + to);
  FlushFolderOf(to);
}

AtomicFile::AtomicFile(std::string path)
    : path_(std::move(path)), temp_path_(CreateUniqueFileBeside(path_)) {}

AtomicFile::~AtomicFile() {
  if (!committed_) ::unlink(temp_path_.c_str());
}

void AtomicFile::Commit() {
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0) ::chmod(temp_path_.c_str(), st.st_mode & 07777);
  try {
    MoveFileIntoPlace(temp_path_, path_);
  } catch (const EFileReplaceError& e) {
    // Renamed already: the temporary name may be someone else's by now.
    if (e.step() == Step::kFlushFolder) committed_ = true;
    throw;
  }
  committed_ = true;
}

void WriteFileAtomically(const std::string& path, std::string_view contents, bool create_folder) {
  if (create_folder) {
    const auto folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  }
  AtomicFile file(path);
  const int fd = ::open(file.temp_path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) Fail(Step::kWrite, errno, "Cannot write " + file.temp_path());
  size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      Fail(Step::kWrite, err, "Cannot write " + file.temp_path());
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) Fail(Step::kWrite, errno, "Cannot write " + file.temp_path());
  file.Commit();
}

}  // namespace vorncom

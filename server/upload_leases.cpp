#include "server/upload_leases.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <utility>

namespace vorncom::server {

bool UploadLeases::Take(const std::string& id, std::function<void()> let_go) {
  std::function<void()> ask;
  {
    std::lock_guard lock(mutex_);
    const auto [it, taken] = holders_.try_emplace(id, std::move(let_go));
    if (taken) return true;
    ask = it->second;
  }
  if (ask) ask();
  return false;
}

bool UploadLeases::TakeIfFree(const std::string& id) {
  std::lock_guard lock(mutex_);
  return holders_.try_emplace(id).second;
}

void UploadLeases::Give(const std::string& id) {
  std::lock_guard lock(mutex_);
  holders_.erase(id);
}

bool UploadLease::Take(const std::string& id, std::string path,
                       const std::function<void()>& let_go) {
  Release();
  if (!leases_.Take(id, let_go)) return false;
  id_ = id;
  path_ = std::move(path);
  if (LockFile()) return true;
  Release();
  return false;
}

bool UploadLease::LockFile() {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  if (lock_ >= 0) ::close(lock_);
  lock_ = fd;
  return true;
}

void UploadLease::Release() {
  if (id_.empty()) return;
  if (lock_ >= 0) ::close(std::exchange(lock_, -1));
  leases_.Give(id_);
  id_.clear();
  path_.clear();
}

}  // namespace vorncom::server

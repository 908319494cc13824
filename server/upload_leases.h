#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace vorncom::server {

// Which session of this server holds which resumable upload, so that no two write one file. A
// holder names how to make it let go: another session that wants the upload asks, and is refused
// until the holder has let go. Thread-safe.
class UploadLeases {
 public:
  // Takes `id` for a holder that `let_go` asks to give it up (it may run on any thread, while
  // the lease is taken, and must not block). False when another holds it; that one is then asked.
  bool Take(const std::string& id, std::function<void()> let_go);
  // Takes `id` only when no one holds it, asking no one.
  bool TakeIfFree(const std::string& id);
  void Give(const std::string& id);

 private:
  std::mutex mutex_;
  std::map<std::string, std::function<void()>> holders_;
};

// One session's hold on a resumable upload: its lease in this server and, through an flock on
// its file, across the servers sharing the incoming folder. The lock is on the file itself, so it
// goes with it into the store; a server that opens the path afterwards finds another file or
// none. Given back when destroyed.
class UploadLease {
 public:
  // `leases` must outlive the lease.
  explicit UploadLease(UploadLeases& leases) : leases_(leases) {}
  ~UploadLease() { Release(); }
  UploadLease(const UploadLease&) = delete;
  UploadLease& operator=(const UploadLease&) = delete;

  // Takes the upload `id`, whose bytes are at `path`, for a holder that `let_go` asks to give it
  // up. False when another session holds it (one of this server is asked to let go) or another
  // server has its file locked.
  bool Take(const std::string& id, std::string path, const std::function<void()>& let_go);
  // Locks the upload's file, when it exists: one not there at Take is locked once created. False
  // when another server holds it.
  bool LockFile();
  void Release();

  bool held() const { return !id_.empty(); }
  const std::string& id() const { return id_; }  // empty when none is held

 private:
  UploadLeases& leases_;
  std::string id_;
  std::string path_;
  int lock_ = -1;  // the flock on the file
};

}  // namespace vorncom::server

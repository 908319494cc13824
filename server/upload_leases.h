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

}  // namespace vorncom::server

#include "server/upload_leases.h"

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

}  // namespace vorncom::server

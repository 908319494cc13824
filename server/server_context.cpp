#include "server/server_context.h"

#include <ctime>
#include <filesystem>
#include <iostream>

#include "server/tls_context.h"

namespace vorncom::server {

namespace {

// Leftovers of a crash before ValidFile and Protocolate are incomplete uploads: never stored.
std::string PrepareFolders(const ServerConfig& config) {
  namespace fs = std::filesystem;
  fs::create_directories(config.data_folder);
  const fs::path incoming = fs::path(config.data_folder) / "incoming";
  fs::remove_all(incoming);
  fs::create_directories(incoming);
  fs::create_directories(fs::path(config.data_folder) / "store");
  fs::create_directories(config.DownloadFolder());
  return (fs::path(config.data_folder) / "registry.db").string();
}

}  // namespace

void Logger::Write(uint64_t session, const std::string& text) {
  if (!enabled_) return;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::lock_guard lock(mutex_);
  std::cerr << stamp << " #" << session << ' ' << text << '\n';
}

ServerContext::ServerContext(ServerConfig c)
    : config(std::move(c)),
      incoming_folder(config.data_folder + "/incoming"),
      store_folder(config.data_folder + "/store"),
      download_folder(config.DownloadFolder()),
      registry(PrepareFolders(config), config.protocol_prefix),
      log(config.log_sessions),
      tls_(LoadServerTls(config)) {
  // A crash between moving an upload into the store and committing its record leaves a stored
  // file without a protocol number; it was never protocolated, so it goes.
  namespace fs = std::filesystem;
  for (const auto& entry : fs::directory_iterator(store_folder)) {
    const std::string name = entry.path().filename().string();
    if (!registry.HasStoredName(name)) {
      log.Write(0, "removido do armazenamento sem registro: " + name);
      std::error_code ignored;
      fs::remove(entry.path(), ignored);
    }
  }
}

std::shared_ptr<ssl_ctx_st> ServerContext::Tls() const {
  std::lock_guard lock(tls_mutex_);
  return tls_;
}

void ServerContext::ReloadTls() {
  auto fresh = LoadServerTls(config);
  std::lock_guard lock(tls_mutex_);
  tls_ = std::move(fresh);
}

}  // namespace vorncom::server

#include "server/server_context.h"

#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>

#include "server/tls_context.h"

namespace vorncom::server {

namespace {

constexpr char kResumablePrefix[] = "resume-";
constexpr char kPartSuffix[] = ".part";

int64_t Seconds() { return static_cast<int64_t>(std::time(nullptr)); }

std::string PrepareFolders(const ServerConfig& config) {
  namespace fs = std::filesystem;
  fs::create_directories(config.data_folder);
  fs::create_directories(fs::path(config.data_folder) / "incoming");
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
  ClearIncoming();
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

std::string ServerContext::ResumablePath(const std::string& id) const {
  return incoming_folder + "/" + kResumablePrefix + id + kPartSuffix;
}

// Leftovers of a crash before ValidFile and Protocolate are incomplete uploads, never stored;
// only those that can still be resumed stay, cut back to what was recorded as flushed (bytes
// after it may be torn).
void ServerContext::ClearIncoming() {
  namespace fs = std::filesystem;
  const int64_t cutoff = Seconds() - std::chrono::seconds(config.resume_hours).count();
  for (const UploadRecord& upload : registry.OpenUploads(cutoff)) registry.ExpireUpload(upload.id);
  std::map<std::string, UploadRecord> kept;
  for (UploadRecord& upload : registry.OpenUploads(INT64_MAX))
    kept.emplace(ResumablePath(upload.id), std::move(upload));
  for (const auto& entry : fs::directory_iterator(incoming_folder)) {
    const std::string path = entry.path().string();
    const auto it = kept.find(path);
    std::error_code ec;
    if (it == kept.end() || !entry.is_regular_file(ec)) {
      fs::remove_all(entry.path(), ec);
      continue;
    }
    const UploadRecord& upload = it->second;
    const auto size = static_cast<int64_t>(fs::file_size(entry.path(), ec));
    if (ec) continue;
    if (size > upload.held) {
      fs::resize_file(entry.path(), static_cast<uintmax_t>(upload.held), ec);
      if (ec) {
        fs::remove(entry.path(), ec);
        continue;
      }
    } else if (size < upload.held) {
      // The disk kept less than it confirmed: what is there is all that is held.
      registry.RecordHeld(upload.id, size, upload.moved);
    }
    kept.erase(it);
  }
  for (const auto& [path, upload] : kept) {
    log.Write(0, "envio " + upload.id + " sem arquivo: expirado");
    registry.ExpireUpload(upload.id);
  }
}

void ServerContext::ExpireUploads() {
  const int64_t cutoff = Seconds() - std::chrono::seconds(config.resume_hours).count();
  for (const UploadRecord& upload : registry.OpenUploads(cutoff)) {
    // Taken for the moment of its removal, so that no session resumes it meanwhile.
    if (!leases.TakeIfFree(upload.id)) continue;
    registry.ExpireUpload(upload.id);
    std::error_code ignored;
    std::filesystem::remove(ResumablePath(upload.id), ignored);
    leases.Give(upload.id);
    log.Write(0, "envio " + upload.id + " expirado");
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

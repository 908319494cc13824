#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "server/config.h"
#include "server/measured_registry.h"
#include "server/metrics.h"
#include "server/registry.h"
#include "server/upload_leases.h"

struct ssl_ctx_st;

namespace vorncom::server {

// One JSON object per line: {"time":"…Z","session":N,"event":"…"}. Text that is not UTF-8 (a
// client's bytes may reach a log line) has each bad byte replaced by U+FFFD, so the line stays
// valid JSON.
std::string JsonLogLine(std::time_t when, uint64_t session, std::string_view event);

// Writes one line per event to standard error, tagged with the session number; thread-safe.
class Logger {
 public:
  explicit Logger(bool enabled, ServerConfig::LogFormat format = ServerConfig::LogFormat::kText)
      : enabled_(enabled), format_(format) {}
  void Write(uint64_t session, const std::string& text);

 private:
  bool enabled_;
  ServerConfig::LogFormat format_;
  std::mutex mutex_;
};

// What all sessions of one server share. Creates the data folders and clears what a crash left:
// incoming files of anything but the open resumable uploads (cut back to the bytes recorded as
// held), and stored files without a committed record. With a shared registry other servers may
// be using the same folders right now, so files changed within kSharedGrace are left alone: they
// may be another server's upload in progress or its file between the store and the commit.
struct ServerContext {
  explicit ServerContext(ServerConfig config);

  static constexpr std::chrono::minutes kSharedGrace{15};

  const ServerConfig config;
  const std::string incoming_folder;               // uploads in progress and package checks
  const std::string store_folder;                  // protocolated uploads
  const std::string download_folder;               // files GetFile serves
  ServerMetrics metrics;                           // vorncom_server_sessions_open reads `sessions`
  const std::unique_ptr<Registry> owned_registry;  // timed into metrics.registry_latency
  Registry& registry;
  // Unique to this process among the servers sharing the folders: names its temporary files.
  const std::string instance;
  Logger log;
  std::atomic<unsigned> sessions{0};
  std::atomic<uint64_t> next_session{1};
  UploadLeases leases;

  // Where the resumable upload `id` (checked by IsUploadIdText) keeps its bytes.
  std::string ResumablePath(const std::string& id) const;
  // Expires the open uploads that have not moved for resume_hours and no session holds, and
  // deletes their bytes.
  void ExpireUploads();

  // The TLS context new handshakes use; null when the port is plain TCP. Sessions already
  // secured keep the context they started with.
  std::shared_ptr<ssl_ctx_st> Tls() const;
  // Reads the certificate and key files again. Throws EServerConfigError, keeping the current
  // context, when they cannot be used.
  void ReloadTls();

 private:
  void ClearIncoming();
  void ClearStore();
  // Whether `path` may be cleared up: always with a registry of this server's own, else only
  // when it has not changed within kSharedGrace.
  bool Settled(const std::filesystem::path& path) const;

  mutable std::mutex tls_mutex_;
  std::shared_ptr<ssl_ctx_st> tls_;
};

}  // namespace vorncom::server

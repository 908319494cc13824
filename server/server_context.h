#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "server/config.h"
#include "server/registry.h"
#include "server/upload_leases.h"

struct ssl_ctx_st;

namespace vorncom::server {

// Writes one line per event to standard error, tagged with the session number; thread-safe.
class Logger {
 public:
  explicit Logger(bool enabled) : enabled_(enabled) {}
  void Write(uint64_t session, const std::string& text);

 private:
  bool enabled_;
  std::mutex mutex_;
};

// What all sessions of one server share. Creates the data folders and clears what a crash left:
// incoming files of anything but the open resumable uploads (cut back to the bytes recorded as
// held), and stored files without a committed record.
struct ServerContext {
  explicit ServerContext(ServerConfig config);

  const ServerConfig config;
  const std::string incoming_folder;  // uploads in progress and package checks
  const std::string store_folder;     // protocolated uploads
  const std::string download_folder;  // files GetFile serves
  Registry registry;
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

  mutable std::mutex tls_mutex_;
  std::shared_ptr<ssl_ctx_st> tls_;
};

}  // namespace vorncom::server

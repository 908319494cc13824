#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "server/config.h"
#include "server/registry.h"

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

// What all sessions of one server share. Creates the data folders.
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
};

}  // namespace vorncom::server

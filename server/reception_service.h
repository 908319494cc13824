#pragma once

#include <cstdint>
#include <memory>

#include "server/server_context.h"

namespace vorncom::server {

// The TCP side of the server: one listening socket and one single-threaded event loop per worker
// thread, sessions handed to the workers in turn. Each session speaks the wire protocol and runs
// its calls on a SessionHandler. A session that breaks the protocol, exceeds a limit or stays idle
// too long is closed alone; the others go on.
class ReceptionService {
 public:
  // `context` must outlive the service.
  explicit ReceptionService(ServerContext& context);
  ~ReceptionService();  // Stops.
  ReceptionService(const ReceptionService&) = delete;
  ReceptionService& operator=(const ReceptionService&) = delete;

  // Binds, listens and starts the worker threads; returns the bound port (useful with port 0).
  // Throws std::system_error when the address cannot be bound.
  uint16_t Start();
  // Stops accepting, lets running calls finish, closes every session and joins the threads.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vorncom::server

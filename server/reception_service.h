#pragma once

#include <cstdint>
#include <memory>

#include "server/server_context.h"

namespace vorncom::server {

// The TCP side of the server: one listening socket and one single-threaded event loop per worker
// thread, sessions handed to the workers in turn. Each session speaks the wire protocol and runs
// its calls on a SessionHandler; the slow ones (package checks, storing) run on a pool of as many
// threads as there are workers, so that they never hold up an event loop. A session that breaks
// the protocol, exceeds a limit or takes too long over a frame is closed alone; the others go on.
// Connections beyond max_sessions are refused.
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

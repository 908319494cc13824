#pragma once

// A small HTTP/1.1 listener for monitoring: GET /metrics answers the Prometheus text, GET
// /health runs the health check and answers 200 "ok" or 503 with the reason. Every request gets
// one answer and the connection closes. Requests are bounded in size and time, and at most
// `max_connections` are served at once; anything else is answered 400, 404, 405 or 431, or
// closed.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vorncom::server {

struct MetricsEndpointOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 0;                        // 0: any free port
  size_t max_request = 8192;                // request line and headers, bytes
  std::chrono::milliseconds timeout{5000};  // to receive the request and send the answer
  unsigned max_connections = 32;
};

class MetricsEndpoint {
 public:
  // Failure reason, or nullopt when healthy. Runs on the endpoint's thread, so it must not
  // block for long.
  using HealthCheck = std::function<std::optional<std::string>()>;
  using Render = std::function<std::string()>;

  MetricsEndpoint(MetricsEndpointOptions options, Render metrics, HealthCheck health);
  ~MetricsEndpoint();  // Stops.
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // Binds and starts serving on a thread of its own; returns the bound port. Throws
  // std::system_error when the address cannot be bound.
  uint16_t Start();
  // Closes the listener and every open connection and joins the thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vorncom::server

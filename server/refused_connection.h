#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/tls_stream.h"

namespace vorncom::server {

// A connection beyond max_sessions. It gets the refusal a bad hello gets (an error frame with
// seq 0) at once, without waiting for its hello, and holds no session. The socket stays open
// until the peer closes or a short grace ends, so that the client's unread hello does not turn
// the close into a reset that could destroy the refusal before the client reads it. On a TLS port
// the refusal follows a handshake, within the handshake deadline. Lives on its socket's executor,
// kept alive by its own handlers.
class RefusedConnection : public std::enable_shared_from_this<RefusedConnection> {
 public:
  // `tls`: the context of the port, null for plain TCP.
  RefusedConnection(asio::ip::tcp::socket socket, const std::string& why,
                    const std::shared_ptr<SSL_CTX>& tls,
                    std::chrono::milliseconds handshake_timeout);

  void Start();

 private:
  void Refuse();
  void Drain();
  void Close();

  asio::ip::tcp::socket socket_;
  std::optional<TlsStream> tls_;
  asio::steady_timer timer_;
  std::vector<uint8_t> out_;
  std::chrono::milliseconds handshake_timeout_;
  std::array<uint8_t, 512> scratch_{};
};

}  // namespace vorncom::server

#include "server/refused_connection.h"

#include "rpc/wire.h"

namespace vorncom::server {

using asio::ip::tcp;

RefusedConnection::RefusedConnection(tcp::socket socket, const std::string& why,
                                     const std::shared_ptr<SSL_CTX>& tls,
                                     std::chrono::milliseconds handshake_timeout)
    : socket_(std::move(socket)),
      tls_(SecureStream(socket_, tls)),
      timer_(socket_.get_executor()),
      out_(rpc::wire::EncodeFrame(rpc::wire::Error{0, why})),
      handshake_timeout_(tls ? handshake_timeout : std::chrono::milliseconds(0)) {}

void RefusedConnection::Start() {
  timer_.expires_after(std::chrono::seconds(1) + handshake_timeout_);
  timer_.async_wait([self = shared_from_this()](const std::error_code&) { self->Close(); });
  if (!tls_) return Refuse();
  tls_->async_handshake(asio::ssl::stream_base::server,
                        [self = shared_from_this()](const std::error_code& ec) {
                          if (ec) return self->Close();
                          self->Refuse();
                        });
}

void RefusedConnection::Refuse() {
  WriteAll(socket_, tls_, asio::buffer(out_),
           [self = shared_from_this()](const std::error_code& ec, size_t) {
             if (ec) return self->Close();
             if (self->tls_) {
               return self->tls_->async_shutdown([self](const std::error_code&) { self->Close(); });
             }
             std::error_code ignored;
             self->socket_.shutdown(tcp::socket::shutdown_send, ignored);
             self->Drain();
           });
}

void RefusedConnection::Drain() {
  socket_.async_read_some(asio::buffer(scratch_),
                          [self = shared_from_this()](const std::error_code& ec, size_t) {
                            if (ec) return self->Close();
                            self->Drain();
                          });
}

void RefusedConnection::Close() {
  std::error_code ignored;
  timer_.cancel();
  socket_.close(ignored);
}

}  // namespace vorncom::server

#pragma once

#include <openssl/ssl.h>

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace vorncom::server {

// What the server's connections read and write through: the socket itself, or TLS over it.
using TlsStream = asio::ssl::stream<asio::ip::tcp::socket&>;

// A TLS stream over `socket` from the server's current context, or nothing for plain TCP.
inline std::optional<TlsStream> SecureStream(asio::ip::tcp::socket& socket,
                                             const std::shared_ptr<SSL_CTX>& tls) {
  std::optional<TlsStream> stream;
  if (tls) stream.emplace(socket, SSL_new(tls.get()));
  return stream;
}

// Reads and writes go through TLS when the connection has it. Asio allows one read and one
// write in flight on either; a connection never has more.
template <typename Buffer, typename Handler>
void ReadSome(asio::ip::tcp::socket& socket, std::optional<TlsStream>& tls, const Buffer& buffer,
              Handler&& handler) {
  if (tls) return tls->async_read_some(buffer, std::forward<Handler>(handler));
  socket.async_read_some(buffer, std::forward<Handler>(handler));
}

template <typename Buffer, typename Handler>
void WriteAll(asio::ip::tcp::socket& socket, std::optional<TlsStream>& tls, const Buffer& buffer,
              Handler&& handler) {
  if (tls) return asio::async_write(*tls, buffer, std::forward<Handler>(handler));
  asio::async_write(socket, buffer, std::forward<Handler>(handler));
}

// Why a handshake failed, as OpenSSL names it.
inline std::string HandshakeFailure(const std::error_code& ec) {
  if (ec == asio::ssl::error::stream_truncated || ec == asio::error::eof)
    return "conexão encerrada pelo cliente";
  return ec.message();
}

}  // namespace vorncom::server

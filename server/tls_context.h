#pragma once

#include <memory>

#include "server/config.h"

struct ssl_ctx_st;

namespace vorncom::server {

// The OpenSSL context every handshake of the server starts from: tls_certificate with its
// tls_private_key, TLS 1.2 to tls_max_version, and with tls_client_ca a client certificate
// signed by that CA required. Null when no certificate is configured (plain TCP). Throws
// EServerConfigError naming the file that could not be used.
std::shared_ptr<ssl_ctx_st> LoadServerTls(const ServerConfig& config);

}  // namespace vorncom::server

#include "server/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "common/messages.h"

namespace vorncom::server {

namespace {

[[noreturn]] void Fail(const std::string& key, const std::string& path) {
  const unsigned long e = ERR_peek_last_error();
  const char* why = ERR_reason_error_string(e);
  ERR_clear_error();
  throw EServerConfigError(
      msg::Format(msg::kSrvTlsFileUnusable, {key, path, why != nullptr ? why : "?"}));
}

}  // namespace

std::shared_ptr<ssl_ctx_st> LoadServerTls(const ServerConfig& config) {
  if (config.tls_certificate.empty()) return nullptr;
  std::shared_ptr<SSL_CTX> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  if (!ctx) throw EServerConfigError(std::string(msg::kSrvTlsStartFailed));
  SSL_CTX* c = ctx.get();
  SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(c, config.tls_max_version);
  SSL_CTX_set_options(c, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  if (SSL_CTX_use_certificate_chain_file(c, config.tls_certificate.c_str()) != 1)
    Fail("tls_certificate", config.tls_certificate);
  if (SSL_CTX_use_PrivateKey_file(c, config.tls_private_key.c_str(), SSL_FILETYPE_PEM) != 1)
    Fail("tls_private_key", config.tls_private_key);
  if (SSL_CTX_check_private_key(c) != 1) Fail("tls_private_key", config.tls_private_key);
  if (!config.tls_client_ca.empty()) {
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(config.tls_client_ca.c_str());
    if (names == nullptr ||
        SSL_CTX_load_verify_locations(c, config.tls_client_ca.c_str(), nullptr) != 1) {
      if (names != nullptr) sk_X509_NAME_pop_free(names, X509_NAME_free);
      Fail("tls_client_ca", config.tls_client_ca);
    }
    SSL_CTX_set_client_CA_list(c, names);
    SSL_CTX_set_verify(c, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  return ctx;
}

}  // namespace vorncom::server

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include "common/messages.h"
#include "rpc/errors.h"
#include "rpc/transport.h"

namespace vorncom::rpc {

namespace {

using Clock = std::chrono::steady_clock;

// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE in the host when the
// server has gone; this one sends with MSG_NOSIGNAL and leaves the host's signals alone.
int SocketOf(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

int SocketWrite(BIO* bio, const char* data, size_t size, size_t* written) {
  BIO_clear_retry_flags(bio);
  for (;;) {
    const ssize_t n = ::send(SocketOf(bio), data, size, MSG_NOSIGNAL);
    if (n >= 0) {
      *written = static_cast<size_t>(n);
      return 1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(bio);
    return 0;
  }
}

int SocketRead(BIO* bio, char* data, size_t size, size_t* read) {
  BIO_clear_retry_flags(bio);
  for (;;) {
    const ssize_t n = ::recv(SocketOf(bio), data, size, 0);
    if (n > 0) {
      *read = static_cast<size_t>(n);
      return 1;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_read(bio);
    return 0;  // end of stream, or an error left in errno
  }
}

long SocketControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

BIO* NewSocketBio(int fd) {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vorncom socket");
    BIO_meth_set_write_ex(m, SocketWrite);
    BIO_meth_set_read_ex(m, SocketRead);
    BIO_meth_set_ctrl(m, SocketControl);
    return m;
  }();
  BIO* bio = BIO_new(method);
  if (bio == nullptr) return nullptr;
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
  BIO_set_init(bio, 1);
  return bio;
}

// dd/mm/yyyy in local time, as the library writes dates.
std::string DateOf(const ASN1_TIME* time) {
  std::tm utc{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &utc) != 1) return "?";
  const std::time_t t = ::timegm(&utc);
  std::tm local{};
  localtime_r(&t, &local);
  char text[16];
  std::strftime(text, sizeof text, "%d/%m/%Y", &local);
  return text;
}

// What the handshake learnt that explains a failure.
struct HandshakeNotes {
  int verify_error = 0;  // the first certificate check that failed
  std::string not_before, not_after;
  bool certificate_requested = false;  // the server asked for a client certificate
};

int NoteVerification(int ok, X509_STORE_CTX* store) {
  if (ok == 1) return 1;
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* notes = ssl ? static_cast<HandshakeNotes*>(SSL_get_app_data(ssl)) : nullptr;
  if (notes != nullptr && notes->verify_error == 0) {
    notes->verify_error = X509_STORE_CTX_get_error(store);
    if (X509* cert = X509_STORE_CTX_get_current_cert(store)) {
      notes->not_before = DateOf(X509_get0_notBefore(cert));
      notes->not_after = DateOf(X509_get0_notAfter(cert));
    }
  }
  return 0;
}

void NoteMessage(int write_p, int, int content_type, const void* buf, size_t len, SSL*, void* arg) {
  if (write_p || content_type != SSL3_RT_HANDSHAKE || len == 0) return;
  if (static_cast<const uint8_t*>(buf)[0] == SSL3_MT_CERTIFICATE_REQUEST)
    static_cast<HandshakeNotes*>(arg)->certificate_requested = true;
}

struct CtxFree {
  void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
  void operator()(SSL* s) const { SSL_free(s); }
};

std::unique_ptr<SSL_CTX, CtxFree> MakeContext(const TransportPolicy& policy) {
  std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx) throw ESecureConnectionError(msg::Format(msg::kTlsChannelFailed, {"SSL_CTX_new"}));
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  // The frames carry their own lengths, so a close without close_notify truncates nothing
  // unnoticed; renegotiation is an attack surface the protocol does not need.
  SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, NoteVerification);
  if (!policy.ca_file.empty()) {
    if (SSL_CTX_load_verify_locations(ctx.get(), policy.ca_file.c_str(), nullptr) != 1)
      throw ESecureConnectionError(msg::Format(msg::kTlsCaFileUnreadable, {policy.ca_file}));
  } else if (SSL_CTX_set_default_verify_paths(ctx.get()) != 1) {
    throw ESecureConnectionError(std::string(msg::kTlsSystemStoreUnreadable));
  }
  const bool has_cert = !policy.client_certificate.empty();
  if (has_cert != !policy.client_key.empty())
    throw ESecureConnectionError(std::string(msg::kTlsClientCertificateIncomplete));
  if (has_cert &&
      (SSL_CTX_use_certificate_chain_file(ctx.get(), policy.client_certificate.c_str()) != 1 ||
       SSL_CTX_use_PrivateKey_file(ctx.get(), policy.client_key.c_str(), SSL_FILETYPE_PEM) != 1 ||
       SSL_CTX_check_private_key(ctx.get()) != 1))
    throw ESecureConnectionError(msg::Format(msg::kTlsClientCertificateUnreadable,
                                             {policy.client_certificate, policy.client_key}));
  return ctx;
}

class TlsTransport final : public Transport {
 public:
  TlsTransport(int fd, const TransportPolicy& policy, std::string peer_name)
      : Transport(fd),
        peer_name_(std::move(peer_name)),
        has_client_certificate_(!policy.client_certificate.empty()) {
    ctx_ = MakeContext(policy);
    ssl_.reset(SSL_new(ctx_.get()));
    BIO* bio = ssl_ ? NewSocketBio(fd) : nullptr;
    if (bio == nullptr)
      throw ESecureConnectionError(msg::Format(msg::kTlsChannelFailed, {"SSL_new"}));
    SSL_set_bio(ssl_.get(), bio, bio);
    SSL_set_app_data(ssl_.get(), &notes_);
    SSL_set_msg_callback(ssl_.get(), NoteMessage);
    SSL_set_msg_callback_arg(ssl_.get(), &notes_);
  }

  ~TlsTransport() override {
    // One try at close_notify; the socket is non-blocking, so this never waits.
    if (established_ && !failed_) SSL_shutdown(ssl_.get());
  }

  // False when the deadline passes first.
  bool Handshake(bool numeric, Clock::time_point deadline) {
    SSL* ssl = ssl_.get();
    if (numeric) {
      if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), peer_name_.c_str()) != 1)
        throw ESecureConnectionError(msg::Format(msg::kTlsWrongName, {peer_name_}));
    } else {
      SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      if (SSL_set1_host(ssl, peer_name_.c_str()) != 1 ||
          SSL_set_tlsext_host_name(ssl, peer_name_.c_str()) != 1)
        throw ESecureConnectionError(msg::Format(msg::kTlsWrongName, {peer_name_}));
    }
    for (;;) {
      ERR_clear_error();
      const int rc = SSL_connect(ssl);
      if (rc == 1) break;
      const Progress p = Failed(SSL_get_error(ssl, rc), true);
      if (p.wait == Wait::kNone) {
        failed_ = true;
        throw ESecureConnectionError(std::string(msg::kTlsClosedInHandshake));
      }
      if (!WaitForSocket(fd(), p.wait, deadline)) return false;
    }
    established_ = true;
    return true;
  }

  Progress Send(std::span<const iovec> parts) override {
    if (staged_ == 0) {
      for (const iovec& part : parts) {
        const size_t n = std::min(part.iov_len, stage_.size() - staged_);
        std::memcpy(stage_.data() + staged_, part.iov_base, n);
        staged_ += n;
        if (staged_ == stage_.size()) break;
      }
      if (staged_ == 0) return {};
    }
    // A write that had to wait is repeated with the same bytes, as OpenSSL requires.
    ERR_clear_error();
    size_t written = 0;
    const int rc = SSL_write_ex(ssl_.get(), stage_.data(), staged_, &written);
    if (rc == 1) return {std::exchange(staged_, 0)};
    return Failed(SSL_get_error(ssl_.get(), rc), false);
  }

  Progress Receive(std::span<uint8_t> into) override {
    ERR_clear_error();
    size_t read = 0;
    const int rc = SSL_read_ex(ssl_.get(), into.data(), into.size(), &read);
    if (rc == 1) return {read};
    return Failed(SSL_get_error(ssl_.get(), rc), false);
  }

  bool HasBuffered() const override { return SSL_has_pending(ssl_.get()) == 1; }
  std::string Protocol() const override { return SSL_get_version(ssl_.get()); }

 private:
  // Turns an OpenSSL failure into a wait, an end of stream, a socket error, or the exception
  // that names the reason.
  Progress Failed(int error, bool handshake) {
    switch (error) {
      case SSL_ERROR_WANT_READ:
        return {0, Wait::kRead};
      case SSL_ERROR_WANT_WRITE:
        return {0, Wait::kWrite};
      case SSL_ERROR_ZERO_RETURN:
        return {0, Wait::kNone, 0, true};
      case SSL_ERROR_SYSCALL:
        if (ERR_peek_error() == 0) {
          failed_ = true;
          if (handshake) throw ESecureConnectionError(std::string(msg::kTlsClosedInHandshake));
          return {0, Wait::kNone, errno, errno == 0};
        }
        break;
      default:
        break;
    }
    failed_ = true;
    throw ESecureConnectionError(Describe(handshake));
  }

  std::string Describe(bool handshake) const {
    if (notes_.verify_error != 0) return DescribeCertificate();
    const unsigned long e = ERR_peek_last_error();
    const int reason = ERR_GET_LIB(e) == ERR_LIB_SSL ? ERR_GET_REASON(e) : 0;
    switch (reason) {
      case SSL_R_WRONG_VERSION_NUMBER:
      case SSL_R_UNKNOWN_PROTOCOL:
      case SSL_R_PACKET_LENGTH_TOO_LONG:
      case SSL_R_RECORD_LENGTH_MISMATCH:
      case SSL_R_HTTP_REQUEST:
      case SSL_R_HTTPS_PROXY_REQUEST:
        return std::string(msg::kTlsServerNotTls);
      case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
      case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
      case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
      case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
      case SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED:
      case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
      case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
      case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
        return std::string(has_client_certificate_ ? msg::kTlsClientCertificateRefused
                                                   : msg::kTlsClientCertificateRequired);
      case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
        // TLS 1.2 servers answer a missing client certificate with this alert.
        if (notes_.certificate_requested && !has_client_certificate_)
          return std::string(msg::kTlsClientCertificateRequired);
        break;
      case SSL_R_UNSUPPORTED_PROTOCOL:
      case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
        return std::string(msg::kTlsVersionRefused);
      case SSL_R_UNEXPECTED_EOF_WHILE_READING:
        if (handshake) return std::string(msg::kTlsClosedInHandshake);
        break;
      default:
        break;
    }
    const char* why = ERR_reason_error_string(e);
    return msg::Format(handshake ? msg::kTlsHandshakeFailed : msg::kTlsChannelFailed,
                       {why != nullptr ? why : std::to_string(e)});
  }

  std::string DescribeCertificate() const {
    switch (notes_.verify_error) {
      case X509_V_ERR_CERT_HAS_EXPIRED:
        return msg::Format(msg::kTlsExpired, {notes_.not_after});
      case X509_V_ERR_CERT_NOT_YET_VALID:
        return msg::Format(msg::kTlsNotYetValid, {notes_.not_before});
      case X509_V_ERR_HOSTNAME_MISMATCH:
      case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return msg::Format(msg::kTlsWrongName, {peer_name_});
      case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
      case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
      case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      case X509_V_ERR_CERT_UNTRUSTED:
      case X509_V_ERR_INVALID_CA:
        return std::string(msg::kTlsUntrusted);
      default:
        return msg::Format(msg::kTlsCertificateRejected, {std::to_string(notes_.verify_error)});
    }
  }

  std::string peer_name_;
  bool has_client_certificate_;
  std::unique_ptr<SSL_CTX, CtxFree> ctx_;
  std::unique_ptr<SSL, SslFree> ssl_;
  HandshakeNotes notes_;
  bool established_ = false;
  bool failed_ = false;  // after a fatal error OpenSSL forbids a shutdown
  // Gathered frame parts are encrypted from here: records as large as TLS allows, without a
  // record per small part.
  std::array<uint8_t, 64 << 10> stage_;
  size_t staged_ = 0;
};

}  // namespace

std::unique_ptr<Transport> MakeTlsTransport(int fd, const TransportPolicy& policy,
                                            const std::string& peer_name, bool numeric,
                                            Clock::time_point deadline) {
  // The base is built first and owns the socket, so a throwing constructor closes it too.
  auto tls = std::make_unique<TlsTransport>(fd, policy, peer_name);
  if (!tls->Handshake(numeric, deadline)) return nullptr;
  return tls;
}

}  // namespace vorncom::rpc

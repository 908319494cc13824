#include "support/test_pki.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace vorncom::testing {

namespace {

namespace fs = std::filesystem;

struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
  void operator()(X509* c) const { X509_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test PKI: ") + what);
}

Key NewKey() {
  Key key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "EVP_EC_gen");
  return key;
}

struct CertProfile {
  std::string common_name;
  std::string alt_names;  // subjectAltName value, empty for CAs
  bool ca = false;
  std::time_t not_before;
  std::time_t not_after;
};

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  Check(ext != nullptr && X509_add_ext(cert, ext, -1) == 1, "extension");
  X509_EXTENSION_free(ext);
}

// Signed by `issuer` with `issuer_key`, or self-signed when both are null.
Cert NewCert(const CertProfile& profile, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key) {
  static long serial = 1000;
  Cert cert(X509_new());
  X509* c = cert.get();
  Check(X509_set_version(c, 2) == 1, "version");
  ASN1_INTEGER_set(X509_get_serialNumber(c), ++serial);
  Check(ASN1_TIME_set(X509_getm_notBefore(c), profile.not_before) != nullptr &&
            ASN1_TIME_set(X509_getm_notAfter(c), profile.not_after) != nullptr,
        "validity");
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(profile.common_name.c_str()),
                             -1, -1, 0);
  X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : name);
  X509_set_pubkey(c, key);
  X509* signer = issuer ? issuer : c;
  if (profile.ca) {
    AddExtension(c, signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(c, signer, NID_basic_constraints, "CA:FALSE");
    AddExtension(c, signer, NID_ext_key_usage, "serverAuth,clientAuth");
    if (!profile.alt_names.empty())
      AddExtension(c, signer, NID_subject_alt_name, profile.alt_names);
  }
  AddExtension(c, signer, NID_subject_key_identifier, "hash");
  Check(X509_sign(c, issuer_key ? issuer_key : key, EVP_sha256()) > 0, "sign");
  return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  Check(f != nullptr, "open");
  const bool ok = cert ? PEM_write_X509(f, cert) == 1
                       : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  std::fclose(f);
  Check(ok, "write");
}

struct Authority {
  Key key;
  Cert cert;
};

std::string LocalDate(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[16];
  std::strftime(text, sizeof text, "%d/%m/%Y", &local);
  return text;
}

TestPki* Made = nullptr;

void RemoveFolder() {
  if (Made == nullptr) return;
  std::error_code ignored;
  fs::remove_all(Made->folder, ignored);
}

TestPki Make() {
  TestPki pki;
  std::string pattern = (fs::temp_directory_path() / "vorncom-pki-XXXXXX").string();
  Check(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  pki.folder = pattern;
  const std::time_t now = std::time(nullptr);
  constexpr std::time_t kDay = 86400;
  auto file = [&](const std::string& name) { return pki.folder + "/" + name; };
  auto authority = [&](const std::string& name, const std::string& path) {
    Authority a{NewKey(), nullptr};
    a.cert = NewCert({name, "", true, now - kDay, now + 365 * kDay}, a.key.get(), nullptr, nullptr);
    WritePem(path, a.cert.get(), nullptr);
    return a;
  };
  auto leaf = [&](const Authority& by, CertProfile profile, std::string& cert_path,
                  std::string& key_path, const std::string& name) {
    Key key = NewKey();
    Cert cert = NewCert(profile, key.get(), by.cert.get(), by.key.get());
    cert_path = file(name + ".pem");
    key_path = file(name + ".key");
    WritePem(cert_path, cert.get(), nullptr);
    WritePem(key_path, nullptr, key.get());
  };
  const std::string local_names = "DNS:localhost,IP:127.0.0.1,IP:::1";
  pki.ca = file("ca.pem");
  pki.client_ca = file("client-ca.pem");
  const Authority ca = authority("VornCom Test CA", pki.ca);
  const Authority client_ca = authority("VornCom Test Client CA", pki.client_ca);
  const Authority stranger = authority("Unknown CA", file("stranger-ca.pem"));
  const CertProfile valid{"localhost", local_names, false, now - kDay, now + 30 * kDay};
  leaf(ca, valid, pki.server_cert, pki.server_key, "server");
  leaf(ca, valid, pki.renewed_cert, pki.renewed_key, "renewed");
  const std::time_t expired_at = now - 30 * kDay;
  leaf(ca, {"localhost", local_names, false, now - 60 * kDay, expired_at}, pki.expired_cert,
       pki.expired_key, "expired");
  pki.expired_on = LocalDate(expired_at);
  leaf(ca, {"recepcao.vorn.example", "DNS:recepcao.vorn.example", false, now - kDay, now + kDay},
       pki.wrong_name_cert, pki.wrong_name_key, "wrong-name");
  leaf(stranger, valid, pki.stranger_cert, pki.stranger_key, "stranger");
  leaf(client_ca, {"agencia-01", "DNS:agencia-01", false, now - kDay, now + kDay}, pki.client_cert,
       pki.client_key, "client");
  leaf(stranger, {"agencia-02", "DNS:agencia-02", false, now - kDay, now + kDay},
       pki.rogue_client_cert, pki.rogue_client_key, "rogue-client");
  return pki;
}

}  // namespace

const TestPki& SharedTestPki() {
  static const TestPki pki = [] {
    TestPki made = Make();
    return made;
  }();
  if (Made == nullptr) {
    Made = const_cast<TestPki*>(&pki);
    std::atexit(RemoveFolder);
  }
  return pki;
}

std::string PeerCertificateSerial(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string serial;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL* ssl = SSL_new(ctx);
  // A server that requires a client certificate may end the handshake; its own certificate
  // has come by then.
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      SSL_set_fd(ssl, fd) == 1) {
    const bool done = SSL_connect(ssl) == 1;
    if (X509* cert = SSL_get0_peer_certificate(ssl))
      serial = std::to_string(ASN1_INTEGER_get(X509_get0_serialNumber(cert)));
    if (done) SSL_shutdown(ssl);
  }
  SSL_free(ssl);
  SSL_CTX_free(ctx);
  ::close(fd);
  return serial;
}

std::string CertificateSerial(const std::string& pem_path) {
  std::FILE* f = std::fopen(pem_path.c_str(), "r");
  if (f == nullptr) return "";
  Cert cert(PEM_read_X509(f, nullptr, nullptr, nullptr));
  std::fclose(f);
  if (!cert) return "";
  return std::to_string(ASN1_INTEGER_get(X509_get0_serialNumber(cert.get())));
}

}  // namespace vorncom::testing

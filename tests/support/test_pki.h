#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace vorncom::testing {

// Certificates made at test time (no private key is ever committed), once per process, in a
// temporary folder removed at exit. Every path is a PEM file. Server certificates name
// "localhost", 127.0.0.1 and ::1 unless said otherwise.
struct TestPki {
  std::string folder;
  std::string ca;  // trusted by the tests' clients (VORNCOM_TLS_CA)
  std::string server_cert, server_key;
  std::string renewed_cert, renewed_key;            // a second valid server certificate
  std::string expired_cert, expired_key;            // expired a month ago
  std::string expired_on;                           // its end, "dd/mm/yyyy" in local time
  std::string wrong_name_cert, wrong_name_key;      // only for recepcao.vorn.example
  std::string stranger_cert, stranger_key;          // valid, but signed by a CA nobody trusts
  std::string client_ca;                            // the CA a server takes client certificates of
  std::string client_cert, client_key;              // signed by client_ca
  std::string rogue_client_cert, rogue_client_key;  // a client certificate of another CA
};

const TestPki& SharedTestPki();

// The serial number of the certificate the TLS server on 127.0.0.1:`port` presents (not
// verified), as decimal text; empty when it presents none.
std::string PeerCertificateSerial(uint16_t port);

// The serial number of the certificate in a PEM file, as decimal text; empty when unreadable.
std::string CertificateSerial(const std::string& pem_path);

}  // namespace vorncom::testing

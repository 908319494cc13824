#pragma once

#include <string>

namespace vorncom::rpc {

// How the client secures its connections. An administrator sets it in the registry layer, key
// SOFTWARE\VornCom\Seguranca:
//   TLS                 "exigir" (the default) or "desligado": plain TCP, for legacy servers, only
//                       when set explicitly; any other value means "exigir"
//   ArquivoCA           a PEM bundle of the CAs to trust instead of the system store
//   CertificadoCliente  PEM file of a client certificate (with ChaveCliente)
//   ChaveCliente        PEM file of its private key
// The environment variables VORNCOM_TLS, VORNCOM_TLS_CA, VORNCOM_TLS_CERT and VORNCOM_TLS_KEY,
// when set and not empty, override the matching value.
struct TransportPolicy {
  bool tls = true;
  std::string ca_file;  // empty: the system store (/etc/ssl/certs)
  std::string client_certificate;
  std::string client_key;
};

inline constexpr char kSecurityKey[] = "SOFTWARE\\VornCom\\Seguranca";

// Reads the policy afresh. Never throws: an unreadable registry leaves the defaults (TLS on).
TransportPolicy LoadTransportPolicy();

}  // namespace vorncom::rpc

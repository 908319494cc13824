#include "rpc/transport_policy.h"

#include <cstdlib>
#include <optional>
#include <variant>

#include "common/registry.h"

namespace vorncom::rpc {

namespace {

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

// Only the exact word turns TLS off (letter case and surrounding blanks aside): a misspelt value
// must not downgrade the connection.
bool TurnsTlsOff(std::string value) {
  const auto first = value.find_first_not_of(" \t");
  const auto last = value.find_last_not_of(" \t");
  value = first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
  for (char& c : value)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return value == "desligado";
}

}  // namespace

TransportPolicy LoadTransportPolicy() {
  TransportPolicy policy;
  std::optional<std::string> tls;
  try {
    const Registry registry = Registry::Default();
    auto text = [&](const char* name) -> std::optional<std::string> {
      const auto value = registry.ReadValue(kSecurityKey, name);
      if (!value) return std::nullopt;
      if (const auto* s = std::get_if<std::string>(&*value)) return *s;
      return std::string("?");  // a value of another type is no valid setting
    };
    tls = text("TLS");
    if (auto v = text("ArquivoCA")) policy.ca_file = *v;
    if (auto v = text("CertificadoCliente")) policy.client_certificate = *v;
    if (auto v = text("ChaveCliente")) policy.client_key = *v;
  } catch (const std::exception&) {
    // No readable registry: the defaults, which keep TLS on.
  }
  if (auto v = Environment("VORNCOM_TLS")) tls = *v;
  if (auto v = Environment("VORNCOM_TLS_CA")) policy.ca_file = *v;
  if (auto v = Environment("VORNCOM_TLS_CERT")) policy.client_certificate = *v;
  if (auto v = Environment("VORNCOM_TLS_KEY")) policy.client_key = *v;
  policy.tls = !(tls && TurnsTlsOff(*tls));
  return policy;
}

}  // namespace vorncom::rpc

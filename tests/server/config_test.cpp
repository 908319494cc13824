#include "server/config.h"
#include "server/tls_context.h"

#include <gtest/gtest.h>

namespace vorncom::server {
namespace {

std::string ErrorOf(const std::string& text) {
  try {
    // The TLS files are read when the server starts, with the same kind of refusal.
    LoadServerTls(ParseServerConfig(text));
  } catch (const EServerConfigError& e) {
    return e.what();
  }
  return "(accepted)";
}

// Every refused setting names its line, its key and its value.
TEST(ServerConfigTest, BadSettingsNameTheLineTheKeyAndTheValue) {
  struct Row {
    const char* text;
    const char* message;
  };
  const Row rows[] = {
      {"listen_address = 127.0.0.300",
       "Configuração inválida na linha 1, listen_address = \"127.0.0.300\": esperado um endereço "
       "IP numérico."},
      {"# comment\n\nlisten_port = 65536",
       "Configuração inválida na linha 3, listen_port = \"65536\": esperado um número inteiro de "
       "0 a 65535."},
      {"max_sessions = 0", "linha 1, max_sessions = \"0\": esperado um número inteiro de 1 a"},
      {"registry_connections = 0",
       "linha 1, registry_connections = \"0\": esperado um número inteiro de 1 a 64."},
      {"registry_connections = 65",
       "linha 1, registry_connections = \"65\": esperado um número inteiro de 1 a 64."},
      {"max_expansion = 2x", "linha 1, max_expansion = \"2x\": esperado um número inteiro"},
      {"accepting = maybe", "linha 1, accepting = \"maybe\": esperado true ou false."},
      {"data_folder =", "linha 1, data_folder = \"\": o valor não pode ser vazio."},
      {"form = A | 1 | 300 |", "linha 1, form = \"A | 1 | 300 |\": esperado um número inteiro"},
      {"max_frame = 4096\npacket_size = 3500",
       "linha 2, packet_size = \"3500\": packet_size 3500 mais 1024 bytes não cabe em max_frame "
       "4096."},
      {"max_frame = 200000", "linha 1, max_frame = \"200000\": packet_size 262144 mais 1024 bytes"},
      {"workers 2", "Configuração inválida na linha 1: falta \"=\" em \"workers 2\"."},
      {"\nno_such_key = 1",
       "Configuração inválida na linha 2: chave desconhecida \"no_such_key\"."},
      {"tls_certificate = /x.pem",
       "Configuração inválida: tls_certificate e tls_private_key devem ser dados juntos."},
      {"tls_private_key = /x.key",
       "Configuração inválida: tls_certificate e tls_private_key devem ser dados juntos."},
      {"tls_client_ca = /ca.pem", "Configuração inválida: tls_client_ca exige tls_certificate."},
      {"tls_max_version = 1.1", "linha 1, tls_max_version = \"1.1\": esperado 1.2 ou 1.3."},
      {"tls_handshake_timeout_ms = 0", "linha 1, tls_handshake_timeout_ms = \"0\": esperado"},
      {"tls_certificate = /no/such.pem\ntls_private_key = /no/such.key",
       "Não foi possível usar tls_certificate /no/such.pem: "},
      {"log_format = xml", "linha 1, log_format = \"xml\": esperado text ou json."},
      {"metrics_address = 127.0.0.1", "linha 1, metrics_address = \"127.0.0.1\": esperado ENDE"},
      {"metrics_address = ::1:9100", "linha 1, metrics_address = \"::1:9100\": esperado ENDE"},
      {"metrics_address = localhost:9100", "metrics_address = \"localhost:9100\": esperado"},
      {"metrics_address = 127.0.0.1:65536", "metrics_address = \"127.0.0.1:65536\": esperado"},
  };
  for (const Row& row : rows)
    EXPECT_NE(ErrorOf(row.text).find(row.message), std::string::npos)
        << row.text << "\n  got: " << ErrorOf(row.text);
}

TEST(ServerConfigTest, RegistryConnectionsTakeTheirWholeRange) {
  EXPECT_EQ(ParseServerConfig("registry_connections = 1").registry_connections, 1u);
  EXPECT_EQ(ParseServerConfig("registry_connections = 64").registry_connections, 64u);
}

TEST(ServerConfigTest, MonitoringAddressesSplitIntoHostAndPort) {
  using HostPort = std::optional<std::pair<std::string, uint16_t>>;
  EXPECT_EQ(SplitHostPort("127.0.0.1:9100"), HostPort({"127.0.0.1", 9100}));
  EXPECT_EQ(SplitHostPort("[::1]:0"), HostPort({"::1", 0}));
  EXPECT_EQ(SplitHostPort("127.0.0.1:"), std::nullopt);
  EXPECT_EQ(SplitHostPort("[::1:9100"), std::nullopt);
}

}  // namespace
}  // namespace vorncom::server

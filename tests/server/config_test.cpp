#include "server/config.h"

#include <gtest/gtest.h>

namespace vorncom::server {
namespace {

std::string ErrorOf(const std::string& text) {
  try {
    ParseServerConfig(text);
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
      {"max_expansion = 2x", "linha 1, max_expansion = \"2x\": esperado um número inteiro"},
      {"accepting = maybe", "linha 1, accepting = \"maybe\": esperado true ou false."},
      {"data_folder =", "linha 1, data_folder = \"\": o valor não pode ser vazio."},
      {"form = A | 1 | 300 |", "linha 1, form = \"A | 1 | 300 |\": esperado um número inteiro"},
      {"max_frame = 4096\npacket_size = 3500",
       "linha 2, packet_size = \"3500\": packet_size 3500 mais 1024 bytes não cabe em max_frame "
       "4096."},
      {"max_frame = 4096", "linha 1, max_frame = \"4096\": packet_size 4096 mais 1024 bytes"},
      {"workers 2", "Configuração inválida na linha 1: falta \"=\" em \"workers 2\"."},
      {"\nno_such_key = 1",
       "Configuração inválida na linha 2: chave desconhecida \"no_such_key\"."},
  };
  for (const Row& row : rows)
    EXPECT_NE(ErrorOf(row.text).find(row.message), std::string::npos)
        << row.text << "\n  got: " << ErrorOf(row.text);
}

}  // namespace
}  // namespace vorncom::server

#include "rpc/transport_policy.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>
#include <string>

#include "common/registry.h"
#include "support/temp_dir.h"

namespace vorncom::rpc {
namespace {

constexpr const char* kVariables[] = {"VORNCOM_TLS", "VORNCOM_TLS_CA", "VORNCOM_TLS_CERT",
                                      "VORNCOM_TLS_KEY"};

// The registry and the environment as a row sets them; both are put back afterwards.
class PolicyScope {
 public:
  PolicyScope(const std::map<std::string, Registry::Value>& values,
              const std::map<std::string, std::string>& environment) {
    ::setenv("VORNCOM_REGISTRY", (dir_ / "registry").c_str(), 1);
    Registry registry = Registry::Default();
    for (const auto& [name, value] : values) registry.WriteValue(kSecurityKey, name, value);
    for (const char* variable : kVariables) ::unsetenv(variable);
    for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
  }
  ~PolicyScope() {
    ::unsetenv("VORNCOM_REGISTRY");
    for (const char* variable : kVariables) ::unsetenv(variable);
  }

 private:
  testing::TempDir dir_;
};

TEST(TransportPolicyTest, RegistryThenEnvironment) {
  struct Row {
    const char* what;
    std::map<std::string, Registry::Value> registry;
    std::map<std::string, std::string> environment;
    bool tls;
    std::string ca, cert, key;
  };
  const Row rows[] = {
      {"nothing set", {}, {}, true, "", "", ""},
      {"off by the registry", {{"TLS", std::string("desligado")}}, {}, false, "", "", ""},
      {"off, any case and blanks", {{"tls", std::string(" Desligado ")}}, {}, false, "", "", ""},
      {"required", {{"TLS", std::string("exigir")}}, {}, true, "", "", ""},
      {"misspelt stays on", {{"TLS", std::string("deslig")}}, {}, true, "", "", ""},
      {"empty stays on", {{"TLS", std::string("")}}, {}, true, "", "", ""},
      {"number stays on", {{"TLS", int32_t{0}}}, {}, true, "", "", ""},
      {"environment turns on",
       {{"TLS", std::string("desligado")}},
       {{"VORNCOM_TLS", "exigir"}},
       true,
       "",
       "",
       ""},
      {"environment turns off", {}, {{"VORNCOM_TLS", "desligado"}}, false, "", "", ""},
      {"empty variable is unset",
       {{"TLS", std::string("desligado")}},
       {{"VORNCOM_TLS", ""}},
       false,
       "",
       "",
       ""},
      {"files from the registry",
       {{"ArquivoCA", std::string("/etc/vorn/ca.pem")},
        {"CertificadoCliente", std::string("/etc/vorn/c.pem")},
        {"ChaveCliente", std::string("/etc/vorn/c.key")}},
       {},
       true,
       "/etc/vorn/ca.pem",
       "/etc/vorn/c.pem",
       "/etc/vorn/c.key"},
      {"files overridden",
       {{"ArquivoCA", std::string("/etc/vorn/ca.pem")},
        {"CertificadoCliente", std::string("/etc/vorn/c.pem")}},
       {{"VORNCOM_TLS_CA", "/tmp/ca.pem"},
        {"VORNCOM_TLS_CERT", "/tmp/c.pem"},
        {"VORNCOM_TLS_KEY", "/tmp/c.key"}},
       true,
       "/tmp/ca.pem",
       "/tmp/c.pem",
       "/tmp/c.key"},
  };
  for (const Row& row : rows) {
    PolicyScope scope(row.registry, row.environment);
    const TransportPolicy policy = LoadTransportPolicy();
    EXPECT_EQ(policy.tls, row.tls) << row.what;
    EXPECT_EQ(policy.ca_file, row.ca) << row.what;
    EXPECT_EQ(policy.client_certificate, row.cert) << row.what;
    EXPECT_EQ(policy.client_key, row.key) << row.what;
  }
}

}  // namespace
}  // namespace vorncom::rpc

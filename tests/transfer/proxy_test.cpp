// Sends through a real HTTP proxy (tinyproxy), set in the registry layer or the environment:
// the tunnel carries the whole transfer, no_proxy bypasses it, and each refusal is a failed
// connection (code 8) whose details say what the proxy did.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <map>

#include "common/registry.h"
#include "rpc/http_proxy.h"
#include "rpc/transport_policy.h"
#include "support/tinyproxy.h"
#include "transfer_test_support.h"

namespace vorncom::transfer {
namespace {

using testing::TinyProxy;

class ProxyTest : public TransferFixture {
 protected:
  void SetUp() override {
    TransferFixture::SetUp();
    for (const char* name : kNames) {
      if (const char* old = std::getenv(name)) saved_[name] = old;
      ::unsetenv(name);
    }
  }
  void TearDown() override {
    for (const char* name : kNames) ::unsetenv(name);
    for (const auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
    TransferFixture::TearDown();
  }

  static size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  static constexpr const char* kNames[] = {"https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"};
  std::map<std::string, std::string> saved_;
};

TEST_F(ProxyTest, SendThroughTinyproxyTable) {
  if (!TinyProxy::Available())
    GTEST_SKIP() << TinyProxy::kProgram << " is missing; scripts/setup installs tinyproxy";
  // The server speaks TLS only: a send that succeeds ran TLS inside the tunnel.
  testing::TestServer server;
  TinyProxy open_proxy({});
  TinyProxy auth_proxy({.user = "alice", .password = "s3cret", .connect_port = 0});
  TinyProxy https_only({.user = "", .password = "", .connect_port = 443});
  const uint16_t closed = ClosedPort();
  const std::string target = "127.0.0.1:" + std::to_string(server.port());
  const auto at = [](uint16_t port) { return "127.0.0.1:" + std::to_string(port); };

  struct Row {
    std::string what;
    std::map<std::string, std::string> env;
    std::map<std::string, Registry::Value> registry;
    const TinyProxy* via;  // the proxy whose log must show the tunnel
    uint8_t code;
    std::string reason;  // the first line of the details of code 8
  };
  const Row rows[] = {
      {"registry proxy", {}, {{"Proxy", at(open_proxy.port())}}, &open_proxy, 0, ""},
      {"https_proxy with credentials",
       {{"https_proxy", "http://alice:s3cret@" + at(auth_proxy.port()) + "/"}},
       {},
       &auth_proxy,
       0,
       ""},
      {"registry proxy with credentials",
       {},
       {{"Proxy", at(auth_proxy.port())}, {"ProxyUsuario", "alice"}, {"ProxySenha", "s3cret"}},
       &auth_proxy,
       0,
       ""},
      {"no_proxy bypasses the proxy",
       {{"https_proxy", at(closed)}, {"no_proxy", "localhost,127.0.0.1"}},
       {},
       nullptr,
       0,
       ""},
      {"no credentials",
       {{"HTTPS_PROXY", at(auth_proxy.port())}},
       {},
       nullptr,
       8,
       "O proxy exige autenticação (407)."},
      // tinyproxy answers a wrong password with 401 rather than 407.
      {"wrong password",
       {},
       {{"Proxy", at(auth_proxy.port())}, {"ProxyUsuario", "alice"}, {"ProxySenha", "errada"}},
       nullptr,
       8,
       "O proxy recusou a autenticação (401)."},
      {"port not allowed",
       {},
       {{"Proxy", at(https_only.port())}},
       nullptr,
       8,
       "O proxy recusou a conexão com " + target + " (403)."},
      {"proxy unreachable",
       {{"https_proxy", at(closed)}},
       {},
       nullptr,
       8,
       "Não foi possível conectar ao proxy " + at(closed) + "."},
  };
  const std::string registry_path = dir_ / "registry";
  int i = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    for (const auto& [name, value] : row.env) ::setenv(name.c_str(), value.c_str(), 1);
    std::remove(registry_path.c_str());
    Registry registry(registry_path);
    for (const auto& [name, value] : row.registry)
      registry.WriteValue(std::string(rpc::kSecurityKey), name, value);
    UseFixedServer(server.port());
    const std::string package = SendablePackage("proxy" + std::to_string(i++) + ".zlk", 70000);
    const size_t stored = server.StoredFiles().size();
    const size_t tunnels = row.via ? Count(row.via->Log(), "CONNECT " + target) : 0;
    messages_->shown.clear();
    RecordingView view;

    EXPECT_EQ(Send(package, view), row.code);
    if (row.code == 0) {
      EXPECT_EQ(server.StoredFiles().size(), stored + 1);
      EXPECT_TRUE(messages_->shown.empty());
    } else {
      EXPECT_EQ(server.StoredFiles().size(), stored);
      ASSERT_EQ(messages_->shown.size(), 1u);
      EXPECT_EQ(messages_->shown[0].text,
                "Ocorreu um erro no estabelecimento da conexão com o computador do Vorn.");
      EXPECT_EQ(messages_->shown[0].details,
                row.reason +
                    "\r\nA conexão com o computador do Vorn passa pelo proxy da rede, que não a "
                    "estabeleceu. Consulte o pessoal do suporte de sua rede.");
    }
    if (row.via) {
      EXPECT_EQ(Count(row.via->Log(), "CONNECT " + target), tunnels + 1);
    }
    for (const char* name : kNames) ::unsetenv(name);
  }
}

}  // namespace
}  // namespace vorncom::transfer

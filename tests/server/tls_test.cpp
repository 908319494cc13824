// TLS between the library's connection and vorncom-server: negotiation, certificate checks,
// client certificates, reload, and what the wire shows of a send.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "common/messages.h"
#include "server_fixture.h"
#include "support/test_pki.h"

namespace vorncom::testing {
namespace {

namespace msg = vorncom::msg;

std::string ServerTls(const std::string& cert, const std::string& key) {
  return "tls_certificate = " + cert + "\ntls_private_key = " + key + "\n";
}

std::unique_ptr<rpc::Connection> OpenTo(uint16_t port, const std::string& host,
                                        const rpc::TransportPolicy& policy) {
  rpc::ConnectionOptions options;
  options.connect_timeout = std::chrono::seconds(5);
  options.io_timeout = std::chrono::seconds(5);
  options.transport = policy;
  auto c = std::make_unique<rpc::Connection>(rpc::kServerGUID, rpc::kServerName, options);
  rpc::SetConnectionEndpoint(*c, host, port);
  c->Open();
  return c;
}

TEST(TlsTest, HandshakeOutcomes) {
  const TestPki& pki = SharedTestPki();
  const rpc::TransportPolicy trusting = TestTransport();
  rpc::TransportPolicy plain;
  plain.tls = false;
  rpc::TransportPolicy system_store;  // the machine's CAs, which know nothing of the test CA
  rpc::TransportPolicy missing_ca = trusting;
  missing_ca.ca_file = pki.folder + "/no-such-ca.pem";
  rpc::TransportPolicy with_client = trusting;
  with_client.client_certificate = pki.client_cert;
  with_client.client_key = pki.client_key;
  rpc::TransportPolicy rogue_client = trusting;
  rogue_client.client_certificate = pki.rogue_client_cert;
  rogue_client.client_key = pki.rogue_client_key;
  rpc::TransportPolicy half_client = trusting;
  half_client.client_certificate = pki.client_cert;

  const std::string valid = ServerTls(pki.server_cert, pki.server_key);
  const std::string tls12 = valid + "tls_max_version = 1.2\n";
  const std::string client_ca = valid + "tls_client_ca = " + pki.client_ca + "\n";
  const std::string client_ca12 = client_ca + "tls_max_version = 1.2\n";
  struct Row {
    const char* name;
    std::string server;  // added TLS lines; "plain" for a server without TLS
    std::string host;
    rpc::TransportPolicy client;
    std::string protocol;  // on success
    std::string failure;   // else the exact reason
  };
  const Row rows[] = {
      {"TLS 1.3 by address", valid, "127.0.0.1", trusting, "TLSv1.3", ""},
      {"TLS 1.3 by name", valid, "localhost", trusting, "TLSv1.3", ""},
      {"TLS 1.2", tls12, "127.0.0.1", trusting, "TLSv1.2", ""},
      {"both plain", "plain", "127.0.0.1", plain, "", ""},
      {"expired", ServerTls(pki.expired_cert, pki.expired_key), "127.0.0.1", trusting, "",
       msg::Format(msg::kTlsExpired, {pki.expired_on})},
      {"wrong name", ServerTls(pki.wrong_name_cert, pki.wrong_name_key), "localhost", trusting, "",
       "O certificado do servidor não pertence a 'localhost'."},
      {"wrong address", ServerTls(pki.wrong_name_cert, pki.wrong_name_key), "127.0.0.1", trusting,
       "", "O certificado do servidor não pertence a '127.0.0.1'."},
      {"unknown CA", ServerTls(pki.stranger_cert, pki.stranger_key), "127.0.0.1", trusting, "",
       std::string(msg::kTlsUntrusted)},
      {"system store", valid, "127.0.0.1", system_store, "", std::string(msg::kTlsUntrusted)},
      {"CA file missing", valid, "127.0.0.1", missing_ca, "",
       msg::Format(msg::kTlsCaFileUnreadable, {missing_ca.ca_file})},
      {"plain client, TLS server", valid, "127.0.0.1", plain, "",
       std::string(msg::kTlsServerRequiresTls)},
      {"TLS client, plain server", "plain", "127.0.0.1", trusting, "",
       std::string(msg::kTlsServerNotTls)},
      {"client certificate accepted", client_ca, "127.0.0.1", with_client, "TLSv1.3", ""},
      {"client certificate accepted, 1.2", client_ca12, "127.0.0.1", with_client, "TLSv1.2", ""},
      {"client certificate missing", client_ca, "127.0.0.1", trusting, "",
       std::string(msg::kTlsClientCertificateRequired)},
      {"client certificate missing, 1.2", client_ca12, "127.0.0.1", trusting, "",
       std::string(msg::kTlsClientCertificateRequired)},
      {"client certificate refused", client_ca, "127.0.0.1", rogue_client, "",
       std::string(msg::kTlsClientCertificateRefused)},
      {"client certificate refused, 1.2", client_ca12, "127.0.0.1", rogue_client, "",
       std::string(msg::kTlsClientCertificateRefused)},
      {"client key missing", valid, "127.0.0.1", half_client, "",
       std::string(msg::kTlsClientCertificateIncomplete)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool tls = row.server != "plain";
    TestServer server(tls ? row.server : "", "", tls);
    if (row.failure.empty()) {
      auto c = OpenTo(server.port(), row.host, row.client);
      EXPECT_EQ(c->SecureProtocol(), row.protocol);
      rpc::ReceptionServerProxy proxy(*c);
      EXPECT_EQ(proxy.CheckFormStatus(), 1);
      continue;
    }
    try {
      auto c = OpenTo(server.port(), row.host, row.client);
      // A refusal of the client certificate under TLS 1.3 arrives after the handshake.
      rpc::ReceptionServerProxy proxy(*c);
      proxy.CheckFormStatus();
      ADD_FAILURE() << "connected";
    } catch (const rpc::ESecureConnectionError& e) {
      EXPECT_EQ(e.what(), row.failure);
    }
    // The server goes on serving after any refused handshake.
    if (tls) {
      EXPECT_FALSE(PeerCertificateSerial(server.port()).empty());
    } else {
      EXPECT_TRUE(OpenTo(server.port(), "127.0.0.1", plain)->Connected());
    }
  }
}

TEST(TlsTest, StalledHandshakeLosesItsSessionAlone) {
  TestServer server("tls_handshake_timeout_ms = 300\n");
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const uint8_t start_of_a_client_hello[] = {22, 3, 1};
  ASSERT_EQ(::send(fd, start_of_a_client_hello, sizeof start_of_a_client_hello, 0), 3);
  // Others are served meanwhile, and the staller is cut off once its deadline passes.
  auto c = Connect(server.port());
  rpc::ReceptionServerProxy proxy(*c);
  EXPECT_EQ(proxy.CheckFormStatus(), 1);
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  uint8_t byte = 0;
  EXPECT_LE(::recv(fd, &byte, 1, 0), 0);
  ::close(fd);
}

TEST(TlsTest, ReloadServesNewHandshakesWhileSessionsGoOn) {
  const TestPki& pki = SharedTestPki();
  TempFolder folder;
  const std::string cert = folder / "server.pem", key = folder / "server.key";
  std::filesystem::copy_file(pki.server_cert, cert);
  std::filesystem::copy_file(pki.server_key, key);
  TestServer server(ServerTls(cert, key));
  auto before = Connect(server.port());
  rpc::ReceptionServerProxy old_session(*before);
  EXPECT_EQ(PeerCertificateSerial(server.port()), CertificateSerial(pki.server_cert));

  const auto overwrite = std::filesystem::copy_options::overwrite_existing;
  std::filesystem::copy_file(pki.renewed_cert, cert, overwrite);
  std::filesystem::copy_file(pki.renewed_key, key, overwrite);
  server.context().ReloadTls();
  EXPECT_EQ(old_session.CheckFormStatus(), 1);
  EXPECT_EQ(PeerCertificateSerial(server.port()), CertificateSerial(pki.renewed_cert));
  auto after = Connect(server.port());
  EXPECT_TRUE(after->Connected());

  // Unusable files leave the running certificate in place.
  std::filesystem::resize_file(key, 10);
  EXPECT_THROW(server.context().ReloadTls(), server::EServerConfigError);
  EXPECT_EQ(PeerCertificateSerial(server.port()), CertificateSerial(pki.renewed_cert));
  EXPECT_EQ(old_session.CheckFormStatus(), 1);
}

// Copies bytes between a client and `target` and keeps everything that passed.
class RecordingRelay {
 public:
  explicit RecordingRelay(uint16_t target) : target_(target) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("relay: cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~RecordingRelay() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  uint16_t port() const { return port_; }
  std::string Recorded() {
    std::lock_guard lock(mutex_);
    return recorded_;
  }

 private:
  static sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
  }
  void Run() {
    pollfd p{listener_, POLLIN, 0};
    while (!stop_ && ::poll(&p, 1, 20) >= 0) {
      if (!(p.revents & POLLIN)) continue;
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in to = Loopback(target_);
      if (::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) Pump(client, server);
      ::close(client);
      ::close(server);
    }
  }
  void Pump(int a, int b) {
    pollfd both[] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    char buffer[65536];
    while (!stop_ && ::poll(both, 2, 20) >= 0) {
      for (int i = 0; i < 2; ++i) {
        if (!(both[i].revents & (POLLIN | POLLHUP))) continue;
        const ssize_t n = ::recv(both[i].fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        {
          std::lock_guard lock(mutex_);
          recorded_.append(buffer, static_cast<size_t>(n));
        }
        if (::send(both[1 - i].fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) return;
      }
    }
  }

  uint16_t target_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string recorded_;
  std::thread thread_;
};

TEST(TlsTest, WireShowsNothingOfTheSend) {
  TempFolder folder;
  const std::string package = MakePackage(folder.path().string(), "pacote.zlk", 20000, 7);
  const std::vector<uint8_t> bytes = ReadFile(package);
  const std::string sample(bytes.begin() + 1000, bytes.begin() + 1064);
  // The requester's name comes back in the protocol data; in plain TCP it is on the wire, which
  // shows that the check can see it.
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "plain");
    TestServer server("packet_size = 4096\n", "", tls);
    RecordingRelay relay(server.port());
    rpc::TransportPolicy policy = TestTransport();
    policy.tls = tls;
    auto c = Connect(relay.port(), std::chrono::seconds(30), policy);
    rpc::ReceptionServerProxy proxy(*c);
    const Variant data = SendPackage(proxy, package);
    c->Close();
    EXPECT_EQ(data.At(8).ToString(), "José da Silva 7");
    const std::string wire = relay.Recorded();
    EXPECT_EQ(wire.find(sample) != std::string::npos, !tls);
    EXPECT_EQ(wire.find("José da Silva") != std::string::npos, !tls);
  }
}

}  // namespace
}  // namespace vorncom::testing

#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/variant.h"
#include "rpc/connection.h"
#include "rpc/reception_server_proxy.h"
#include "server/config.h"
#include "server/reception_service.h"
#include "server/server_context.h"

namespace vorncom::testing {

// A folder removed with everything in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// vorncom-server running in this process on a loopback ephemeral port, over TLS with the shared
// test PKI's server certificate unless `tls` is false. Clients made by the library trust the test
// CA: the constructor sets VORNCOM_TLS_CA to it when that is not set.
class TestServer {
 public:
  // `config_text` adds to (and overrides) a quiet loopback configuration over a fresh data folder.
  explicit TestServer(const std::string& config_text = "", const std::string& data_folder = "",
                      bool tls = true);
  ~TestServer();
  uint16_t port() const { return port_; }
  const std::string& data_folder() const { return data_folder_; }
  server::ServerContext& context() { return *context_; }
  std::vector<std::filesystem::path> StoredFiles() const;
  std::vector<std::filesystem::path> IncomingFiles() const;
  void Stop();

 private:
  static std::string TlsLines(bool tls);
  std::unique_ptr<TempFolder> own_folder_;
  std::string data_folder_;
  std::unique_ptr<server::ServerContext> context_;
  std::unique_ptr<server::ReceptionService> service_;
  uint16_t port_ = 0;
};

// The client policy of the tests: TLS, trusting the test CA.
rpc::TransportPolicy TestTransport();
// Plain TCP, for tests of the framing that write raw bytes.
rpc::TransportPolicy PlainTransport();

// An open client connection to 127.0.0.1:port, over `transport`.
std::unique_ptr<rpc::Connection> Connect(
    uint16_t port, std::chrono::milliseconds io_timeout = std::chrono::seconds(30),
    const rpc::TransportPolicy& transport = TestTransport());

// A form package in `folder` named `name` holding header.cfg and a data file of `data_size`
// pseudo-random bytes seeded by `seed`. Returns its path.
std::string MakePackage(const std::string& folder, const std::string& name, size_t data_size,
                        uint32_t seed, const std::string& form_type = "IRPF",
                        const std::string& form_version = "2.0");

std::vector<uint8_t> ReadFile(const std::string& path);

// The whole send sequence through `server`: availability, control packet, status, upload in
// packets of the server's size, validation and protocolation. Returns the protocol data; fails the
// test (throws) on any deviation.
Variant SendPackage(rpc::ReceptionServer& server, const std::string& package);

}  // namespace vorncom::testing

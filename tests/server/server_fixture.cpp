#include "server_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "archive/package_routines.h"
#include "common/cp1252.h"
#include "package/control_files.h"
#include "support/test_pki.h"

namespace vorncom::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "vorncom-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

TestServer::TestServer(const std::string& config_text, const std::string& data_folder, bool tls) {
  if (data_folder.empty()) {
    own_folder_ = std::make_unique<TempFolder>();
    data_folder_ = (own_folder_->path() / "data").string();
  } else {
    data_folder_ = data_folder;
  }
  server::ServerConfig config = server::ParseServerConfig(
      "listen_address = 127.0.0.1\nlisten_port = 0\nlog_sessions = false\n"
      "data_folder = " +
      data_folder_ + "\n" + TlsLines(tls) + config_text);
  context_ = std::make_unique<server::ServerContext>(std::move(config));
  service_ = std::make_unique<server::ReceptionService>(*context_);
  port_ = service_->Start();
}

std::string TestServer::TlsLines(bool tls) {
  if (!tls) return "";
  const TestPki& pki = SharedTestPki();
  ::setenv("VORNCOM_TLS_CA", pki.ca.c_str(), 0);
  return "tls_certificate = " + pki.server_cert + "\ntls_private_key = " + pki.server_key + "\n";
}

TestServer::~TestServer() { Stop(); }

void TestServer::Stop() {
  if (service_) service_->Stop();
}

static std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<fs::path> TestServer::StoredFiles() const { return FilesIn(data_folder_ + "/store"); }
std::vector<fs::path> TestServer::IncomingFiles() const {
  return FilesIn(data_folder_ + "/incoming");
}

rpc::TransportPolicy TestTransport() {
  rpc::TransportPolicy policy;
  policy.ca_file = SharedTestPki().ca;
  return policy;
}

rpc::TransportPolicy PlainTransport() {
  rpc::TransportPolicy policy;
  policy.tls = false;
  return policy;
}

std::unique_ptr<rpc::Connection> Connect(uint16_t port, std::chrono::milliseconds io_timeout,
                                         const rpc::TransportPolicy& transport) {
  rpc::ConnectionOptions options;
  options.io_timeout = io_timeout;
  options.transport = transport;
  auto c = std::make_unique<rpc::Connection>(rpc::kServerGUID, rpc::kServerName, options);
  c->SetAddress("127.0.0.1");
  c->SetPort(port);
  c->Open();
  return c;
}

std::string MakePackage(const std::string& folder, const std::string& name, size_t data_size,
                        uint32_t seed, const std::string& form_type,
                        const std::string& form_version) {
  const fs::path work = fs::path(folder) / ("src-" + name);
  fs::create_directories(work);
  {
    std::mt19937 random(seed);
    std::ofstream data(work / "dados.dat", std::ios::binary);
    for (size_t i = 0; i < data_size; ++i) data.put(static_cast<char>(random()));
  }
  namespace ini = package::ini;
  // Written in one go: the configuration-file class replaces the file atomically per key, which
  // is too slow for the hundreds of packages the load test makes.
  const std::string text = std::string("[") + ini::kDocumento + "]\r\n" + ini::kTipoSolicitacao +
                           "=" + form_type + "\r\n" + ini::kNomeSolicitacao + "=Declaração " +
                           form_type + "\r\n" + ini::kVersaoSolicitacao + "=" + form_version +
                           "\r\n" + ini::kDataAtualizacao + "=01/02/2026 10:20:30\r\n[" +
                           ini::kUsuario + "]\r\n" + ini::kIdentificacaoSolicitante +
                           "=123.456.789-" + std::to_string(seed % 100) + "\r\n" +
                           ini::kNomeSolicitante + "=José da Silva " + std::to_string(seed) +
                           "\r\n" + ini::kIdentificacaoVorn + "=V" + std::to_string(seed) + "\r\n";
  std::ofstream(work / package::kHeaderFileName, std::ios::binary) << Utf8ToCp1252(text);
  const std::string package = (fs::path(folder) / name).string();
  Variant names = Variant::Array(0, 2);
  names.At(0) = (work / package::kHeaderFileName).string();
  names.At(1) = (work / "dados.dat").string();
  archive::AddFilesToPackage(names, work.string() + "/", package, true);
  fs::remove_all(work);
  return package;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

Variant SendPackage(rpc::ReceptionServer& server, const std::string& package) {
  const std::vector<uint8_t> bytes = ReadFile(package);
  const std::string name = fs::path(package).filename().string();
  Variant busy(false);
  if (!server.AcceptingConnections(busy) || busy.ToBoolean())
    throw std::runtime_error("server not available");
  server.SendControlPacket(rpc::BuildControlPacket(
      "IRPF", "2.0", name, static_cast<double>(bytes.size()), rpc::Operation::kSend, "127.0.0.1"));
  Variant packet_size(int32_t{0});
  const int32_t status = server.CheckServerStatus(packet_size);
  if (!rpc::IsAvailableStatus(status)) throw std::runtime_error("status " + std::to_string(status));
  const auto size = static_cast<size_t>(packet_size.ToInteger());
  server.SendFile(name);
  Variant buffer(ByteArray{1, std::vector<uint8_t>(size)});
  for (size_t done = 0;;) {
    const size_t n = std::min(size, bytes.size() - done);
    std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(done), n, buffer.AsBytes().bytes.begin());
    if (n == 0) break;
    Variant count(static_cast<int32_t>(n));
    server.SendDataPacket(buffer, count);
    done += n;
    if (n < size) break;
  }
  if (!server.ValidFile(Variant(int32_t{0}))) throw std::runtime_error("upload not valid");
  Variant data = Variant::Array(1, 14);
  server.Protocolate(data);
  return data;
}

}  // namespace vorncom::testing

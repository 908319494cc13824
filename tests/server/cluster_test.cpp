// vorncom-server processes on one PostgreSQL registry, one store and one incoming folder, and
// clients sending through the real library (C host processes, each with a folder of its own)
// while one server is killed and the database restarted. Whatever a send went through, it ends
// stamped with its own number, registered once and stored byte for byte, and what the servers
// count adds up to what was sent.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "archive/package_routines.h"
#include "common/cp1252.h"
#include "common/sha256.h"
#include "common/variant.h"
#include "package/configuration_manager.h"
#include "package/control_files.h"
#include "package/origin_tag.h"
#include "rpc/server_list.h"
#include "server/postgres/connection.h"
#include "server_fixture.h"
#include "support/child_process.h"
#include "support/postgres_instance.h"

namespace vorncom::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("no free port");
  ::close(fd);
  return ntohs(address.sin_port);
}

// Listens on 127.0.0.1:port until one connection comes (within `limit`), then closes it and
// stops listening; false when none came.
bool AcceptOnceAndDrop(int port, milliseconds limit) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0)
    throw std::runtime_error("cannot listen on port " + std::to_string(port));
  pollfd waiting{fd, POLLIN, 0};
  const bool came = ::poll(&waiting, 1, static_cast<int>(limit.count())) == 1;
  if (came) ::close(::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC));
  ::close(fd);
  return came;
}

struct HttpAnswer {
  int status = 0;  // 0: no answer
  std::string body;
};

// One GET over HTTP/1.0 to 127.0.0.1:port.
HttpAnswer HttpGet(int port, const std::string& path) {
  HttpAnswer answer;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return answer;
  const timeval timeout{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  std::string text;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      char buffer[8192];
      for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) text.append(buffer, n);
    }
  }
  ::close(fd);
  if (text.starts_with("HTTP/1.") && text.size() > 12) answer.status = std::atoi(&text[9]);
  if (const size_t end = text.find("\r\n\r\n"); end != std::string::npos)
    answer.body = text.substr(end + 4);
  return answer;
}

// The samples of a Prometheus text without labels, by name.
std::map<std::string, double> ParseMetrics(const std::string& text) {
  std::map<std::string, double> values;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#' || line.find('{') != std::string::npos) continue;
    const size_t space = line.find(' ');
    if (space != std::string::npos) values[line.substr(0, space)] = std::stod(line.substr(space));
  }
  return values;
}

constexpr const char* kProtocolations = "vorncom_server_protocolations_total";
constexpr const char* kDeduplicated = "vorncom_server_deduplicated_sends_total";
constexpr const char* kResumed = "vorncom_server_resumed_transfers_total";
constexpr const char* kStarted = "vorncom_server_uploads_started_total";
constexpr const char* kReceived = "vorncom_server_received_bytes_total";

// vorncom-server processes sharing one registry, store, incoming and download folder; each lists
// all of them in the server list it hands out and names itself "servidor-N" in its protocols.
class Cluster {
 public:
  Cluster(const fs::path& work, const std::string& registry, int count) : work_(work) {
    for (const char* folder : {"store", "incoming", "downloads"})
      fs::create_directories(work / folder);
    for (int i = 0; i < count; ++i) servers_.push_back({FreePort(), FreePort()});
    for (int i = 0; i < count; ++i) {
      const fs::path data = work / ("server" + std::to_string(i));
      fs::create_directories(data);
      std::ofstream config(data / "server.cfg");
      config << "listen_address = 127.0.0.1\nlisten_port = " << servers_[i].port
             << "\ndata_folder = " << data.string() << "\nregistry = " << registry
             << "\nstore_folder = " << (work / "store").string()
             << "\nincoming_folder = " << (work / "incoming").string()
             << "\ndownload_folder = " << (work / "downloads").string()
             << "\nmetrics_address = 127.0.0.1:" << servers_[i].metrics_port
             << "\nserver_address = " << Name(i)
             << "\nlog_sessions = true\nresume_sync_bytes = 262144\n";
      for (const Server& s : servers_) config << "server = 127.0.0.1 | " << s.port << "\n";
    }
  }

  static std::string Name(int i) { return "servidor-" + std::to_string(i); }
  int port(int i) const { return servers_[i].port; }
  fs::path StoreFolder() const { return work_ / "store"; }
  fs::path IncomingFolder() const { return work_ / "incoming"; }

  // Starts server i and waits until it listens; false when it did not come up (its port taken).
  bool Start(int i) {
    const fs::path data = work_ / ("server" + std::to_string(i));
    fs::remove(data / "port");
    servers_[i].process = ChildProcess({VORNCOM_SERVER, "--config", (data / "server.cfg").string(),
                                        "--port-file", (data / "port").string()},
                                       {}, "", (data / "server.log").string());
    for (auto deadline = Clock::now() + seconds(30); Clock::now() < deadline;) {
      int port = 0;
      if (std::ifstream(data / "port") >> port && Health(i) != 0) return true;
      if (!servers_[i].process.Running()) return false;
      std::this_thread::sleep_for(milliseconds(20));
    }
    return false;
  }
  void Kill(int i) { servers_[i].process.Kill(SIGKILL); }
  std::string Log(int i) const {
    std::ifstream in(work_ / ("server" + std::to_string(i)) / "server.log");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  int Health(int i) const { return HttpGet(servers_[i].metrics_port, "/health").status; }
  std::map<std::string, double> Metrics(int i) const {
    const HttpAnswer answer = HttpGet(servers_[i].metrics_port, "/metrics");
    if (answer.status != 200) throw std::runtime_error("no metrics from " + Name(i));
    return ParseMetrics(answer.body);
  }

  // A client configuration file naming every server.
  void WriteClientList(const std::string& file) const {
    std::vector<rpc::ServerItem> items;
    for (const Server& s : servers_) items.push_back({"127.0.0.1", s.port, true});
    package::TConfigurationManager().SaveServerList(
        file, Variant(ByteArray{1, rpc::EncodeServerList(items)}));
  }

 private:
  struct Server {
    int port, metrics_port;
    ChildProcess process{};
  };
  fs::path work_;
  std::vector<Server> servers_;
};

// What a package holds after its send: the values of its protocolo.rec, by key (UTF-8), or
// nothing when it holds none.
std::map<std::string, std::string> ProtocolRecord(const std::string& package,
                                                  const fs::path& scratch) {
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  std::map<std::string, std::string> values;
  if (!archive::ExtractPackageEntry(package::kProtocolFileName, package, scratch.string() + "/",
                                    1 << 20))
    return values;
  std::ifstream in(scratch / package::kProtocolFileName, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq != std::string::npos && !line.starts_with("["))
      values[Cp1252ToUtf8(line.substr(0, eq))] = Cp1252ToUtf8(line.substr(eq + 1));
  }
  return values;
}

// A form package the library sends: header.cfg with every key it requires and the origin tag of
// `name`, and `data_size` pseudo-random bytes seeded by `seed`. Returns its path.
std::string MakeClientPackage(const fs::path& folder, const std::string& name, size_t data_size,
                              uint32_t seed) {
  const fs::path work = folder / ("src-" + name);
  fs::create_directories(work);
  {
    std::mt19937 random(seed);
    std::vector<uint32_t> words(data_size / 4 + 1);
    for (uint32_t& word : words) word = random();
    std::ofstream(work / "dados.dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(words.data()),
               static_cast<std::streamsize>(data_size));
  }
  using namespace package::ini;
  const std::string n = std::to_string(seed);
  std::string text = std::string("[") + kDocumento + "]\r\n";
  const std::pair<const char*, std::string> document[] = {
      {kCodigoSistema, "DEC"},
      {kVersaoSistema, "2.1"},
      {kMeioEnvio, "Internet"},
      {kEnderecoHost, "10.0.0.1"},
      {kNomeHost, "estacao" + n},
      {kTipoSolicitacao, "DEC"},
      {kNomeSolicitacao, "Declaração"},
      {kVersaoSolicitacao, "1.0"},
      {kNomeArquivo, "dados.dat"},
      {kSistemaOperacional, "Linux"},
      {kConfiguracoesComputador, "x86-64"},
      {kOrigemSolicitacao, package::ComputeOriginTag(name)}};
  for (const auto& [key, value] : document) text += std::string(key) + "=" + value + "\r\n";
  text += std::string("[") + kUsuario + "]\r\n" + kTipoSolicitante + "=PF\r\n" +
          kIdentificacaoSolicitante + "=000.000.000-" + n + "\r\n" + kIdentificacaoVorn + "=V" + n +
          "\r\n" + kNomeSolicitante + "=Pessoa " + n + "\r\n[" + kControles + "]\r\n" + kCodigo +
          "=ABC" + n + "\r\n";
  std::ofstream(work / package::kHeaderFileName, std::ios::binary) << Utf8ToCp1252(text);
  const std::string package = (folder / name).string();
  Variant names = Variant::Array(0, 2);
  names.At(0) = (work / "dados.dat").string();
  names.At(1) = (work / package::kHeaderFileName).string();
  archive::AddFilesToPackage(names, work.string() + "/", package, true);
  fs::remove_all(work);
  return package;
}

// Clients, each a host folder of its own with its own journal, sending through the library.
class Clients {
 public:
  Clients(const fs::path& work, const Cluster& cluster, int count) : work_(work) {
    for (int i = 0; i < count; ++i) {
      const fs::path base = work / ("host" + std::to_string(i));
      fs::create_directories(base);
      cluster.WriteClientList((base / "servidores.cfg").string());
    }
  }

  // Every client sends its packages in turn, all clients at once; `during` is called every
  // 20 ms with the number of sends finished so far. Returns each package's result code, or
  // fails the test when a host crashed or hung.
  std::map<std::string, int> Send(const std::vector<std::vector<std::string>>& packages,
                                  const std::function<void(size_t)>& during, seconds limit) {
    ++round_;
    std::vector<ChildProcess> hosts;
    std::vector<fs::path> outputs, errors;
    for (size_t i = 0; i < packages.size(); ++i) {
      if (packages[i].empty()) continue;
      const fs::path base = work_ / ("host" + std::to_string(i));
      const std::string tag = std::to_string(round_);
      std::vector<std::string> argv{CLUSTER_HOST, VORNCOM_CLIENT_LIBRARY,
                                    (base / "servidores.cfg").string(), "1000"};
      argv.insert(argv.end(), packages[i].begin(), packages[i].end());
      outputs.push_back(base / ("results" + tag));
      errors.push_back(base / ("errors" + tag));
      hosts.emplace_back(
          argv,
          // Plain TCP: on two cores the handshakes of hundreds of sends would be most of the run.
          std::vector<std::string>{"VORNCOM_BASE_DIR=" + base.string() + "/",
                                   "VORNCOM_REGISTRY=" + (base / "registry").string(),
                                   "VORNCOM_UNATTENDED=1", "VORNCOM_TLS=desligado",
                                   "XDG_RUNTIME_DIR=" + base.string()},
          outputs.back().string(), errors.back().string());
    }
    const auto deadline = Clock::now() + limit;
    for (;;) {
      const bool running =
          std::any_of(hosts.begin(), hosts.end(), [](ChildProcess& h) { return h.Running(); });
      if (!running) break;
      if (Clock::now() > deadline) {
        ADD_FAILURE() << "a host still sending after " << limit.count() << " s";
        break;
      }
      during(Results(outputs).size());
      std::this_thread::sleep_for(milliseconds(20));
    }
    for (size_t i = 0; i < hosts.size(); ++i) {
      hosts[i].Kill(SIGKILL);
      const int status = hosts[i].status();
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "a host ended with status " << status << ":\n"
          << std::ifstream(errors[i]).rdbuf();
    }
    return Results(outputs);
  }

 private:
  static std::map<std::string, int> Results(const std::vector<fs::path>& outputs) {
    std::map<std::string, int> results;
    for (const fs::path& output : outputs) {
      std::ifstream in(output);
      int code;
      for (std::string path; in >> code >> path;) results[path] = code;
    }
    return results;
  }

  fs::path work_;
  int round_ = 0;
};

#ifndef VORNCOM_CLUSTER_SENDS
#define VORNCOM_CLUSTER_SENDS 400
#endif

// $VORNCOM_CLUSTER_SENDS when set; the build chooses the default (fewer under the sanitizers).
int SendCount() {
  const char* chosen = std::getenv("VORNCOM_CLUSTER_SENDS");
  return chosen && std::atoi(chosen) > 0 ? std::atoi(chosen) : VORNCOM_CLUSTER_SENDS;
}

class ClusterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PostgresInstance::FindBinaries()) GTEST_SKIP() << PostgresInstance::kSkipReason;
    pg_ = std::make_unique<PostgresInstance>();
  }

  // Starts `count` servers; another set of ports when one was taken in between.
  void StartCluster(int count, int started) {
    for (int attempt = 1;; ++attempt) {
      cluster_ = std::make_unique<Cluster>(work_.path() / ("cluster" + std::to_string(attempt)),
                                           pg_->Url(), count);
      bool up = true;
      for (int i = 0; i < started && up; ++i) up = cluster_->Start(i);
      if (up) return;
      if (attempt == 3) FAIL() << "servers did not start:\n" << cluster_->Log(0);
    }
  }

  TempFolder work_;
  std::unique_ptr<PostgresInstance> pg_;
  std::unique_ptr<Cluster> cluster_;
};

TEST_F(ClusterTest, SendsSurviveAKilledServerAndARestartedDatabase) {
  constexpr int kServers = 4, kHosts = 16, kVictim = 0;
  const int sends = SendCount();
  StartCluster(kServers, kServers);
  if (HasFatalFailure()) return;

  // Every eighth package is a few MiB, so that the kill often lands in the middle of an upload.
  const fs::path packages = work_.path() / "packages";
  fs::create_directories(packages);
  std::vector<std::vector<std::string>> assigned(kHosts);
  std::map<std::string, int> host_of;
  std::map<std::string, std::string> sha_of;  // as sent, before any stamp
  for (int i = 0; i < sends; ++i) {
    const size_t size = i % 8 == 3 ? (3 << 20) + i : 20'000 + 97 * i;
    const std::string name = "p" + std::to_string(i) + ".zlk";
    const std::string path = MakeClientPackage(packages, name, size, 1000 + i);
    sha_of[path] = Sha256OfFile(path);
    assigned[i % kHosts].push_back(path);
    host_of[path] = i % kHosts;
  }
  Clients clients(work_.path(), *cluster_, kHosts);

  std::map<std::string, double> victim_before;
  int health_back = 0;
  bool killed = false, restarted = false;
  fs::file_time_type killed_at;
  const auto during = [&](size_t done) {
    if (!killed && done >= static_cast<size_t>(sends) / 5) {
      // Killed while bytes come in, so that an upload is cut.
      double last = cluster_->Metrics(kVictim)[kReceived];
      for (int poll = 0; poll < 100; ++poll) {
        std::this_thread::sleep_for(milliseconds(10));
        victim_before = cluster_->Metrics(kVictim);
        if (victim_before[kReceived] - last > 256 * 1024) break;
        last = victim_before[kReceived];
      }
      cluster_->Kill(kVictim);
      killed_at = fs::file_time_type::clock::now();
      killed = true;
    }
    if (killed && !restarted && done >= static_cast<size_t>(sends) / 2) {
      pg_->Stop();
      for (int i = 1; i < kServers; ++i)
        EXPECT_EQ(cluster_->Health(i), 503) << Cluster::Name(i) << " with its database down";
      std::this_thread::sleep_for(milliseconds(1000));
      pg_->Start();
      for (auto deadline = Clock::now() + seconds(20); Clock::now() < deadline;) {
        health_back = cluster_->Health(1);
        if (health_back == 200) break;
        std::this_thread::sleep_for(milliseconds(100));
      }
      restarted = true;
    }
  };

  std::map<std::string, int> results = clients.Send(assigned, during, seconds(300));
  ASSERT_TRUE(killed && restarted) << results.size() << " sends finished";
  EXPECT_EQ(health_back, 200);
  for (int i = 1; i < kServers; ++i) EXPECT_EQ(cluster_->Health(i), 200);

  // The failed ones are sent again, each by its own client (whose journal knows them).
  std::map<int, int> failures;  // result code -> sends
  for (int round = 1; round <= 3; ++round) {
    std::vector<std::vector<std::string>> again(kHosts);
    size_t count = 0;
    for (const auto& [path, host] : host_of) {
      const auto it = results.find(path);
      ASSERT_NE(it, results.end()) << path << " has no result: its host crashed";
      if (it->second == 0) continue;
      ++failures[it->second];
      again[host].push_back(path);
      ++count;
    }
    if (count == 0) break;
    for (auto& [path, code] : clients.Send(
             again, [](size_t) {}, seconds(120)))
      results[path] = code;
  }
  std::string failure_text;
  for (const auto& [code, n] : failures)
    failure_text += " " + std::to_string(n) + "x" + std::to_string(code);
  std::cout << "sent again:" << (failure_text.empty() ? " none" : failure_text) << "\n";

  // Every package is stamped with a number of its own, given by the server its record names.
  std::map<std::string, std::string> number_of;  // package -> protocol number
  std::map<std::string, int> stamped_by;         // server name -> packages
  for (const auto& [path, host] : host_of) {
    ASSERT_EQ(results[path], 0) << path << " never sent";
    const auto record = ProtocolRecord(path, work_.path() / "record");
    ASSERT_FALSE(record.empty()) << path << " holds no protocolo.rec";
    EXPECT_EQ(record.at(package::ini::kNomeArquivo), fs::path(path).filename().string());
    number_of[path] = record.at(package::ini::kNumeroProtocolo);
    ++stamped_by[record.at(package::ini::kEnderecoHost)];
  }
  std::set<std::string> numbers;
  for (const auto& [path, number] : number_of) numbers.insert(number);
  EXPECT_EQ(numbers.size(), static_cast<size_t>(sends)) << "protocol numbers given twice";

  // The registry made exactly those registrations, once each, for those bytes, and the store
  // holds exactly their files, byte for byte as sent.
  postgres::Connection db(pg_->Url());
  const postgres::Result rows =
      db.Execute("SELECT number, file_name, sha256, stored_name, operation FROM registrations");
  ASSERT_EQ(rows.Rows(), sends);
  std::map<std::string, std::string> package_of;
  for (const auto& [path, number] : number_of) package_of[number] = path;
  std::set<std::string> stored_names;
  for (int r = 0; r < rows.Rows(); ++r) {
    const std::string number = rows.Text(r, 0);
    ASSERT_TRUE(package_of.count(number)) << "registration " << number << " stamped nowhere";
    const std::string& path = package_of[number];
    EXPECT_EQ(rows.Text(r, 1), fs::path(path).filename().string()) << number;
    EXPECT_EQ(rows.Text(r, 2), sha_of[path]) << number;
    EXPECT_EQ(rows.Int64(r, 4), 1) << number;
    const std::string stored = rows.Text(r, 3);
    stored_names.insert(stored);
    EXPECT_EQ(Sha256OfFile((cluster_->StoreFolder() / stored).string()), sha_of[path])
        << "stored " << stored << " differs from " << path;
  }
  // Beside them, only what the kill may have cut between a rename into the store and its
  // commit: a whole upload, untouched since (a server's start-up removes it after the grace).
  std::set<std::string> sent_shas;
  for (const auto& [path, sha] : sha_of) sent_shas.insert(sha);
  int uncommitted = 0;
  for (const auto& entry : fs::directory_iterator(cluster_->StoreFolder())) {
    if (stored_names.count(entry.path().filename().string())) continue;
    ++uncommitted;
    EXPECT_LE(entry.last_write_time(), killed_at) << entry.path() << " stored unregistered";
    EXPECT_TRUE(sent_shas.count(Sha256OfFile(entry.path().string()))) << entry.path();
  }

  // What incoming may still hold: the bytes of uploads abandoned unregistered, which a client
  // may yet resume, and of one the kill cut before its record was made; nothing of a registered
  // upload, no file of any other kind.
  int abandoned = 0;
  for (const auto& entry : fs::directory_iterator(cluster_->IncomingFolder())) {
    const std::string name = entry.path().filename().string();
    ASSERT_TRUE(name.starts_with("resume-") && name.ends_with(".part")) << name << " in incoming";
    const std::string id = name.substr(7, name.size() - 12);
    const postgres::Result upload = db.Execute("SELECT state FROM uploads WHERE id = $1", {id});
    ++abandoned;
    if (upload.Rows() == 0)
      EXPECT_LE(entry.last_write_time(), killed_at) << name << " belongs to no upload";
    else
      EXPECT_EQ(upload.Text(0, 0), "open") << name << " left behind";
  }

  // Each surviving server counts as new protocolations exactly the registrations it made (its
  // name is in their records); deduplicated answers are counted apart. The killed one had made
  // at least as many as it had counted when last scraped.
  double resumed = 0, deduplicated = victim_before[kDeduplicated];
  for (int i = 0; i < kServers; ++i) {
    if (i == kVictim) {
      EXPECT_GE(stamped_by[Cluster::Name(i)],
                victim_before[kProtocolations] - victim_before[kDeduplicated]);
      continue;
    }
    const auto metrics = cluster_->Metrics(i);
    EXPECT_EQ(metrics.at(kProtocolations) - metrics.at(kDeduplicated), stamped_by[Cluster::Name(i)])
        << Cluster::Name(i);
    EXPECT_GE(metrics.at(kStarted), stamped_by[Cluster::Name(i)] - metrics.at(kResumed));
    resumed += metrics.at(kResumed);
    deduplicated += metrics.at(kDeduplicated);
  }
  int stamped = 0;
  for (const auto& [server, n] : stamped_by) stamped += n;
  EXPECT_EQ(stamped, sends);
  std::cout << sends << " sends; registrations by server:";
  for (const auto& [server, n] : stamped_by) std::cout << " " << server << "=" << n;
  std::cout << "; resumed " << resumed << ", deduplicated " << deduplicated << "; left "
            << abandoned << " in incoming, " << uncommitted << " unregistered in the store\n";
}

// An upload cut by a killed server goes on, from the bytes that server had flushed, on another
// server of the list that sees the same incoming folder, and the server that finished it never
// received those bytes again. The second server is down when the send starts, so the upload
// begins on the first, and still down at the library's first new attempt (the test answers for
// the killed server and drops that connection): it comes up only for a later attempt, which must
// try again the server the first one had given up on.
TEST_F(ClusterTest, UploadCutByAKilledServerResumesOnAnother) {
  StartCluster(2, 1);
  if (HasFatalFailure()) return;
  const fs::path packages = work_.path() / "packages";
  const std::string package = MakeClientPackage(packages, "grande.zlk", 24 << 20, 7);
  const std::string sha = Sha256OfFile(package);
  const double size = static_cast<double>(fs::file_size(package));
  Clients clients(work_.path(), *cluster_, 1);

  postgres::Connection db(pg_->Url());
  double held = -1;
  bool second_up = false;
  const auto during = [&](size_t done) {
    if (held >= 0 || done > 0) return;
    if (cluster_->Metrics(0)[kReceived] < (2 << 20)) return;
    cluster_->Kill(0);
    const postgres::Result upload = db.Execute("SELECT held FROM uploads");
    ASSERT_EQ(upload.Rows(), 1);
    held = static_cast<double>(upload.Int64(0, 0));
    ASSERT_TRUE(AcceptOnceAndDrop(cluster_->port(0), seconds(30)))
        << "the library never connected again";
    second_up = cluster_->Start(1);
  };
  const auto results = clients.Send({{package}}, during, seconds(120));
  ASSERT_TRUE(second_up) << "held " << held << ", result "
                         << (results.count(package) ? results.at(package) : -1) << "\n"
                         << cluster_->Log(0) << cluster_->Log(1);
  ASSERT_GT(held, 0) << "nothing held when the first server was killed";
  ASSERT_LT(held, size) << "the upload had ended before the kill";
  ASSERT_EQ(results.at(package), 0) << cluster_->Log(1);

  const auto record = ProtocolRecord(package, work_.path() / "record");
  EXPECT_EQ(record.at(package::ini::kEnderecoHost), Cluster::Name(1));
  const postgres::Result rows = db.Execute("SELECT number, stored_name FROM registrations");
  ASSERT_EQ(rows.Rows(), 1);
  EXPECT_EQ(rows.Text(0, 0), record.at(package::ini::kNumeroProtocolo));
  EXPECT_EQ(Sha256OfFile((cluster_->StoreFolder() / rows.Text(0, 1)).string()), sha);

  const auto second = cluster_->Metrics(1);
  EXPECT_EQ(second.at(kStarted), 0) << "the upload started over";
  EXPECT_EQ(second.at(kResumed), 1);
  // The rest of the file and the calls around it, not the bytes the first server held.
  EXPECT_GE(second.at(kReceived), size - held);
  EXPECT_LT(second.at(kReceived), size - held + (64 << 10))
      << "held " << held << " of " << size << "\n"
      << cluster_->Log(1);
  EXPECT_TRUE(fs::is_empty(cluster_->IncomingFolder()));
}

}  // namespace
}  // namespace vorncom::testing

// Sends and downloads over a long, slow link, through the C exports in unattended mode, against
// a raw TCP stream of the same size through the same relay process. vorncom-server (TLS, a
// throw-away PKI), vorncom-link-relay and the host (link_bench_host) are processes of their own, so
// the host's peak memory is the client's alone.
//
// LinkTransfers/<profile>: send_share and get_share are the exports' throughput over the raw
// stream's (target ≥ 0.8), send_peak_MiB and get_peak_MiB the host's VmHWM (target < 64).
// WindowShownAgainstHidden: sends on loopback with the transfer window hidden (no platform) and
// shown (offscreen), in turns; shown_share = shown throughput over hidden (target ≥ 0.9).
//
// LINK_BENCH_MIB (default 64) sets the size of the package and of the file, LINK_BENCH_PACKET
// (default 65536) the server's packet size.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/test_pki.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

size_t EnvironmentNumber(const char* name, size_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::stoul(text) : fallback;
}
size_t TransferBytes() { return EnvironmentNumber("LINK_BENCH_MIB", 64) << 20; }
size_t PacketSize() { return EnvironmentNumber("LINK_BENCH_PACKET", 65536); }
double MiB(size_t bytes) { return static_cast<double>(bytes) / (1 << 20); }

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteRandom(const fs::path& path, size_t size, uint32_t seed) {
  std::mt19937_64 random(seed);
  std::vector<uint64_t> block(1 << 17);
  std::ofstream out(path, std::ios::binary);
  for (size_t written = 0; written < size;) {
    for (uint64_t& word : block) word = random();
    const size_t n = std::min(size - written, block.size() * sizeof(uint64_t));
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    written += n;
  }
}

// A child process with the environment of this one, changed; stopped (SIGTERM) and awaited when
// the object goes unless it ended before.
class Child {
 public:
  Child(const std::vector<std::string>& args,
        const std::vector<std::pair<std::string, std::string>>& set = {},
        const std::vector<std::string>& unset = {}, const fs::path& output = {}) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('='));
      bool keep = true;
      for (const std::string& u : unset) keep = keep && u != name;
      for (const auto& s : set) keep = keep && s.first != name;
      if (keep) environment.push_back(entry);
    }
    for (const auto& [name, value] : set) environment.push_back(name + "=" + value);
    // Built before fork: the child only calls async-signal-safe functions.
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const int out = output.empty()
                        ? -1
                        : ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      if (out >= 0) ::dup2(out, STDOUT_FILENO);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    if (out >= 0) ::close(out);
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    Wait();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The exit status (-1 when killed by a signal).
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = 0;
};

// The lines of `path` once it holds `count` of them; throws after ten seconds.
std::vector<uint16_t> AwaitPorts(const fs::path& path, size_t count) {
  for (int i = 0; i < 1000; ++i) {
    std::istringstream lines(Slurp(path));
    std::vector<uint16_t> ports;
    for (unsigned port; lines >> port;) ports.push_back(static_cast<uint16_t>(port));
    if (ports.size() >= count) return ports;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("no port in " + path.string());
}

int Listen(uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd, 8);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  port = ntohs(a.sin_port);
  return fd;
}

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    throw std::runtime_error("connect");
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

void SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("send");
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void ReceiveAll(int fd, char* into, size_t size) {
  while (size > 0) {
    const ssize_t n = ::recv(fd, into, size, 0);
    if (n <= 0) throw std::runtime_error("recv");
    into += n;
    size -= static_cast<size_t>(n);
  }
}

// What a transfer with no protocol moves: 'u' then the bytes, answered by one byte; or 'd',
// answered by the bytes. One connection at a time.
class RawEndpoint {
 public:
  explicit RawEndpoint(size_t bytes) : bytes_(bytes), listener_(Listen(port_)) {
    thread_ = std::thread([this] {
      std::vector<char> buffer(bytes_);
      for (;;) {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        try {
          char mode = 0;
          ReceiveAll(fd, &mode, 1);
          if (mode == 'u') {
            ReceiveAll(fd, buffer.data(), bytes_);
            SendAll(fd, "k", 1);
          } else {
            SendAll(fd, buffer.data(), bytes_);
          }
        } catch (const std::exception&) {
        }
        ::close(fd);
      }
    });
  }
  ~RawEndpoint() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  size_t bytes_;
  uint16_t port_ = 0;
  int listener_;
  std::thread thread_;
};

// Seconds for one raw transfer through `port`, from connecting to the last byte.
double RawSeconds(uint16_t port, char mode, size_t bytes) {
  std::vector<char> buffer(bytes, 'r');
  const Clock::time_point start = Clock::now();
  const int fd = Connect(port);
  SendAll(fd, &mode, 1);
  if (mode == 'u') {
    SendAll(fd, buffer.data(), bytes);
    char ack;
    ReceiveAll(fd, &ack, 1);
  } else {
    ReceiveAll(fd, buffer.data(), bytes);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  return seconds;
}

// The server, the package, the file to download and the raw endpoint, made once per run.
class World {
 public:
  World()
      : folder_((fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
                ("vorncom-link-bench-" + std::to_string(::getpid()))),
        raw_(TransferBytes()) {
    fs::create_directories(folder_ / "data" / "downloads");
    WriteRandom(folder_ / "data" / "downloads" / "grande.zlk", TransferBytes(), 1);
    const vorncom::testing::TestPki& pki = vorncom::testing::SharedTestPki();
    std::ofstream(folder_ / "server.cfg")
        << "listen_address = 127.0.0.1\nlog_sessions = false\ndata_folder = "
        << (folder_ / "data").string() << "\npacket_size = " << PacketSize()
        << "\nmax_frame = " << std::max<size_t>(1 << 20, PacketSize() + 4096)
        << "\nmax_upload = " << TransferBytes() * 2 << "\ntls_certificate = " << pki.server_cert
        << "\ntls_private_key = " << pki.server_key << "\n";
    server_ = std::make_unique<Child>(
        std::vector<std::string>{VORNCOM_SERVER, "--config", (folder_ / "server.cfg").string(),
                                 "--port", "0", "--port-file", (folder_ / "server.port").string()});
    server_port_ = AwaitPorts(folder_ / "server.port", 1)[0];
    MakePackage();
  }
  ~World() {
    server_.reset();
    fs::remove_all(folder_);
  }

  uint16_t server_port() const { return server_port_; }
  uint16_t raw_port() const { return raw_.port(); }
  const fs::path& folder() const { return folder_; }

  struct HostRun {
    double seconds;
    double peak_mib;
  };

  // One SendFile of a fresh copy of the package (`send`) or one GetFile of the server's file,
  // by the host in a process of its own, with the window shown (offscreen) or not.
  HostRun RunHost(bool send, uint16_t port, bool window_shown) {
    const fs::path base = folder_ / ("host-" + std::to_string(++runs_));
    fs::create_directories(base);
    std::string what = "grande.zlk";
    if (send) {
      what = (base / "declaracao.zlk").string();
      fs::copy_file(folder_ / "declaracao.zlk", what);
    }
    std::vector<std::pair<std::string, std::string>> set = {
        {"VORNCOM_BASE_DIR", base.string()},
        {"VORNCOM_REGISTRY", (base / "registry").string()},
        {"VORNCOM_UNATTENDED", "1"},
        {"VORNCOM_TLS_CA", vorncom::testing::SharedTestPki().ca},
        {"VORNCOM_PDF_PRINTER", (base / "recibos").string()}};
    std::vector<std::string> unset = {"QT_QPA_PLATFORM"};
    if (window_shown) {
      set.emplace_back("QT_QPA_PLATFORM", "offscreen");
      fs::create_directory(base / "xdg");
      fs::permissions(base / "xdg", fs::perms::owner_all);  // Qt wants it private
      set.emplace_back("XDG_RUNTIME_DIR", (base / "xdg").string());
    }
    Child host(
        {LINK_BENCH_HOST, VORNCOM_LIBRARY, send ? "send" : "get", what, std::to_string(port)}, set,
        unset, base / "host.out");
    const int status = host.Wait();
    const std::string output = Slurp(base / "host.out");
    fs::remove_all(base);
    double seconds = 0;
    long peak_kib = 0;
    int result = -1;
    if (status != 0 ||
        std::sscanf(output.c_str(), "result=%d seconds=%lf vmhwm_kib=%ld", &result, &seconds,
                    &peak_kib) != 3 ||
        result != 0)
      throw std::runtime_error(std::string(send ? "SendFile" : "GetFile") + " failed: " + output);
    return {seconds, static_cast<double>(peak_kib) / 1024};
  }

 private:
  void MakePackage() {
    std::ofstream(folder_ / "header.txt") << "Documento/Código Sistema=DEC\n"
                                             "Documento/Versão Sistema=2.1\n"
                                             "Documento/Meio Envio=Internet\n"
                                             "Documento/Endereço Host=10.0.0.5\n"
                                             "Documento/Nome Host=estacao\n"
                                             "Documento/Nome Arquivo=dados.dat\n"
                                             "Documento/Sistema Operacional=Linux\n"
                                             "Documento/Configurações Computador=x86-64\n"
                                             "Usuário/Tipo Solicitante=PF\n"
                                             "Usuário/Identificação Vorn=V42\n"
                                             "Controles/Código=ABC123\n"
                                             "Documento/Tipo Solicitação=DEC\n"
                                             "Documento/Nome Solicitação=Declaração\n"
                                             "Documento/Versão Solicitação=1.0\n"
                                             "Documento/Data Atualização=01/02/2026 10:20:30\n"
                                             "Usuário/Nome Solicitante=José da Silva\n"
                                             "Usuário/Identificação Solicitante=123.456.789-00\n";
    // Random data does not compress: the package is about the size asked for.
    WriteRandom(folder_ / "dados.dat", TransferBytes(), 2);
    Child make({VORNPKG, "create", (folder_ / "declaracao.zlk").string(), "--header",
                (folder_ / "header.txt").string(), (folder_ / "dados.dat").string()},
               {}, {}, folder_ / "vornpkg.out");
    if (make.Wait() != 0) throw std::runtime_error("vornpkg create failed");
    fs::remove(folder_ / "dados.dat");
  }

  fs::path folder_;
  RawEndpoint raw_;
  std::unique_ptr<Child> server_;
  uint16_t server_port_ = 0;
  int runs_ = 0;
};

std::unique_ptr<World> the_world;
World& TheWorld() {
  if (!the_world) the_world = std::make_unique<World>();
  return *the_world;
}

// vorncom-link-relay in front of the server and of the raw endpoint, with one link for both.
class Relay {
 public:
  Relay(World& world, double round_trip_ms, double rate_bps) {
    const fs::path ports = world.folder() / "relay.ports";
    fs::remove(ports);
    process_ = std::make_unique<Child>(std::vector<std::string>{
        LINK_RELAY, "--target", "127.0.0.1:" + std::to_string(world.server_port()), "--target",
        "127.0.0.1:" + std::to_string(world.raw_port()), "--delay-ms",
        std::to_string(round_trip_ms / 2), "--rate",
        std::to_string(static_cast<uint64_t>(rate_bps)), "--port-file", ports.string(),
        "--stats-file", (world.folder() / "relay.stats").string()});
    const std::vector<uint16_t> listening = AwaitPorts(ports, 2);
    server_port_ = listening[0];
    raw_port_ = listening[1];
  }
  uint16_t server_port() const { return server_port_; }
  uint16_t raw_port() const { return raw_port_; }

 private:
  std::unique_ptr<Child> process_;
  uint16_t server_port_ = 0, raw_port_ = 0;
};

void LinkTransfers(benchmark::State& state, double round_trip_ms, double rate_bps) try {
  World& world = TheWorld();
  Relay relay(world, round_trip_ms, rate_bps);
  const size_t bytes = TransferBytes();
  double raw_up = 0, raw_down = 0, send = 0, get = 0, send_peak = 0, get_peak = 0;
  for (auto _ : state) {
    raw_up += RawSeconds(relay.raw_port(), 'u', bytes);
    const World::HostRun sent = world.RunHost(true, relay.server_port(), false);
    raw_down += RawSeconds(relay.raw_port(), 'd', bytes);
    const World::HostRun got = world.RunHost(false, relay.server_port(), false);
    send += sent.seconds;
    get += got.seconds;
    send_peak = std::max(send_peak, sent.peak_mib);
    get_peak = std::max(get_peak, got.peak_mib);
    state.SetIterationTime(sent.seconds + got.seconds);
  }
  const double n = static_cast<double>(state.iterations());
  const double mib = MiB(bytes) * n;
  state.counters["raw_up_MiB/s"] = mib / raw_up;
  state.counters["send_MiB/s"] = mib / send;
  state.counters["send_share"] = raw_up / send;
  state.counters["raw_down_MiB/s"] = mib / raw_down;
  state.counters["get_MiB/s"] = mib / get;
  state.counters["get_share"] = raw_down / get;
  state.counters["send_peak_MiB"] = send_peak;
  state.counters["get_peak_MiB"] = get_peak;
} catch (const std::exception& e) {
  state.SkipWithError(e.what());
}

void WindowShownAgainstHidden(benchmark::State& state) try {
  World& world = TheWorld();
  double hidden = 0, shown = 0, shown_peak = 0;
  for (auto _ : state) {
    const World::HostRun without = world.RunHost(true, world.server_port(), false);
    const World::HostRun with = world.RunHost(true, world.server_port(), true);
    hidden += without.seconds;
    shown += with.seconds;
    shown_peak = std::max(shown_peak, with.peak_mib);
    state.SetIterationTime(without.seconds + with.seconds);
  }
  const double mib = MiB(TransferBytes()) * static_cast<double>(state.iterations());
  state.counters["hidden_MiB/s"] = mib / hidden;
  state.counters["shown_MiB/s"] = mib / shown;
  state.counters["shown_share"] = hidden / shown;
  state.counters["shown_peak_MiB"] = shown_peak;
} catch (const std::exception& e) {
  state.SkipWithError(e.what());
}

BENCHMARK_CAPTURE(LinkTransfers, rtt20ms_100Mbit, 20, 100e6)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(LinkTransfers, rtt100ms_50Mbit, 100, 50e6)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(WindowShownAgainstHidden)->Iterations(3)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  the_world.reset();
  benchmark::Shutdown();
  return 0;
}

// Upload throughput through the real client and vorncom-server (SendDataPacket calls) against a
// raw blocking-socket request/response loop that moves the same packets with no encoding, no
// dispatch and no file. The ratio of the two is the cost of the remote-call layer. The same
// uploads over TLS, and TLS against plain TCP in turns on one run (UploadTlsAgainstPlain, whose
// tls_share counter is TLS throughput over plain), give the cost of the secure channel;
// PipelinedTlsAgainstPlain does the same with a window of packets in flight (protocol version 2
// when the server speaks it; the window counter says 1 when it fell back to one call at a time).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "rpc/connection.h"
#include "rpc/reception_server_proxy.h"
#include "server/config.h"
#include "server/reception_service.h"
#include "server/server_context.h"

namespace {

namespace fs = std::filesystem;
using namespace vorncom;

// Page-cache-backed storage when available, so the disk does not set the pace.
fs::path ScratchFolder() {
  const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  return base / ("vorncom-bench-" + std::to_string(::getpid()));
}

// A CA and a certificate for 127.0.0.1 it signed, made once per run with the openssl command.
struct Certificates {
  std::string ca, certificate, key;
};

const Certificates& BenchCertificates() {
  static const Certificates made = [] {
    const fs::path folder = ScratchFolder().string() + "-pki";
    fs::create_directories(folder);
    const std::string f = folder.string();
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    const std::string script =
        "set -e; cd '" + f + "'; openssl req -x509" + ec +
        "-days 2 -subj /CN=bench-ca -addext basicConstraints=critical,CA:TRUE "
        "-addext keyUsage=critical,keyCertSign -keyout ca.key -out ca.pem 2>/dev/null; "
        "openssl req" +
        ec +
        "-subj /CN=127.0.0.1 -keyout server.key -out server.csr 2>/dev/null; "
        "printf 'subjectAltName=IP:127.0.0.1\\nextendedKeyUsage=serverAuth\\n' > server.ext; "
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
        "-extfile server.ext -out server.pem 2>/dev/null";
    if (std::system(("bash -c \"" + script + "\"").c_str()) != 0)
      throw std::runtime_error("openssl could not make the benchmark's certificates");
    std::atexit([] { fs::remove_all(ScratchFolder().string() + "-pki"); });
    return Certificates{f + "/ca.pem", f + "/server.pem", f + "/server.key"};
  }();
  return made;
}

// vorncom-server in this process and one client connection to it, in the middle of an upload.
class UploadSession {
 public:
  UploadSession(size_t packet_size, bool tls, const fs::path& folder)
      : context_(server::ParseServerConfig(
            "listen_port = 0\nlog_sessions = false\nworkers = 1\nmax_upload = 2000000000\n"
            "max_frame = 1048576\npacket_size = " +
            std::to_string(packet_size) + "\ndata_folder = " + folder.string() + "\n" +
            (tls ? "tls_certificate = " + BenchCertificates().certificate +
                       "\ntls_private_key = " + BenchCertificates().key + "\n"
                 : ""))),
        service_(context_),
        connection_(rpc::kServerGUID, rpc::kServerName, Options(tls)),
        proxy_(connection_),
        packet_(ByteArray{1, std::vector<uint8_t>(packet_size, 0x5a)}),
        count_(static_cast<int32_t>(packet_size)),
        packet_size_(static_cast<int64_t>(packet_size)) {
    connection_.SetAddress("127.0.0.1");
    connection_.SetPort(service_.Start());
    connection_.Open();
    proxy_.SendControlPacket(
        rpc::BuildControlPacket("B", "1", "BENCH.ZIP", 1, rpc::Operation::kSend, "127.0.0.1"));
    Variant size;
    proxy_.CheckServerStatus(size);
    proxy_.SendFile(Variant("BENCH.ZIP"));
  }
  ~UploadSession() { connection_.Close(); }

  void SendPacket() {
    NextFileWhenLarge();
    proxy_.SendDataPacket(packet_, count_);
    in_file_ += packet_size_;
  }

  // Sends `count` packets keeping up to `window` of them in flight.
  void SendPackets(int count, size_t window) {
    for (int i = 0; i < count; ++i) {
      if (proxy_.Posted() >= window) proxy_.CollectDataPacket();
      proxy_.PostDataPacket(packet_, count_.ToInteger());
      in_file_ += packet_size_;
    }
    while (proxy_.Posted() > 0) proxy_.CollectDataPacket();
    NextFileWhenLarge();
  }

  int ProtocolVersion() const { return proxy_.ProtocolVersion(); }

 private:
  // A new upload now and then keeps the temporary file (and memory) small.
  void NextFileWhenLarge() {
    if (in_file_ < (64 << 20)) return;
    proxy_.SendFile(Variant("BENCH.ZIP"));
    in_file_ = 0;
  }

  static rpc::ConnectionOptions Options(bool tls) {
    rpc::ConnectionOptions options;
    options.transport.tls = tls;
    if (tls) options.transport.ca_file = BenchCertificates().ca;
    return options;
  }

  server::ServerContext context_;
  server::ReceptionService service_;
  rpc::Connection connection_;
  rpc::ReceptionServerProxy proxy_;
  Variant packet_;
  Variant count_;
  int64_t packet_size_;
  int64_t in_file_ = 0;
};

void UploadThroughServer(benchmark::State& state, bool tls) {
  const auto packet_size = static_cast<size_t>(state.range(0));
  const fs::path folder = ScratchFolder();
  {
    UploadSession session(packet_size, tls, folder);
    for (auto _ : state) session.SendPacket();
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(packet_size));
  }
  fs::remove_all(folder);
}

// TLS and plain TCP uploads in turns, `send_batch` (which moves `batch` packets) on each per
// iteration, so that both meet the same machine load; tls_share is TLS throughput over plain
// throughput; `report` adds counters of its own from the TLS session.
template <typename SendBatch, typename Report>
void TlsAgainstPlain(benchmark::State& state, int batch, SendBatch send_batch, Report report) {
  const auto packet_size = static_cast<size_t>(state.range(0));
  const fs::path folder = ScratchFolder();
  {
    UploadSession plain(packet_size, false, folder / "plain");
    UploadSession tls(packet_size, true, folder / "tls");
    std::chrono::duration<double> plain_time{0};
    std::chrono::duration<double> tls_time{0};
    for (auto _ : state) {
      auto start = std::chrono::steady_clock::now();
      send_batch(plain);
      const auto middle = std::chrono::steady_clock::now();
      send_batch(tls);
      tls_time += std::chrono::steady_clock::now() - middle;
      plain_time += middle - start;
    }
    const double bytes =
        static_cast<double>(state.iterations()) * batch * static_cast<double>(packet_size);
    state.counters["plain_MiB/s"] = bytes / plain_time.count() / (1 << 20);
    state.counters["tls_MiB/s"] = bytes / tls_time.count() / (1 << 20);
    state.counters["tls_share"] = plain_time.count() / tls_time.count();
    report(tls);
    state.SetBytesProcessed(state.iterations() * 2 * batch * static_cast<int64_t>(packet_size));
  }
  fs::remove_all(folder);
}

// One packet call at a time.
void UploadTlsAgainstPlain(benchmark::State& state) {
  constexpr int kBatch = 16;
  TlsAgainstPlain(
      state, kBatch,
      [](UploadSession& session) {
        for (int i = 0; i < kBatch; ++i) session.SendPacket();
      },
      [](const UploadSession&) {});
}

// UploadTlsAgainstPlain with `window` packets in flight; window_used is 1 when the server took
// only version 1 (no pipeline).
void PipelinedTlsAgainstPlain(benchmark::State& state) {
  constexpr int kBatch = 32;
  const auto window = static_cast<size_t>(state.range(1));
  TlsAgainstPlain(
      state, kBatch, [window](UploadSession& session) { session.SendPackets(kBatch, window); },
      [&state, window](const UploadSession& tls) {
        state.counters["window_used"] =
            tls.ProtocolVersion() >= 2 ? static_cast<double>(window) : 1;
      });
}

void ReadExactly(int fd, uint8_t* into, size_t size) {
  while (size > 0) {
    const ssize_t n = ::recv(fd, into, size, 0);
    if (n <= 0) throw std::runtime_error("recv");
    into += n;
    size -= static_cast<size_t>(n);
  }
}

void WriteAll(int fd, iovec* parts, int count) {
  std::vector<iovec> v(parts, parts + count);
  size_t i = 0;
  while (i < v.size()) {
    ssize_t n = ::writev(fd, v.data() + i, static_cast<int>(v.size() - i));
    if (n < 0) throw std::runtime_error("writev");
    while (i < v.size() && static_cast<size_t>(n) >= v[i].iov_len)
      n -= static_cast<ssize_t>(v[i++].iov_len);
    if (i < v.size()) {
      v[i].iov_base = static_cast<uint8_t*>(v[i].iov_base) + n;
      v[i].iov_len -= static_cast<size_t>(n);
    }
  }
}

void NoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Length-prefixed packet out, 4-byte acknowledgement back: the least a request/response upload
// can do over the same socket. With `store`, the receiving side also appends each packet to a
// file the way the server does (new file every 64 MiB), so the difference to the server path is
// the remote-call layer alone.
void UploadRawSocket(benchmark::State& state, bool store) {
  const auto packet_size = static_cast<size_t>(state.range(0));
  const fs::path folder = ScratchFolder();
  fs::create_directories(folder);
  const std::string file = (folder / "raw.part").string();
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(listener, 1);
  socklen_t len = sizeof a;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);

  std::thread server([listener, store, &file] {
    const int fd = ::accept(listener, nullptr, nullptr);
    NoDelay(fd);
    std::vector<uint8_t> body;
    int out = -1;
    int64_t in_file = 0;
    try {
      for (;;) {
        uint8_t header[4];
        ReadExactly(fd, header, 4);
        const uint32_t n = (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) |
                           (uint32_t{header[2]} << 8) | header[3];
        body.resize(n);
        ReadExactly(fd, body.data(), n);
        if (store) {
          if (out < 0 || in_file >= (64 << 20)) {
            if (out >= 0) ::close(out);
            ::unlink(file.c_str());
            out = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            in_file = 0;
          }
          if (::write(out, body.data(), n) != static_cast<ssize_t>(n))
            throw std::runtime_error("write");
          in_file += n;
        }
        uint32_t ack = htonl(n);
        iovec part{&ack, 4};
        WriteAll(fd, &part, 1);
      }
    } catch (const std::exception&) {
    }
    if (out >= 0) ::close(out);
    ::close(fd);
  });

  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  NoDelay(fd);
  std::vector<uint8_t> packet(packet_size, 0x5a);
  uint32_t header = htonl(static_cast<uint32_t>(packet_size));
  for (auto _ : state) {
    iovec parts[2] = {{&header, 4}, {packet.data(), packet.size()}};
    WriteAll(fd, parts, 2);
    uint8_t ack[4];
    ReadExactly(fd, ack, 4);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(packet_size));
  ::close(fd);
  server.join();
  ::close(listener);
  fs::remove_all(folder);
}

// Read the figures of one run together. On a small virtual machine a run settles either with
// client and server on one CPU (a wake-up costs a few microseconds, so every byte of work adds
// up: the file write alone can cost as much as the whole raw round trip, see store) or on two
// CPUs (each wake-up costs tens of microseconds and the server's file write overlaps the
// client's turnaround). Which one a run gets depends on what else the machine is doing.
BENCHMARK_CAPTURE(UploadThroughServer, plain, false)
    ->Arg(4096)
    ->Arg(65536)
    ->Arg(262144)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(UploadThroughServer, tls, true)
    ->Arg(4096)
    ->Arg(65536)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK(UploadTlsAgainstPlain)->Arg(65536)->UseRealTime()->MinTime(4.0);
BENCHMARK(PipelinedTlsAgainstPlain)
    ->Args({65536, 1})
    ->Args({65536, 8})
    ->UseRealTime()
    ->MinTime(4.0);
BENCHMARK_CAPTURE(UploadRawSocket, no_store, false)
    ->Arg(4096)
    ->Arg(65536)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(UploadRawSocket, store, true)->Arg(4096)->Arg(65536)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

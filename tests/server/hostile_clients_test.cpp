// vorncom-server as a child process against many hostile connections, so that its own memory
// and descriptors can be read apart from the clients'.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "rpc/wire.h"
#include "server_fixture.h"

namespace vorncom::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The named field of /proc/PID/status, in KiB.
long StatusKiB(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}

// User plus system time in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;
  long user = 0, system = 0;
  fields >> user >> system;
  return user + system;
}

size_t OpenDescriptors(pid_t pid) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry :
       fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
    ++n;
  return n;
}

rlim_t RaiseOwnDescriptorLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  return limit.rlim_max;
}

class ServerProcess {
 public:
  // The server starts with `descriptors` as its RLIMIT_NOFILE.
  ServerProcess(const TempFolder& folder, const std::string& config_text, rlimit descriptors) {
    const std::string config = folder / "server.cfg", port_file = folder / "port";
    std::ofstream(config) << "listen_address = 127.0.0.1\nlog_sessions = false\ndata_folder = "
                          << (folder / "data") << "\n"
                          << config_text;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close_range(3, ~0u, 0);  // this process's descriptors would count against the limit
      ::setrlimit(RLIMIT_NOFILE, &descriptors);
      ::execl(VORNCOM_SERVER, VORNCOM_SERVER, "--config", config.c_str(), "--port", "0",
              "--port-file", port_file.c_str(), nullptr);
      ::_exit(127);
    }
    for (int i = 0; i < 500 && port_ == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::ifstream(port_file) >> port_;
    }
    if (port_ == 0) throw std::runtime_error("the server did not start");
  }
  ~ServerProcess() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  pid_t pid() const { return pid_; }
  uint16_t port() const { return port_; }
  bool Running() const { return ::waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

int ConnectRaw(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    throw std::runtime_error("connect");
  return fd;
}

void SendRaw(int fd, const std::vector<uint8_t>& bytes) {
  ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

// One whole send by a well-behaved client; how long it took.
Clock::duration ServeRealClient(uint16_t port, const std::string& package) {
  const auto start = Clock::now();
  // The server runs without a certificate: the hostile bytes meet the framing itself.
  auto connection = Connect(port, std::chrono::seconds(5), PlainTransport());
  rpc::ReceptionServerProxy proxy(*connection);
  SendPackage(proxy, package);
  return Clock::now() - start;
}

class HostileClientsTest : public ::testing::Test {
 protected:
  void SetUp() override { hard_limit_ = RaiseOwnDescriptorLimit(); }
  rlim_t hard_limit_ = 0;
  TempFolder folder_;
  TempFolder client_;
};

// Frame headers that claim 1 MiB, a claim plus one byte, silent connections and ones dripping a
// byte every 0.4 s: a thousand of them cost the server little memory, and a real client is
// served meanwhile. The server starts with a soft descriptor limit too low for them.
TEST_F(HostileClientsTest, AThousandHostileConnectionsCostLittleAndARealClientIsServed) {
  ASSERT_GE(hard_limit_, 1100u);
  ServerProcess server(folder_, "busy_limit = 2000\n", {256, hard_limit_});
  const std::string package = MakePackage(client_.path(), "R.ZIP", 3000, 21);
  ServeRealClient(server.port(), package);  // the idle figure includes a served session
  const long idle = StatusKiB(server.pid(), "VmRSS");

  std::vector<int> dripping, others;
  const std::vector<uint8_t> header = {0x00, 0x10, 0x00, 0x00};
  const std::vector<uint8_t> hello =
      rpc::wire::EncodeFrame(rpc::wire::Hello{1, rpc::kServerGUID, rpc::kServerName});
  for (int i = 0; i < 1000; ++i) {
    const int fd = ConnectRaw(server.port());
    switch (i % 4) {
      case 0:
        SendRaw(fd, header);
        break;
      case 1:
        SendRaw(fd, {0x00, 0x10, 0x00, 0x00, 0x94});
        break;
      case 2:
        break;
      case 3:
        dripping.push_back(fd);
        continue;
    }
    others.push_back(fd);
  }
  for (int i = 0; i < 500 && OpenDescriptors(server.pid()) < 1000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GE(OpenDescriptors(server.pid()), 1000u);

  for (size_t round = 0; round < 5; ++round) {
    for (const int fd : dripping) SendRaw(fd, {hello[round]});
    EXPECT_LT(ServeRealClient(server.port(), package), std::chrono::seconds(2)) << round;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
  }
  const long hostile = StatusKiB(server.pid(), "VmRSS");
  std::printf("server memory: %ld KiB idle, %ld KiB with 1000 hostile connections\n", idle,
              hostile);
  EXPECT_LT(hostile - idle, 64 * 1024) << "idle " << idle << " KiB, hostile " << hostile << " KiB";
  for (const int fd : dripping) ::close(fd);
  for (const int fd : others) ::close(fd);
}

// With every descriptor taken, accepting fails; the server waits instead of spinning or
// exiting, and serves again once descriptors are free.
TEST_F(HostileClientsTest, RunningOutOfDescriptorsIsSurvived) {
  ServerProcess server(folder_, "", {64, 64});
  const std::string package = MakePackage(client_.path(), "E.ZIP", 3000, 22);
  // One session served and closed first: besides being a fair start, it lets the sanitizers'
  // type checks see the session types while they can still open the pipe they probe memory with.
  ServeRealClient(server.port(), package);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::vector<int> sockets;
  for (int i = 0; i < 100; ++i) sockets.push_back(ConnectRaw(server.port()));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const long before = CpuTicks(server.pid());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT(CpuTicks(server.pid()) - before, sysconf(_SC_CLK_TCK) / 4);
  EXPECT_TRUE(server.Running());
  for (const int fd : sockets) ::close(fd);
  EXPECT_LT(ServeRealClient(server.port(), package), std::chrono::seconds(2));
}

}  // namespace
}  // namespace vorncom::testing

#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace vorncom::testing {

// A real HTTP proxy (Debian's tinyproxy) on a free loopback port, started for the test with a
// configuration of its own in a temporary folder, never as a system service; stopped when the
// object goes.
class TinyProxy {
 public:
  struct Options {
    std::string user;  // with a password: Basic authentication required
    std::string password;
    int connect_port = 0;  // not 0: CONNECT allowed to this port only
  };

  static constexpr const char* kProgram = "/usr/bin/tinyproxy";
  static bool Available() { return ::access(kProgram, X_OK) == 0; }

  // Throws std::runtime_error, with the proxy's own output, when it does not start.
  explicit TinyProxy(const Options& options) {
    // A free port can be taken between asking and listening: a few tries.
    std::string failure;
    for (int attempt = 0; attempt < 3; ++attempt) {
      port_ = FreePort();
      WriteConfig(options);
      if (Start(failure)) return;
    }
    throw std::runtime_error("tinyproxy did not start: " + failure);
  }
  ~TinyProxy() { Stop(); }
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;

  uint16_t port() const { return port_; }
  // Its log, one line per connection and request.
  std::string Log() const {
    std::ifstream in(dir_ / "tinyproxy.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  static uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
  }

  void WriteConfig(const Options& options) {
    std::ostringstream config;
    config << "Port " << port_ << "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\n"
           << "MaxClients 64\nLogLevel Connect\nLogFile \"" << (dir_ / "tinyproxy.log") << "\"\n"
           << "PidFile \"" << (dir_ / "tinyproxy.pid") << "\"\n";
    if (!options.user.empty())
      config << "BasicAuth " << options.user << ' ' << options.password << '\n';
    if (options.connect_port != 0) config << "ConnectPort " << options.connect_port << '\n';
    dir_.Write("tinyproxy.conf", config.str());
  }

  bool Start(std::string& failure) {
    const std::string config = dir_ / "tinyproxy.conf";
    const std::string output = dir_ / "output";
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, 1);
      ::dup2(out, 2);
      ::execl(kProgram, kProgram, "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        std::ifstream in(output);
        failure = std::string(std::istreambuf_iterator<char>(in), {});
        return false;
      }
      if (Listening()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    failure = "not listening after 10 s";
    Stop();
    return false;
  }

  bool Listening() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port_);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
  }

  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  TempDir dir_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace vorncom::testing

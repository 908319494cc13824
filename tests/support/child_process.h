#pragma once

// A program run as a child process of a test, with its output in files: started with fork and
// exec, killed with SIGKILL when the object goes (and when the test process dies), so that no
// child outlives the test.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace vorncom::testing {

class ChildProcess {
 public:
  ChildProcess() = default;
  // Runs argv[0] with `argv`, this process's environment plus `env` ("NAME=VALUE", overriding),
  // standard output to `out` and standard error to `err` (created, or /dev/null when empty).
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const std::string& out = "", const std::string& err = "") {
    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    std::vector<std::string> words = argv, entries;
    for (char** e = environ; *e; ++e) {
      const char* eq = std::strchr(*e, '=');
      const size_t n = eq ? static_cast<size_t>(eq - *e) + 1 : std::strlen(*e);
      bool overridden = false;
      for (const std::string& mine : env) overridden |= mine.compare(0, n, *e, n) == 0;
      if (!overridden) entries.emplace_back(*e);
    }
    entries.insert(entries.end(), env.begin(), env.end());
    std::vector<char*> args, envp;
    for (auto& w : words) args.push_back(w.data());
    args.push_back(nullptr);
    for (auto& e : entries) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string out_path = out.empty() ? "/dev/null" : out;
    const std::string err_path = err.empty() ? "/dev/null" : err;
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(126);
      const int out_fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out_fd < 0 || err_fd < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0) ::_exit(126);
      // Nothing else of the test's (its sockets, its database connection) goes with the child.
      ::close_range(3, ~0U, 0);
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
  }
  ~ChildProcess() { Kill(SIGKILL); }
  ChildProcess(ChildProcess&& other) noexcept
      : pid_(std::exchange(other.pid_, -1)), status_(other.status_) {}
  ChildProcess& operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
      Kill(SIGKILL);
      pid_ = std::exchange(other.pid_, -1);
      status_ = other.status_;
    }
    return *this;
  }

  pid_t pid() const { return pid_; }
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    status_ = status;
    pid_ = -1;
    return false;
  }
  // Sends `signal` and reaps the child.
  void Kill(int signal) {
    if (!Running()) return;
    ::kill(pid_, signal);
    Wait(std::chrono::hours(1));
  }
  // The wait status once the child ended within `limit`; nullopt when it still runs.
  std::optional<int> Wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Running()) {
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
  }
  // The wait status of a child that ended (-1 before that).
  int status() const { return status_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

}  // namespace vorncom::testing

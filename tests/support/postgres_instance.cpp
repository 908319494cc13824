#include "support/postgres_instance.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "server/postgres/connection.h"

extern char** environ;

namespace vorncom::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSuperuser = "vorncom";

bool HasServerPrograms(const fs::path& folder) {
  return ::access((folder / "initdb").c_str(), X_OK) == 0 &&
         ::access((folder / "pg_ctl").c_str(), X_OK) == 0 &&
         ::access((folder / "postgres").c_str(), X_OK) == 0;
}

// A port nothing listens on now; the server may still lose it to another process before it
// binds, which Start reports.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  ::close(fd);
  if (!bound) throw std::runtime_error(std::string("bind: ") + std::strerror(errno));
  return ntohs(address.sin_port);
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::optional<std::string> PostgresInstance::FindBinaries() {
  if (const char* chosen = std::getenv("VORNCOM_PG_BIN"); chosen && *chosen)
    return HasServerPrograms(chosen) ? std::optional<std::string>(chosen) : std::nullopt;
  // Debian keeps each major version apart; the newest is taken.
  std::vector<std::pair<int, fs::path>> versions;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const std::string name = entry.path().filename().string();
    char* end = nullptr;
    const long major = std::strtol(name.c_str(), &end, 10);
    if (end != name.c_str() && *end == '\0' && HasServerPrograms(entry.path() / "bin"))
      versions.emplace_back(static_cast<int>(major), entry.path() / "bin");
  }
  if (!versions.empty()) return std::max_element(versions.begin(), versions.end())->second;
  if (const char* path = std::getenv("PATH")) {
    std::istringstream folders(path);
    for (std::string folder; std::getline(folders, folder, ':');)
      if (!folder.empty() && HasServerPrograms(folder)) return folder;
  }
  return std::nullopt;
}

PostgresInstance::PostgresInstance(std::string database) : database_(std::move(database)) {
  const auto bin = FindBinaries();
  if (!bin) throw std::runtime_error(kSkipReason);
  bin_ = *bin;
  // Short, so that the socket path stays within the 107 bytes a unix socket name may take.
  std::string templ = "/tmp/vorncom-pg-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr)
    throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  folder_ = templ;
  try {
    fs::create_directory(folder_ + "/sock");
    if (::geteuid() == 0) {
      const passwd* account = ::getpwnam("postgres");
      if (account == nullptr) account = ::getpwnam("nobody");
      if (account == nullptr)
        throw std::runtime_error("running as root, but no postgres or nobody account exists");
      uid_ = static_cast<int>(account->pw_uid);
      gid_ = static_cast<int>(account->pw_gid);
      for (const char* path : {"", "/sock"})
        if (::chown((folder_ + path).c_str(), uid_, gid_) != 0)
          throw std::runtime_error(std::string("chown: ") + std::strerror(errno));
    }
    Run("initdb", {"-D", folder_ + "/data", "-U", kSuperuser, "--auth=trust", "-E", "UTF8",
                   "--no-locale", "--no-sync"});
    // The port is only reserved once the server binds it; another process may win it first.
    for (int attempt = 1;; ++attempt) {
      port_ = FreePort();
      Configure();
      try {
        Start();
        break;
      } catch (const std::runtime_error&) {
        if (attempt == 3) throw;
      }
    }
    postgres::Connection admin(UrlOf("postgres"));
    admin.RunScript("CREATE DATABASE \"" + database_ + "\"");
  } catch (...) {
    Remove();
    throw;
  }
}

PostgresInstance::~PostgresInstance() { Remove(); }

void PostgresInstance::Remove() {
  if (running_) {
    try {
      Run("pg_ctl", {"-D", folder_ + "/data", "-m", "immediate", "-w", "-t", "60", "-s", "stop"});
    } catch (const std::exception&) {
      // Removing the folder below takes its data anyway.
    }
    running_ = false;
  }
  std::error_code ignored;
  if (!folder_.empty()) fs::remove_all(folder_, ignored);
  folder_.clear();
}

std::string PostgresInstance::Url() const { return UrlOf(database_); }

std::string PostgresInstance::UrlOf(const std::string& database) const {
  return std::string("postgresql://") + kSuperuser + "@127.0.0.1:" + std::to_string(port_) + "/" +
         database;
}

void PostgresInstance::Configure() {
  // Later lines win, so a port chosen again overrides the one before.
  std::ofstream conf(folder_ + "/data/postgresql.conf", std::ios::app);
  conf << "\nport = " << port_ << "\nlisten_addresses = '127.0.0.1'\n"
       << "unix_socket_directories = '" << folder_ << "/sock'\n"
       << "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n"
       << "max_connections = 30\nshared_buffers = 16MB\n";
  if (!conf.flush()) throw std::runtime_error("postgresql.conf not written");
}

void PostgresInstance::Start() {
  Run("pg_ctl",
      {"-D", folder_ + "/data", "-l", folder_ + "/server.log", "-w", "-t", "60", "-s", "start"});
  running_ = true;
}

void PostgresInstance::Stop() {
  Run("pg_ctl", {"-D", folder_ + "/data", "-m", "fast", "-w", "-t", "60", "-s", "stop"});
  running_ = false;
}

void PostgresInstance::Run(const std::string& name, std::initializer_list<std::string> args) const {
  // Everything the child needs is made before fork: after it only async-signal-safe calls.
  std::vector<std::string> words{bin_ + "/" + name};
  words.insert(words.end(), args);
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // The caller's PG* settings (PGDATA, PGPORT...) must not steer the programs elsewhere.
  std::vector<char*> envp;
  for (char** entry = environ; *entry; ++entry)
    if (std::strncmp(*entry, "PG", 2) != 0) envp.push_back(*entry);
  envp.push_back(nullptr);
  const std::string log = folder_ + "/programs.log";
  const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (out < 0 || in < 0) throw std::runtime_error("cannot open " + log);
  const std::string cwd = folder_;
  const uid_t uid = static_cast<uid_t>(uid_);
  const gid_t gid = static_cast<gid_t>(gid_);
  const bool drop = uid_ >= 0;

  const pid_t child = ::fork();
  if (child == 0) {
    // The server started by pg_ctl must not inherit the test's sockets and files.
    if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0) ::_exit(126);
    ::close_range(3, ~0U, 0);
    if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
      ::_exit(126);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out);
  ::close(in);
  if (child < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  std::string what = name + " failed (status " + std::to_string(status) + "):\n" + Slurp(log);
  if (name == "pg_ctl") what += "\nserver log:\n" + Slurp(folder_ + "/server.log");
  throw std::runtime_error(what);
}

}  // namespace vorncom::testing

#pragma once

// A private PostgreSQL server for one test or suite: initdb into a fresh folder under /tmp, the
// server on a free loopback port with its socket inside that folder, trust authentication, one
// database. Everything is stopped and removed when the object goes.
//
// The server refuses to run as root, so under root every server program runs as an unprivileged
// account ("postgres" when the package created it, else "nobody") that owns the folder.

#include <optional>
#include <string>

namespace vorncom::testing {

class PostgresInstance {
 public:
  // The folder holding initdb, pg_ctl and postgres: $VORNCOM_PG_BIN, else the newest
  // /usr/lib/postgresql/VERSION/bin, else the folder of an initdb on PATH; nullopt when none.
  static std::optional<std::string> FindBinaries();
  // What GTEST_SKIP says when FindBinaries finds nothing.
  static constexpr const char* kSkipReason =
      "PostgreSQL server programs (initdb, pg_ctl) not found: install them with scripts/setup "
      "or point VORNCOM_PG_BIN at their folder";

  // Creates and starts the server with database `database`. Throws std::runtime_error, with the
  // programs' output, when that fails.
  explicit PostgresInstance(std::string database = "vorncom");
  ~PostgresInstance();
  PostgresInstance(const PostgresInstance&) = delete;
  PostgresInstance& operator=(const PostgresInstance&) = delete;

  // postgresql://USER@127.0.0.1:PORT/DATABASE
  std::string Url() const;
  std::string UrlOf(const std::string& database) const;
  int port() const { return port_; }
  bool running() const { return running_; }

  // Shuts the server down (open connections are ended) and starts it again on the same port
  // and data, as a database restarted under a running client.
  void Stop();
  void Start();
  void Restart() {
    Stop();
    Start();
  }

 private:
  // Runs program `name` from the binaries folder with `args`, as the server account; throws
  // std::runtime_error with its output when it fails.
  void Run(const std::string& name, std::initializer_list<std::string> args) const;
  void Configure();
  // Stops the server at once, if it runs, and deletes the folder.
  void Remove();

  std::string bin_;
  std::string folder_;  // data/, sock/, server.log
  std::string database_;
  int port_ = 0;
  bool running_ = false;
  // The account the server programs run as; -1 when they run as this process.
  int uid_ = -1;
  int gid_ = -1;
};

}  // namespace vorncom::testing

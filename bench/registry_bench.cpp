// Protocolations per second: one, two and four servers sharing one PostgreSQL registry and one
// store, against one server on its SQLite registry, in the same run. Each iteration sends kSends
// small packages from kClients threads, each send on a new TLS connection to a server picked at
// random (as the client library's broker does). Needs PostgreSQL's server programs
// (support/postgres_instance.h); without them only the SQLite case runs. That instance runs with
// fsync off, while SQLite syncs every commit to disk: the comparison is of the servers' work, not
// of the disks'. All servers, clients and the database share this machine's cores.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>

#include "rpc/reception_server_proxy.h"
#include "server/postgres/connection.h"
#include "server/server_fixture.h"
#include "support/postgres_instance.h"

namespace {

using namespace vorncom;
using vorncom::testing::PostgresInstance;
using vorncom::testing::TempFolder;
using vorncom::testing::TestServer;

constexpr int kSends = 200;
constexpr int kClients = 8;

struct Packages {
  TempFolder folder;
  std::vector<std::string> paths;
  Packages() {
    for (int i = 0; i < kSends; ++i)
      paths.push_back(testing::MakePackage(folder.path(), "B" + std::to_string(i) + ".ZIP",
                                           4000 + static_cast<size_t>(i), 9000 + i));
  }
};

void Run(benchmark::State& state, const std::string& registry, int servers) {
  static Packages packages;
  TempFolder shared;
  // dedup_days = 0: the same packages are registered anew in every iteration.
  const std::string config = registry + "store_folder = " + (shared / "store") +
                             "\ndedup_days = 0\nworkers = 2\nbusy_limit = 1000\n";
  std::vector<std::unique_ptr<TestServer>> running;
  std::vector<uint16_t> ports;
  for (int i = 0; i < servers; ++i) {
    running.push_back(std::make_unique<TestServer>(config));
    ports.push_back(running.back()->port());
  }
  int64_t sent = 0;
  for (auto _ : state) {
    std::atomic<int> next{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
      clients.emplace_back([&, c] {
        std::mt19937 random(static_cast<unsigned>(c));
        for (int i; (i = next++) < kSends;) {
          auto connection = testing::Connect(ports[random() % ports.size()]);
          rpc::ReceptionServerProxy proxy(*connection);
          testing::SendPackage(proxy, packages.paths[static_cast<size_t>(i)]);
        }
      });
    for (auto& t : clients) t.join();
    sent += kSends;
  }
  state.counters["protocolations_per_s"] =
      benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
}

void Sqlite(benchmark::State& state) { Run(state, "", 1); }

void Postgres(benchmark::State& state) {
  static std::unique_ptr<PostgresInstance> instance;
  if (!PostgresInstance::FindBinaries()) return state.SkipWithError(PostgresInstance::kSkipReason);
  if (!instance) instance = std::make_unique<PostgresInstance>();
  static int database = 0;
  const std::string name = "bench" + std::to_string(++database);
  postgres::Connection(instance->Url()).RunScript("CREATE DATABASE " + name);
  Run(state, "registry = " + instance->UrlOf(name) + "\n", static_cast<int>(state.range(0)));
}

BENCHMARK(Sqlite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(Postgres)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

}  // namespace

BENCHMARK_MAIN();

// Several servers on one PostgreSQL registry and one store, against a private PostgreSQL server.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "rpc/errors.h"
#include "rpc/reception_server_proxy.h"
#include "rpc/wire.h"
#include "server/postgres/connection.h"
#include "server/postgres_registry.h"
#include "server_fixture.h"
#include "support/postgres_instance.h"

namespace vorncom::testing {
namespace {

using server::ERegistryError;
using server::PostgresRegistry;

class SharedRegistryTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() { instance_.reset(); }
  void SetUp() override {
    if (!PostgresInstance::FindBinaries()) GTEST_SKIP() << PostgresInstance::kSkipReason;
    if (!instance_) instance_ = std::make_unique<PostgresInstance>();
    if (!instance_->running()) instance_->Start();
    // A database of its own per test: each starts from an empty schema.
    static int next = 0;
    const std::string name = "t" + std::to_string(++next);
    postgres::Connection(instance_->Url()).RunScript("CREATE DATABASE " + name);
    url_ = instance_->UrlOf(name);
  }

  // An upload registration of `name` whose commit stores nothing but sets protocol data.
  static std::optional<server::EarlierRegistration> RecordUpload(PostgresRegistry& registry,
                                                                 const std::string& name,
                                                                 std::string& number) {
    server::Registration entry;
    entry.file_name = name;
    entry.size = 10;
    entry.sha256 = std::string(64, 'a');
    return registry.RecordUpload(
        entry, 1, number,
        [&](const std::string& n, const std::string&) {
          entry.protocol_data.assign(n.begin(), n.end());
        },
        [] {});
  }

  static inline std::unique_ptr<PostgresInstance> instance_;
  std::string url_;
};

// Servers starting together on an empty database all find the schema made once.
TEST_F(SharedRegistryTest, ConcurrentStartsMigrateOnce) {
  std::vector<std::thread> starts;
  std::atomic<int> failures{0};
  for (int i = 0; i < 4; ++i)
    starts.emplace_back([&] {
      try {
        PostgresRegistry registry(url_);
      } catch (const std::exception&) {
        ++failures;
      }
    });
  for (auto& t : starts) t.join();
  EXPECT_EQ(failures.load(), 0);
  const auto versions =
      postgres::Connection(url_).Execute("SELECT version FROM schema_version ORDER BY version");
  ASSERT_EQ(versions.Rows(), PostgresRegistry::SchemaVersion());
  EXPECT_EQ(PostgresRegistry(url_).Count(), 0);  // and a later start changes nothing
}

// A refused packet discards its resumable upload, which then expires in the registry; here the
// database holds that row locked. Neither the refusal nor another session on the same event loop
// waits for it, and the upload expires once the database answers.
TEST_F(SharedRegistryTest, ASlowDatabaseHoldsUpNoEventLoop) {
  TestServer server("registry = " + url_ + "\nworkers = 1\n");
  auto uploader = Connect(server.port(), std::chrono::seconds(5));
  rpc::ReceptionServerProxy upload(*uploader);
  upload.SendControlPacket(
      rpc::BuildControlPacket("IRPF", "2.0", "SLOW.ZIP", 1000, rpc::Operation::kSend, "127.0.0.1"));
  Variant packet_size;
  upload.CheckServerStatus(packet_size);
  const std::string id = upload.StartUpload("SLOW.ZIP", 1000, std::string(64, 'a'));

  postgres::Connection blocker(url_);
  blocker.Execute("BEGIN");
  blocker.Execute("SELECT 1 FROM uploads WHERE id = $1 FOR UPDATE", {id});
  const auto start = std::chrono::steady_clock::now();
  Variant packet = ByteArray{1, std::vector<uint8_t>(10)};
  Variant count = 100;  // more than the packet holds
  EXPECT_THROW(upload.SendDataPacket(packet, count), rpc::EServerError);
  auto other = Connect(server.port(), std::chrono::seconds(5));
  Variant busy;
  EXPECT_TRUE(rpc::ReceptionServerProxy(*other).AcceptingConnections(busy));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

  blocker.Execute("ROLLBACK");
  std::string state;
  for (int i = 0; i < 100 && state != "expired"; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    state = blocker.Execute("SELECT state FROM uploads WHERE id = $1", {id}).Text(0, 0);
  }
  EXPECT_EQ(state, "expired");
}

// Two servers protocolating the same package at the same moment: one registration, one number.
TEST_F(SharedRegistryTest, OnePackageRecordedAtOnceOnTwoServersIsRegisteredOnce) {
  PostgresRegistry a(url_), b(url_);
  std::mutex mutex;
  std::set<std::string> numbers;
  std::atomic<int> fresh{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 16; ++i)
    threads.emplace_back([&, i] {
      std::string number;
      if (!RecordUpload(i % 2 ? a : b, "MESMO.ZIP", number)) ++fresh;
      std::lock_guard lock(mutex);
      numbers.insert(number);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(fresh.load(), 1);
  EXPECT_EQ(numbers.size(), 1u);
  EXPECT_EQ(a.Count(), 1);
}

// While the database is down calls fail with the registry's messages; afterwards they work again
// on the same registry object, reconnected.
TEST_F(SharedRegistryTest, CallsFailWhileTheDatabaseIsDownAndRecoverAfter) {
  PostgresRegistry registry(url_);
  std::string number;
  ASSERT_FALSE(RecordUpload(registry, "A.ZIP", number));
  instance_->Stop();
  EXPECT_THROW(registry.Count(), ERegistryError);
  EXPECT_THROW(RecordUpload(registry, "B.ZIP", number), ERegistryError);
  EXPECT_TRUE(registry.CheckReachable().has_value());
  instance_->Start();
  EXPECT_EQ(registry.CheckReachable(), std::nullopt);
  // Each pooled connection learns of the restart on its first use, which may fail once.
  int64_t count = -1;
  for (int attempt = 0; attempt < 8 && count < 0; ++attempt) try {
      count = registry.Count();
    } catch (const ERegistryError&) {
    }
  EXPECT_EQ(count, 1);
  std::string again;
  for (int attempt = 0; attempt < 8 && again.empty(); ++attempt) try {
      RecordUpload(registry, "C.ZIP", again);
    } catch (const ERegistryError&) {
    }
  EXPECT_FALSE(again.empty());
  EXPECT_NE(again, number);
}

// 400 sends spread at random over four servers sharing the registry and the store, one server
// stopped half way: its clients go on with the others, a send whose answer was lost is sent again
// and answered with its first number. Every number distinct, every stored file the one sent.
TEST_F(SharedRegistryTest, FourServersShareNumbersAndStoreAndSurviveOneStopping) {
  constexpr int kSends = 400, kClients = 16, kServers = 4;
  TempFolder shared, client;
  const std::string config = "registry = " + url_ + "\nstore_folder = " + (shared / "store") +
                             "\npacket_size = 4096\nworkers = 2\n";
  std::vector<std::unique_ptr<TestServer>> servers;
  for (int i = 0; i < kServers; ++i) servers.push_back(std::make_unique<TestServer>(config));
  std::vector<std::string> packages;
  for (int i = 0; i < kSends; ++i)
    packages.push_back(MakePackage(client.path(), "P" + std::to_string(i) + ".ZIP",
                                   2000 + static_cast<size_t>(i) * 7, 5000 + i));
  std::vector<uint16_t> ports;
  for (auto& s : servers) ports.push_back(s->port());

  std::mutex mutex;
  std::map<std::string, int> number_to_send;
  std::vector<std::string> errors;
  std::atomic<int> next{0}, done{0}, retried{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c)
    threads.emplace_back([&, c] {
      std::mt19937 random(static_cast<unsigned>(c));
      for (int i; (i = next++) < kSends;) {
        std::string failure;
        for (int attempt = 0; attempt < kServers * 2; ++attempt) {
          try {
            auto connection = Connect(ports[random() % kServers], std::chrono::seconds(10));
            rpc::ReceptionServerProxy proxy(*connection);
            const Variant data = SendPackage(proxy, packages[static_cast<size_t>(i)]);
            std::lock_guard lock(mutex);
            const auto [it, added] = number_to_send.emplace(data.At(3).ToString(), i);
            if (!added) errors.push_back("número repetido " + it->first);
            failure.clear();
            break;
          } catch (const std::exception& e) {
            failure = e.what();
            ++retried;
          }
        }
        if (!failure.empty()) {
          std::lock_guard lock(mutex);
          errors.push_back(failure);
        }
        ++done;
      }
    });
  while (done < kSends / 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  servers[1]->Stop();
  for (auto& t : threads) t.join();

  ASSERT_TRUE(errors.empty()) << errors.front();
  ASSERT_EQ(number_to_send.size(), static_cast<size_t>(kSends));
  EXPECT_EQ(servers[0]->context().registry.Count(), kSends);  // nothing registered twice
  size_t stored = 0;
  for (const auto& entry : std::filesystem::directory_iterator(shared / "store")) {
    (void)entry;
    ++stored;
  }
  EXPECT_EQ(stored, static_cast<size_t>(kSends));
  for (const auto& [number, i] : number_to_send) {
    const std::string path = (shared / "store") + "/" + number + ".pkg";
    EXPECT_EQ(ReadFile(path), ReadFile(packages[static_cast<size_t>(i)])) << path;
  }
  // A send protocolated again after its answer was lost is counted as deduplicated.
  uint64_t completed = 0, deduplicated = 0;
  for (auto& s : servers) {
    completed += s->context().metrics.uploads_completed.Value();
    deduplicated += s->context().metrics.deduplicated_sends.Value();
  }
  EXPECT_EQ(completed - deduplicated, static_cast<uint64_t>(kSends));
  std::printf("%d envios, %d novas tentativas\n", kSends, retried.load());
}

// The database goes down while a COMMIT waits (for a standby that never answers, so that it is
// made locally but never answered) and cannot be asked afterwards whether it was made: the
// stored files stay, since a registration without its file would be lost data, and the call
// fails. Back up, the database holds the registration.
TEST_F(SharedRegistryTest, UnansweredCommitThatCannotBeCheckedKeepsTheFiles) {
  postgres::Connection admin(instance_->UrlOf("postgres"));
  const std::string database = url_.substr(url_.rfind('/') + 1);
  admin.RunScript("ALTER DATABASE " + database + " SET synchronous_commit = on");
  PostgresRegistry registry(url_);  // its connections made with that setting
  admin.RunScript("ALTER SYSTEM SET synchronous_standby_names = 'nadie'");
  admin.Execute("SELECT pg_reload_conf()");

  // Until every server process has read the setting, a COMMIT may still go through unanswered
  // by no one: then another registration is tried.
  std::atomic<bool> stored{false}, undone{false}, done{false};
  std::string failure, waiting_name;
  std::thread recording;
  for (int attempt = 0; attempt < 50 && waiting_name.empty(); ++attempt) {
    if (recording.joinable()) recording.join();
    stored = undone = done = false;
    const std::string name = "A" + std::to_string(attempt) + ".ZIP";
    recording = std::thread([&, name] {
      server::Registration entry;
      entry.file_name = name;
      entry.size = 10;
      entry.sha256 = std::string(64, 'b');
      std::string number;
      try {
        registry.RecordUpload(
            entry, 1, number, [&](const std::string&, const std::string&) { stored = true; },
            [&] { undone = true; });
      } catch (const ERegistryError& e) {
        failure = e.what();
      }
      done = true;
    });
    while (!done && waiting_name.empty()) {
      if (admin.Execute("SELECT 1 FROM pg_stat_activity WHERE wait_event = 'SyncRep'").Rows() == 1)
        waiting_name = name;
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ASSERT_FALSE(waiting_name.empty()) << "no COMMIT ever waited";
  // Only in the file: the server restarted below comes up without it.
  admin.RunScript("ALTER SYSTEM RESET synchronous_standby_names");
  instance_->Stop();
  recording.join();
  EXPECT_TRUE(stored);
  EXPECT_FALSE(failure.empty()) << "an unanswered COMMIT reported as made";
  EXPECT_FALSE(undone) << "the files of a registration that may exist were taken back";

  instance_->Start();
  EXPECT_EQ(postgres::Connection(url_)
                .Execute("SELECT 1 FROM registrations WHERE file_name = $1", {waiting_name})
                .Rows(),
            1);
}

}  // namespace
}  // namespace vorncom::testing

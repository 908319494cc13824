#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "server_fixture.h"

namespace vorncom::testing {
namespace {

// 200 clients at once over TLS, each uploading and protocolating its own package, while the
// server reloads its certificate again and again (as SIGHUP does): handshakes made during a reload
// and sessions already open all go on.
TEST(ServerLoadTest, TwoHundredConcurrentUploadsAreAllStoredWithUniqueNumbers) {
  constexpr int kClients = 200;
  TempFolder client;
  TestServer server("packet_size = 4096\nbusy_limit = 1000\nworkers = 2\n");

  std::vector<std::string> packages;
  for (int i = 0; i < kClients; ++i)
    packages.push_back(MakePackage(client.path(), "P" + std::to_string(i) + ".ZIP",
                                   10'000 + static_cast<size_t>(i) * 97, 1000 + i));

  std::mutex mutex;
  std::map<std::string, int> number_to_client;
  std::vector<std::string> errors;
  std::atomic<int> ready{0};
  std::atomic<bool> loading{true};
  std::atomic<int> reloads{0};
  std::thread reloader([&] {
    while (loading) {
      server.context().ReloadTls();
      ++reloads;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      try {
        auto connection = Connect(server.port());
        ++ready;
        // Hold every session open until all are connected, so they really overlap.
        while (ready < kClients) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        rpc::ReceptionServerProxy proxy(*connection);
        const Variant data = SendPackage(proxy, packages[static_cast<size_t>(i)]);
        std::lock_guard lock(mutex);
        number_to_client.emplace(data.At(3).ToString(), i);
      } catch (const std::exception& e) {
        ++ready;
        std::lock_guard lock(mutex);
        errors.push_back(e.what());
      }
    });
  }
  for (auto& t : threads) t.join();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  loading = false;
  reloader.join();

  std::printf("%d uploads in %.2f s\n", kClients, std::chrono::duration<double>(elapsed).count());
  ASSERT_TRUE(errors.empty()) << errors.front();
  EXPECT_GT(reloads.load(), 1);
  ASSERT_EQ(number_to_client.size(), static_cast<size_t>(kClients));  // numbers are unique
  EXPECT_LT(elapsed, std::chrono::seconds(60));
  EXPECT_EQ(server.context().registry.Count(), kClients);

  const auto stored = server.StoredFiles();
  ASSERT_EQ(stored.size(), static_cast<size_t>(kClients));
  for (const auto& [number, i] : number_to_client) {
    const std::string path = server.data_folder() + "/store/" + number + ".pkg";
    EXPECT_EQ(ReadFile(path), ReadFile(packages[static_cast<size_t>(i)])) << path;
  }
  EXPECT_TRUE(server.IncomingFiles().empty());
}

}  // namespace
}  // namespace vorncom::testing

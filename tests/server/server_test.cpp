#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sqlite3.h>

#include <csignal>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <thread>

#include "archive/package_routines.h"
#include "rpc/broker.h"
#include "rpc/wire.h"
#include "server/sqlite_registry.h"
#include "server_fixture.h"

namespace vorncom::testing {
namespace {

namespace fs = std::filesystem;
using rpc::ReceptionServerProxy;

class ServerTest : public ::testing::Test {
 protected:
  TempFolder client_;
};

TEST_F(ServerTest, SendSequenceStoresThePackageAndFillsTheProtocolData) {
  TestServer server(
      "packet_size = 1000\nserver = srv1\nserver = 10.0.0.2 | 4000 | disabled\n"
      "message = IRPF | 2.0 | Primeira linha\\nSegunda linha\nprotocol_prefix = T-\n");
  const std::string package = MakePackage(client_.path(), "FORM2001.ZIP", 2500, 1);
  auto connection = Connect(server.port());
  ReceptionServerProxy proxy(*connection);

  Variant list;
  ASSERT_TRUE(proxy.ReplicateClientCfgFile(list));
  ASSERT_TRUE(list.IsBytes());
  EXPECT_EQ(list.AsBytes().lower_bound, 1);
  EXPECT_EQ(rpc::DecodeServerList(list.AsBytes().bytes),
            (std::vector<rpc::ServerItem>{{"srv1", 211, true}, {"10.0.0.2", 4000, false}}));

  const OleDate before = Now();
  const Variant data = SendPackage(proxy, package);
  ASSERT_EQ(data.LowerBound(), 1);
  ASSERT_EQ(data.UpperBound(), 14);
  EXPECT_EQ(data.At(1), Variant("FORM2001.ZIP"));
  EXPECT_EQ(data.At(2), Variant("127.0.0.1"));
  EXPECT_EQ(data.At(3), Variant("T-0000000001"));
  EXPECT_EQ(data.At(4).type(), Variant::Type::kDate);
  EXPECT_GE(data.At(4).ToDate().value, before.value - 1e-6);
  EXPECT_EQ(data.At(5), Variant("Declaração IRPF"));
  EXPECT_EQ(data.At(6), Variant("2.0"));
  EXPECT_EQ(data.At(7), Variant("123.456.789-1"));
  EXPECT_EQ(data.At(8), Variant("José da Silva 1"));
  EXPECT_EQ(data.At(9), Variant(static_cast<int32_t>(fs::file_size(package))));
  EXPECT_EQ(FormatDateTime(data.At(10).ToDate()), "01/02/2026 10:20:30");
  EXPECT_LE(data.At(11).ToDate().value, data.At(4).ToDate().value);
  EXPECT_EQ(data.At(12), Variant("IRPF"));
  EXPECT_EQ(data.At(13), Variant("V1"));
  EXPECT_EQ(data.At(14), Variant("Primeira linha\r\nSegunda linha"));

  const auto stored = server.StoredFiles();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].filename(), "0000000001.pkg");
  EXPECT_EQ(ReadFile(stored[0].string()), ReadFile(package));
  EXPECT_TRUE(server.IncomingFiles().empty());
  EXPECT_EQ(server.context().registry.Count(), 1);
}

TEST_F(ServerTest, PackageOfExactlyTwoPacketsAndProtocolNumbersSurviveRestarts) {
  TempFolder data;
  const std::string package = MakePackage(client_.path(), "A.ZIP", 100, 2);
  const auto size = fs::file_size(package);
  std::set<std::string> numbers;
  for (int run = 0; run < 2; ++run) {
    // The same package each time: registered anew, not found again.
    TestServer server("packet_size = " + std::to_string(size / 2 + size % 2) + "\ndedup_days = 0\n",
                      data / "server");
    for (int i = 0; i < 2; ++i) {
      auto connection = Connect(server.port());
      ReceptionServerProxy proxy(*connection);
      numbers.insert(SendPackage(proxy, package).At(3).ToString());
    }
  }
  EXPECT_EQ(numbers,
            (std::set<std::string>{"0000000001", "0000000002", "0000000003", "0000000004"}));

  // A stored file whose record never committed (a crash in between) is removed at start-up.
  std::ofstream(data / "server/store/0000000099_ORPHAN.ZIP") << "x";
  TestServer restarted("", data / "server");
  EXPECT_EQ(restarted.StoredFiles().size(), 4u);
  EXPECT_FALSE(fs::exists(data / "server/store/0000000099_ORPHAN.ZIP"));
}

// Packets at and above the size the client sends from the caller's own bytes, up to ones that
// no socket buffer takes in one write, arrive whole and in order.
TEST_F(ServerTest, PacketsOfEverySizeArriveWhole) {
  const std::string package = MakePackage(client_.path(), "BIG.ZIP", 6'000'000, 11);
  const std::vector<uint8_t> bytes = ReadFile(package);
  for (const size_t packet_size :
       {rpc::wire::kMinSplice - 1, rpc::wire::kMinSplice, size_t{65536}, size_t{5'000'000}}) {
    TestServer server("packet_size = " + std::to_string(packet_size) + "\nmax_frame = 8388608\n");
    auto connection = Connect(server.port());
    ReceptionServerProxy proxy(*connection);
    ASSERT_NO_THROW(SendPackage(proxy, package)) << packet_size;
    const auto stored = server.StoredFiles();
    ASSERT_EQ(stored.size(), 1u) << packet_size;
    EXPECT_TRUE(ReadFile(stored[0].string()) == bytes) << packet_size;
  }
}

std::vector<std::pair<std::string, std::string>> StoredNames(const std::string& database) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db, "SELECT file_name, stored_name FROM registrations ORDER BY id", -1, &query,
                     nullptr);
  std::vector<std::pair<std::string, std::string>> rows;
  while (query != nullptr && sqlite3_step(query) == SQLITE_ROW)
    rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(query, 0)),
                      reinterpret_cast<const char*>(sqlite3_column_text(query, 1)));
  sqlite3_finalize(query);
  sqlite3_close(db);
  return rows;
}

// Uploads are stored under their serial, so every legal client name (up to 255 bytes) can be
// protocolated, and the client's name stays in the registry. A database of the earlier layout,
// whose stored files carry the client name, keeps them.
TEST_F(ServerTest, StoreNamesDoNotDependOnTheClientName) {
  TempFolder data;
  const std::string folder = data / "server";
  const std::string old_file = folder + "/store/0000000001_OLD.ZIP";
  fs::create_directories(folder + "/store");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((folder + "/registry.db").c_str(), &db), SQLITE_OK);
  const std::string old_layout =
      "CREATE TABLE registrations (id INTEGER PRIMARY KEY AUTOINCREMENT, number TEXT UNIQUE,"
      " operation INTEGER NOT NULL, file_name TEXT NOT NULL, stored_path TEXT,"
      " size INTEGER NOT NULL, form_type TEXT, form_name TEXT, form_version TEXT,"
      " requester_id TEXT, requester_name TEXT, agency_id TEXT, client_address TEXT,"
      " started TEXT, finished TEXT);"
      "INSERT INTO registrations (number, operation, file_name, stored_path, size)"
      " VALUES ('0000000001', 1, 'OLD.ZIP', '" +
      old_file + "', 3);";
  ASSERT_EQ(sqlite3_exec(db, old_layout.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  std::ofstream(old_file) << "old";
  std::ofstream(folder + "/store/0000000007_GONE.ZIP") << "never recorded";

  const std::string long_name = std::string(251, 'N') + ".ZIP";
  ASSERT_EQ(long_name.size(), 255u);
  const std::string package = client_ / long_name;
  fs::rename(MakePackage(client_.path(), "L.ZIP", 700, 14), package);
  {
    TestServer server("protocol_prefix = P/\n", folder);
    auto connection = Connect(server.port());
    ReceptionServerProxy proxy(*connection);
    const Variant data_filled = SendPackage(proxy, package);
    EXPECT_EQ(data_filled.At(1), Variant(long_name));
    EXPECT_EQ(data_filled.At(3), Variant("P/0000000002"));
  }
  TestServer restarted("", folder);
  EXPECT_EQ(restarted.StoredFiles(),
            (std::vector<fs::path>{old_file, folder + "/store/0000000002.pkg"}));
  EXPECT_EQ(ReadFile(folder + "/store/0000000002.pkg"), ReadFile(package));
  EXPECT_EQ(StoredNames(folder + "/registry.db"),
            (std::vector<std::pair<std::string, std::string>>{{"OLD.ZIP", "0000000001_OLD.ZIP"},
                                                              {long_name, "0000000002.pkg"}}));
}

// A store on another file system than the incoming folder gets a flushed copy, renamed into
// place; the upload leaves the incoming folder all the same.
TEST_F(ServerTest, AStoreOnAnotherFileSystemGetsTheUploadByCopy) {
  struct stat shm {
  }, tmp{};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(client_.path().c_str(), &tmp) != 0 ||
      shm.st_dev == tmp.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  const fs::path store = fs::path("/dev/shm") / ("vorncom-store-" + std::to_string(::getpid()));
  TestServer server("store_folder = " + store.string() + "\n");
  const std::string package = MakePackage(client_.path(), "OUTRO.ZIP", 3000, 7);
  auto connection = Connect(server.port());
  ReceptionServerProxy proxy(*connection);
  const Variant data = SendPackage(proxy, package);
  const std::string stored = (store / "0000000001.pkg").string();
  EXPECT_EQ(ReadFile(stored), ReadFile(package));
  EXPECT_EQ(std::distance(fs::directory_iterator(store), fs::directory_iterator()), 1);
  EXPECT_TRUE(server.IncomingFiles().empty());
  std::error_code ignored;
  fs::remove_all(store, ignored);
}

// A registry that cannot be read says so at start-up. Read as one that records no upload, its
// stored files would be taken for leftovers and removed.
TEST_F(ServerTest, ADamagedRegistryStopsTheStartAndKeepsTheStore) {
  TempFolder data;
  const std::string folder = data / "server";
  const std::string stored = folder + "/store/0000000001.pkg";
  fs::create_directories(folder + "/store");
  {
    server::SqliteRegistry registry(folder + "/registry.db");
    server::Registration entry;
    entry.file_name = "A.ZIP";
    registry.Record(
        entry,
        [&](const std::string&, const std::string& serial) {
          entry.stored_name = serial + ".pkg";
          entry.stored_path = stored;
        },
        [] {});
  }
  std::ofstream(stored) << "uploaded";
  // Damage the type byte of the table's root page.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((folder + "/registry.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT rootpage, (SELECT page_size FROM pragma_page_size) FROM sqlite_master"
                     " WHERE name = 'registrations'",
                     -1, &query, nullptr);
  ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
  const int64_t offset = (sqlite3_column_int64(query, 0) - 1) * sqlite3_column_int64(query, 1);
  sqlite3_finalize(query);
  sqlite3_close(db);
  ASSERT_GT(offset, 0);
  {
    std::fstream file(folder + "/registry.db", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    file.put('\x7f');
  }
  EXPECT_THROW(TestServer("", folder), server::ERegistryError);
  EXPECT_EQ(ReadFile(stored), (std::vector<uint8_t>{'u', 'p', 'l', 'o', 'a', 'd', 'e', 'd'}));
}

TEST_F(ServerTest, InvalidUploadsAreNeverStored) {
  TestServer server("packet_size = 512\nmax_upload = 65536\nmax_expansion = 16\n");
  const std::string good = MakePackage(client_.path(), "GOOD.ZIP", 3000, 3);
  std::vector<uint8_t> corrupt = ReadFile(good);
  corrupt[corrupt.size() - 10] ^= 0xff;  // inside the last entry's data
  // A sound package of a few KiB whose entries expand to 4 MiB, above 64 KiB × 16.
  const std::string bomb = MakePackage(client_.path(), "BOMB.ZIP", 100, 15);
  {
    const std::string zeros = client_ / "zeros.dat";
    std::ofstream(zeros, std::ios::binary) << std::string(4 << 20, '\0');
    Variant names = Variant::Array(0, 1);
    names.At(0) = zeros;
    archive::AddFilesToPackage(names, client_.path().string() + "/", bomb, true);
    ASSERT_LT(fs::file_size(bomb), 65536u);
  }
  struct Row {
    const char* what;
    std::vector<uint8_t> bytes;
    double announced;
  };
  const Row rows[] = {
      {"not an archive", std::vector<uint8_t>(700, 'x'), 700},
      {"checksum", corrupt, static_cast<double>(corrupt.size())},
      {"size mismatch", ReadFile(good), static_cast<double>(ReadFile(good).size() + 1)},
      {"expands beyond the limit", ReadFile(bomb), static_cast<double>(fs::file_size(bomb))},
  };
  for (const Row& row : rows) {
    auto connection = Connect(server.port());
    ReceptionServerProxy proxy(*connection);
    proxy.SendControlPacket(
        rpc::BuildControlPacket("IRPF", "2.0", "X.ZIP", row.announced, rpc::Operation::kSend, ""));
    Variant size;
    proxy.CheckServerStatus(size);
    proxy.SendFile(Variant("X.ZIP"));
    Variant packet(ByteArray{1, row.bytes});
    Variant count(static_cast<int32_t>(row.bytes.size()));
    proxy.SendDataPacket(packet, count);
    EXPECT_FALSE(proxy.ValidFile(Variant(int32_t{0}))) << row.what;
    Variant pd = Variant::Array(1, 14);
    EXPECT_THROW(proxy.Protocolate(pd), rpc::EServerError) << row.what;
    EXPECT_TRUE(connection->Connected());
  }
  EXPECT_TRUE(server.StoredFiles().empty());
  EXPECT_TRUE(server.IncomingFiles().empty());
  EXPECT_EQ(server.context().registry.Count(), 0);
}

TEST_F(ServerTest, ClientFileNamesCannotLeaveTheServerFolders) {
  TestServer server;
  auto connection = Connect(server.port());
  ReceptionServerProxy proxy(*connection);
  proxy.SendControlPacket(rpc::BuildControlPacket("T", "1", "a", 1, rpc::Operation::kSend, ""));
  for (const char* name : {"../escape", "a/b", "..", "", "c:\\x", "sub\\..\\y"}) {
    EXPECT_THROW(proxy.SendFile(Variant(name)), rpc::EServerError) << name;
    Variant n(name), info = Variant::Array(1, 14);
    EXPECT_THROW(proxy.GetFile(n, info), rpc::EServerError) << name;
    EXPECT_THROW(proxy.EraseFile(n), rpc::EServerError) << name;
  }
  EXPECT_TRUE(connection->Connected());
}

TEST_F(ServerTest, ReceiveSequenceServesRegistersAndErases) {
  TestServer server("packet_size = 1024\n");
  const std::string served = server.data_folder() + "/downloads/TABELA.DAT";
  std::vector<uint8_t> content(5000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 7);
  std::ofstream(served, std::ios::binary)
      .write(reinterpret_cast<const char*>(content.data()),
             static_cast<std::streamsize>(content.size()));

  auto connection = Connect(server.port());
  ReceptionServerProxy proxy(*connection);
  proxy.SendControlPacket(
      rpc::BuildControlPacket("IRPF", "2.0", "TABELA.DAT", 0, rpc::Operation::kReceive, ""));
  Variant packet_size;
  EXPECT_EQ(proxy.CheckServerStatus(packet_size), 6);
  Variant name("TABELA.DAT");
  Variant info = Variant::Array(1, 14);
  info.At(5) = "IRPF";
  info.At(14) = true;
  ASSERT_EQ(proxy.GetFile(name, info), 5000);
  std::vector<uint8_t> received;
  Variant buffer(ByteArray{1, std::vector<uint8_t>(1024)});
  for (;;) {
    const int32_t n = proxy.GetDataPacket(buffer);
    received.insert(received.end(), buffer.AsBytes().bytes.begin(),
                    buffer.AsBytes().bytes.begin() + std::max(n, 0));
    if (n < 1024) break;
  }
  EXPECT_EQ(received, content);
  proxy.Protocolate(info);
  EXPECT_EQ(info.At(1), Variant("TABELA.DAT"));
  EXPECT_EQ(info.At(3), Variant("0000000001"));
  EXPECT_EQ(info.At(5), Variant("IRPF"));
  EXPECT_EQ(info.At(14), Variant(true));
  proxy.EraseFile(name);
  EXPECT_FALSE(fs::exists(served));
  Variant missing("NADA.DAT");
  EXPECT_EQ(proxy.GetFile(missing, info), 0);
}

TEST_F(ServerTest, StatusesComeFromTheConfiguration) {
  TestServer server(
      "packet_size = 4096\nstatus_send = 1\nstatus_receive = 2\nform_status = 4\n"
      "form = DIRF | 3.1 | 7 | 9\nform = DIRF | 3.2 | | 200\n");
  struct Row {
    const char* type;
    const char* version;
    rpc::Operation operation;
    int32_t server_status;
    int32_t form_status;
  };
  const Row rows[] = {
      {"IRPF", "1", rpc::Operation::kSend, 1, 4},
      {"IRPF", "1", rpc::Operation::kReceive, 2, 4},
      {"IRPF", "1", rpc::Operation::kStatusQuery, 9, 4},
      {"DIRF", "3.1", rpc::Operation::kStatusQuery, 7, 9},
      {"DIRF", "3.2", rpc::Operation::kSend, 1, 200},
  };
  auto connection = Connect(server.port());
  ReceptionServerProxy proxy(*connection);
  for (const Row& row : rows) {
    proxy.SendControlPacket(
        rpc::BuildControlPacket(row.type, row.version, "", 0, row.operation, ""));
    Variant size;
    EXPECT_EQ(proxy.CheckServerStatus(size), row.server_status) << row.type << row.version;
    EXPECT_EQ(size, Variant(int32_t{4096}));
    EXPECT_EQ(proxy.CheckFormStatus(), row.form_status) << row.type << row.version;
  }
}

TEST_F(ServerTest, BusyAndNotAcceptingServers) {
  TestServer busy("busy_limit = 1\n");
  auto first = Connect(busy.port());
  auto second = Connect(busy.port());
  ReceptionServerProxy proxy(*second);
  Variant flag(false);
  EXPECT_TRUE(proxy.AcceptingConnections(flag));
  EXPECT_EQ(flag, Variant(true));
  first.reset();
  second.reset();
  // Once the other session is gone the server is no longer congested.
  for (int i = 0; i < 100 && busy.context().sessions > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  auto third = Connect(busy.port());
  ReceptionServerProxy proxy3(*third);
  EXPECT_TRUE(proxy3.AcceptingConnections(flag));
  EXPECT_EQ(flag, Variant(false));

  TestServer closed("accepting = false\n");
  auto c = Connect(closed.port());
  ReceptionServerProxy refusing(*c);
  EXPECT_FALSE(refusing.AcceptingConnections(flag));
}

uint16_t UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

TEST_F(ServerTest, BrokerFallsBackAcrossServersUntilOneServes) {
  TestServer refusing("accepting = false\n");
  TestServer good("dedup_days = 0\n");  // every round registers the package anew
  const std::string package = MakePackage(client_.path(), "B.ZIP", 500, 4);
  for (int round = 0; round < 5; ++round) {
    rpc::Broker broker;
    broker.SetServers({{"127.0.0.1", UnusedPort(), true},
                       {"127.0.0.1", refusing.port(), true},
                       {"localhost", good.port(), true}});
    rpc::ConnectionOptions options;
    options.transport = TestTransport();
    rpc::Connection connection(rpc::kServerGUID, rpc::kServerName, options);
    connection.SetBroker(&broker);
    Variant data;
    for (int attempt = 0; attempt < 3 && data.IsEmpty(); ++attempt) {
      try {
        connection.Open();
        ReceptionServerProxy proxy(connection);
        data = SendPackage(proxy, package);
      } catch (const std::exception&) {
        const std::string name =
            connection.Address().empty() ? connection.Host() : connection.Address();
        EXPECT_EQ(broker.DisableServer(name, connection.Port()), 1u);
        connection.Close();
      }
    }
    ASSERT_TRUE(data.IsArray()) << round;
    EXPECT_EQ(connection.Host(), "localhost");
    EXPECT_EQ(connection.Port(), good.port());
  }
  EXPECT_EQ(good.StoredFiles().size(), 5u);

  rpc::Broker none;
  none.SetServers({{"127.0.0.1", good.port(), false}});
  rpc::Connection connection(rpc::kServerGUID, rpc::kServerName);
  connection.SetBroker(&none);
  EXPECT_THROW(connection.Open(), rpc::ENoServerAvailable);
}

TEST_F(ServerTest, StalledServerTimesOut) {
  TestServer server("fault_stall = true\n");
  auto connection = Connect(server.port(), std::chrono::milliseconds(300));
  ReceptionServerProxy proxy(*connection);
  Variant busy;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(proxy.AcceptingConnections(busy), rpc::ETimeoutError);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(250));
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  EXPECT_FALSE(connection->Connected());
}

TEST_F(ServerTest, RefusingServerFailsTheOpen) {
  TestServer server("fault_refuse = true\n");
  rpc::Connection connection(rpc::kServerGUID, rpc::kServerName);
  connection.SetAddress("127.0.0.1");
  connection.SetPort(server.port());
  EXPECT_THROW(connection.Open(), rpc::EConnectionError);
  connection.SetPort(UnusedPort());
  EXPECT_THROW(connection.Open(), rpc::EConnectionError);
}

TEST_F(ServerTest, ConnectionDroppedMidUploadLeavesNothingBehind) {
  TestServer server("packet_size = 256\nfault_drop_after_packets = 2\n");
  const std::string package = MakePackage(client_.path(), "D.ZIP", 5000, 5);
  auto connection = Connect(server.port());
  ReceptionServerProxy proxy(*connection);
  EXPECT_THROW(SendPackage(proxy, package), rpc::EConnectionError);
  EXPECT_FALSE(connection->Connected());
  for (int i = 0; i < 100 && server.context().sessions > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(server.IncomingFiles().empty());
  EXPECT_TRUE(server.StoredFiles().empty());

  // A client that goes away right after a packet's reply, with that packet still to be written.
  TestServer quiet("packet_size = 256\n");
  auto leaving = Connect(quiet.port());
  ReceptionServerProxy leaving_proxy(*leaving);
  leaving_proxy.SendControlPacket(
      rpc::BuildControlPacket("IRPF", "2.0", "D.ZIP", 5000, rpc::Operation::kSend, ""));
  Variant size;
  leaving_proxy.CheckServerStatus(size);
  leaving_proxy.SendFile(Variant("D.ZIP"));
  Variant packet(ByteArray{1, std::vector<uint8_t>(256, 'x')});
  Variant count(256);
  leaving_proxy.SendDataPacket(packet, count);
  EXPECT_EQ(quiet.IncomingFiles().size(), 1u);
  leaving->Close();
  for (int i = 0; i < 100 && quiet.context().sessions > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(quiet.IncomingFiles().empty());
  EXPECT_TRUE(quiet.StoredFiles().empty());
}

// Caps the size of any file this process writes, the way a full disk stops the server's upload
// file (the server runs in this process). SIGXFSZ is ignored, so the write fails with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    if (::setrlimit(RLIMIT_FSIZE, &lowered) != 0) throw std::runtime_error("setrlimit");
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_handler_);
  }

 private:
  rlimit saved_{};
  void (*previous_handler_)(int) = SIG_DFL;
};

std::string ServerMessage(const std::function<void()>& call) {
  try {
    call();
  } catch (const rpc::EServerError& e) {
    return e.what();
  }
  return "(no error)";
}

// The server writes a packet to its file only after replying, so a failed write cannot fail the
// call that carried it: the next upload call must report it, and the upload must never be stored.
TEST_F(ServerTest, FileWriteFailuresAfterTheReplyAreReportedAndNothingIsStored) {
  constexpr size_t kPacket = 1000;
  TestServer server("packet_size = 1000\n");
  const std::string package = MakePackage(client_.path(), "W.ZIP", 6000, 7);
  const std::vector<uint8_t> bytes = ReadFile(package);
  const size_t last = (bytes.size() - 1) / kPacket;
  ASSERT_GE(last, 4u);
  const std::string kWriteError = "Erro ao gravar o arquivo recebido.";
  struct Row {
    const char* what;
    size_t failing;    // packet whose write fails
    rlim_t limit;      // file size cap
    const char* next;  // the call that must report it
  };
  const Row rows[] = {
      {"part of a middle packet written", 2, 2 * kPacket + 500, "SendDataPacket"},
      {"last packet, checked by ValidFile", last, last * kPacket, "ValidFile"},
      {"last packet, Protocolate without ValidFile", last, last * kPacket, "Protocolate"},
  };
  auto connection = Connect(server.port());
  ReceptionServerProxy proxy(*connection);
  for (const Row& row : rows) {
    proxy.SendControlPacket(rpc::BuildControlPacket(
        "IRPF", "2.0", "W.ZIP", static_cast<double>(bytes.size()), rpc::Operation::kSend, ""));
    Variant size;
    proxy.CheckServerStatus(size);
    proxy.SendFile(Variant("W.ZIP"));
    auto packet = [&](size_t i) {
      const size_t from = i * kPacket, n = std::min(kPacket, bytes.size() - from);
      return Variant(ByteArray{1,
                               {bytes.begin() + static_cast<ptrdiff_t>(from),
                                bytes.begin() + static_cast<ptrdiff_t>(from + n)}});
    };
    {
      FileSizeLimit limit(row.limit);
      for (size_t i = 0; i <= row.failing; ++i) {
        Variant p = packet(i);
        Variant count(static_cast<int32_t>(p.AsBytes().bytes.size()));
        ASSERT_NO_THROW(proxy.SendDataPacket(p, count)) << row.what << ", packet " << i;
      }
      const std::string next = row.next;
      Variant data = Variant::Array(1, 14);
      EXPECT_EQ(ServerMessage([&] {
                  if (next == "SendDataPacket") {
                    Variant p = packet(row.failing + 1);
                    Variant count(static_cast<int32_t>(p.AsBytes().bytes.size()));
                    proxy.SendDataPacket(p, count);
                  } else if (next == "ValidFile") {
                    proxy.ValidFile(Variant(int32_t{0}));
                  } else {
                    proxy.Protocolate(data);
                  }
                }),
                kWriteError)
          << row.what;
    }
    EXPECT_THROW(proxy.ValidFile(Variant(int32_t{0})), rpc::EServerError) << row.what;
    Variant data = Variant::Array(1, 14);
    EXPECT_THROW(proxy.Protocolate(data), rpc::EServerError) << row.what;
    EXPECT_TRUE(connection->Connected()) << row.what;
    EXPECT_TRUE(server.IncomingFiles().empty()) << row.what;
  }
  EXPECT_TRUE(server.StoredFiles().empty());
  EXPECT_EQ(server.context().registry.Count(), 0);

  // A new upload on the same session starts clean and is stored whole.
  SendPackage(proxy, package);
  const auto stored = server.StoredFiles();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(ReadFile(stored[0].string()), bytes);
}

TEST_F(ServerTest, UploadLimitCountsEveryAcceptedByte) {
  TestServer server("packet_size = 1000\nmax_upload = 2500\n");
  auto connection = Connect(server.port());
  ReceptionServerProxy proxy(*connection);
  proxy.SendControlPacket(
      rpc::BuildControlPacket("IRPF", "2.0", "L.ZIP", 2501, rpc::Operation::kSend, ""));
  Variant size;
  proxy.CheckServerStatus(size);
  proxy.SendFile(Variant("L.ZIP"));
  Variant packet(ByteArray{1, std::vector<uint8_t>(1000, 'x')});
  for (const int32_t n : {1000, 1000, 500}) {
    Variant count(n);
    ASSERT_NO_THROW(proxy.SendDataPacket(packet, count)) << n;
  }
  Variant one(int32_t{1});
  EXPECT_EQ(ServerMessage([&] { proxy.SendDataPacket(packet, one); }),
            "O arquivo excede o tamanho máximo aceito pelo servidor.");
  EXPECT_TRUE(server.IncomingFiles().empty());
  EXPECT_THROW(proxy.ValidFile(Variant(int32_t{0})), rpc::EServerError);
}

// A raw socket speaking bytes the client library would never send.
class RawPeer {
 public:
  explicit RawPeer(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      throw std::runtime_error("connect");
    timeval tv{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~RawPeer() { ::close(fd_); }
  void Send(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // The next frame; nothing once the server has closed.
  std::optional<rpc::wire::Frame> Receive() {
    uint8_t header[rpc::wire::kHeaderSize];
    if (!ReadExactly(header, sizeof header)) return std::nullopt;
    const size_t n = rpc::wire::ParseHeader(std::span<const uint8_t, 4>(header), 1 << 20);
    std::vector<uint8_t> body(n);
    if (!ReadExactly(body.data(), n)) return std::nullopt;
    return rpc::wire::DecodeBody(body);
  }
  // Whether the server has closed, without waiting.
  bool ClosedByServer() {
    uint8_t byte;
    return ::recv(fd_, &byte, 1, MSG_DONTWAIT) == 0;
  }
  // Everything until the server closes.
  std::vector<uint8_t> ReadToEnd() {
    std::vector<uint8_t> all;
    uint8_t buf[4096];
    for (;;) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      all.insert(all.end(), buf, buf + n);
    }
    return all;
  }

 private:
  bool ReadExactly(uint8_t* to, size_t n) {
    for (size_t done = 0; done < n;) {
      const ssize_t got = ::recv(fd_, to + done, n - done, 0);
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  }

  int fd_;
};

std::vector<uint8_t> HelloFrame() {
  return rpc::wire::EncodeFrame(rpc::wire::Hello{1, rpc::kServerGUID, rpc::kServerName});
}

TEST_F(ServerTest, MisbehavingSessionsAreClosedAloneWithAnErrorFrame) {
  // Raw bytes reach the framing only over plain TCP.
  TestServer server("packet_size = 4096\nmax_frame = 65536\n", "", false);
  auto healthy = Connect(server.port(), std::chrono::seconds(30), PlainTransport());
  ReceptionServerProxy proxy(*healthy);

  const std::vector<std::vector<uint8_t>> attacks = {
      {0x7f, 0xff, 0xff, 0xff},                                // oversized length
      {0x00, 0x01, 0x00, 0x01},                                // just above the limit
      {0x00, 0x00, 0x00, 0x00},                                // empty frame
      {0x00, 0x00, 0x00, 0x05, 0xdd, 0xff, 0xff, 0xff, 0xff},  // huge array claim
      {0x00, 0x00, 0x00, 0x03, 0x93, 0x01, 0x01},              // request before hello
      {0x00, 0x00, 0x00, 0x04, 0xa3, 'a', 'b', 'c'},           // not an array
  };
  for (const auto& attack : attacks) {
    RawPeer peer(server.port());
    peer.Send(attack);
    const std::vector<uint8_t> answer = peer.ReadToEnd();
    ASSERT_GT(answer.size(), 4u);
    const rpc::wire::Frame frame = rpc::wire::DecodeBody(std::span(answer).subspan(4));
    EXPECT_TRUE(std::holds_alternative<rpc::wire::Error>(frame));

    Variant busy;
    EXPECT_TRUE(proxy.AcceptingConnections(busy));  // the other session is untouched
  }

  // After a good hello, garbage and wrong frame kinds still end only that session.
  for (const std::vector<uint8_t>& tail :
       {std::vector<uint8_t>{0x00, 0x00, 0x00, 0x02, 0xc1, 0xc1},
        rpc::wire::EncodeFrame(rpc::wire::Reply{1, Variant(), {}}),
        rpc::wire::EncodeFrame(rpc::wire::Hello{2, "x", "y"})}) {
    RawPeer peer(server.port());
    std::vector<uint8_t> bytes = HelloFrame();
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    peer.Send(bytes);
    EXPECT_GT(peer.ReadToEnd().size(), 8u);
  }

  // Wrong version or object in the hello.
  RawPeer stranger(server.port());
  stranger.Send(rpc::wire::EncodeFrame(rpc::wire::Hello{1, "{0}", "Other.Object"}));
  const auto answer = stranger.ReadToEnd();
  ASSERT_GT(answer.size(), 4u);
  EXPECT_TRUE(std::holds_alternative<rpc::wire::Error>(
      rpc::wire::DecodeBody(std::span(answer).subspan(4))));
  Variant busy;
  EXPECT_TRUE(proxy.AcceptingConnections(busy));
}

// Requests count from 1 up by one; any other number is refused with seq 0 and a close, while a
// call the server cannot run (an unknown method) is answered under its own seq and the session
// goes on.
TEST_F(ServerTest, RequestSequenceNumbersStartAtOneAndGrowByOne) {
  TestServer server("", "", false);
  struct Call {
    uint32_t seq;
    const char* method;
    char outcome;  // 'R' reply, 'E' error frame with the call's seq, 'X' refusal and close
  };
  struct Row {
    const char* what;
    std::vector<Call> calls;
  };
  const Row rows[] = {
      {"in order", {{1, "CheckFormStatus", 'R'}, {2, "CheckFormStatus", 'R'}}},
      {"first is 2", {{2, "CheckFormStatus", 'X'}}},
      {"first is 0", {{0, "CheckFormStatus", 'X'}}},
      {"repeated", {{1, "CheckFormStatus", 'R'}, {1, "CheckFormStatus", 'X'}}},
      {"skipped", {{1, "CheckFormStatus", 'R'}, {3, "CheckFormStatus", 'X'}}},
      {"unknown method", {{1, "NoSuchMethod", 'E'}, {2, "CheckFormStatus", 'R'}}},
      {"unknown method with seq 0", {{0, "NoSuchMethod", 'X'}}},
  };
  for (const Row& row : rows) {
    RawPeer peer(server.port());
    peer.Send(HelloFrame());
    ASSERT_TRUE(peer.Receive().has_value()) << row.what;
    for (const Call& call : row.calls) {
      peer.Send(rpc::wire::EncodeFrame(rpc::wire::Request{call.seq, call.method, {}}));
      const auto frame = peer.Receive();
      ASSERT_TRUE(frame.has_value()) << row.what << ", seq " << call.seq;
      if (call.outcome == 'R') {
        const auto* reply = std::get_if<rpc::wire::Reply>(&*frame);
        ASSERT_NE(reply, nullptr) << row.what << ", seq " << call.seq;
        EXPECT_EQ(reply->seq, call.seq) << row.what;
      } else {
        const auto* error = std::get_if<rpc::wire::Error>(&*frame);
        ASSERT_NE(error, nullptr) << row.what << ", seq " << call.seq;
        EXPECT_EQ(error->seq, call.outcome == 'E' ? call.seq : 0u) << row.what;
      }
    }
    if (row.calls.back().outcome == 'X') {
      EXPECT_FALSE(peer.Receive().has_value()) << row.what;
    } else {
      EXPECT_FALSE(peer.ClosedByServer()) << row.what;
    }
  }
}

// The idle timeout bounds a whole frame, so bytes trickling in slower than a frame needs do not
// keep a session alive, whether they make up the hello or a later request.
TEST_F(ServerTest, DrippedFramesTimeOut) {
  TestServer server("idle_timeout_ms = 1000\n", "", false);
  const std::vector<uint8_t> request =
      rpc::wire::EncodeFrame(rpc::wire::Request{1, "CheckFormStatus", {}});
  for (const bool greeted : {false, true}) {
    RawPeer peer(server.port());
    if (greeted) {
      peer.Send(HelloFrame());
      ASSERT_TRUE(peer.Receive().has_value());
    }
    const std::vector<uint8_t> frame = greeted ? request : HelloFrame();
    ASSERT_GT(frame.size(), 12u);  // never completed by the drip below
    const auto start = std::chrono::steady_clock::now();
    bool closed = false;
    for (size_t i = 0; i < 12 && !closed; ++i) {
      peer.Send({frame[i]});
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      closed = peer.ClosedByServer();
    }
    EXPECT_TRUE(closed) << "greeted " << greeted;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  }
}

// A connection beyond max_sessions gets the refusal a bad hello gets, and the client library
// reports it as a refused connection; once a place is free, connections are served again.
TEST_F(ServerTest, ConnectionsBeyondTheSessionLimitAreRefused) {
  for (const bool tls : {false, true}) {
    SCOPED_TRACE(tls ? "TLS" : "plain");
    TestServer server("max_sessions = 2\n", "", tls);
    const rpc::TransportPolicy transport = tls ? TestTransport() : PlainTransport();
    auto first = Connect(server.port(), std::chrono::seconds(30), transport);
    auto second = Connect(server.port(), std::chrono::seconds(30), transport);
    if (!tls) {
      RawPeer raw(server.port());
      raw.Send(HelloFrame());
      const auto refusal = raw.Receive();
      ASSERT_TRUE(refusal.has_value());
      const auto* error = std::get_if<rpc::wire::Error>(&*refusal);
      ASSERT_NE(error, nullptr);
      EXPECT_EQ(error->seq, 0u);
      EXPECT_EQ(error->message, "O servidor atingiu o limite de 2 sessões simultâneas.");
      EXPECT_FALSE(raw.Receive().has_value());
    }
    try {
      Connect(server.port(), std::chrono::seconds(30), transport);
      ADD_FAILURE() << "a third session was admitted";
    } catch (const rpc::EConnectionError& e) {
      EXPECT_NE(std::string(e.what()).find("limite de 2 sessões"), std::string::npos) << e.what();
    }
    ReceptionServerProxy proxy(*second);
    Variant busy;
    EXPECT_TRUE(proxy.AcceptingConnections(busy));  // the admitted ones go on

    first.reset();
    for (int i = 0; i < 100 && server.context().sessions > 1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    auto third = Connect(server.port(), std::chrono::seconds(30), transport);
    ReceptionServerProxy proxy3(*third);
    EXPECT_TRUE(proxy3.AcceptingConnections(busy));
  }
}

// Package checks run on their own threads: while both event loops' sessions wait for a check,
// other clients are answered at once, and a client that gives up during its check leaves
// nothing behind.
TEST_F(ServerTest, PackageChecksDoNotHoldUpOtherSessions) {
  constexpr auto kCheck = std::chrono::milliseconds(1500);
  TestServer server("workers = 2\nfault_check_delay_ms = 1500\n");
  const std::string package = MakePackage(client_.path(), "C.ZIP", 2000, 13);
  std::atomic<int> uploaded{0};
  std::string kept_number, error;
  auto upload = [&](std::chrono::milliseconds io_timeout, bool keep) {
    try {
      auto connection = Connect(server.port(), io_timeout);
      ReceptionServerProxy proxy(*connection);
      const std::vector<uint8_t> bytes = ReadFile(package);
      proxy.SendControlPacket(rpc::BuildControlPacket(
          "IRPF", "2.0", "C.ZIP", static_cast<double>(bytes.size()), rpc::Operation::kSend, ""));
      Variant size;
      proxy.CheckServerStatus(size);
      proxy.SendFile(Variant("C.ZIP"));
      Variant packet(ByteArray{1, bytes});
      Variant count(static_cast<int32_t>(bytes.size()));
      proxy.SendDataPacket(packet, count);
      ++uploaded;
      if (!keep) {
        EXPECT_THROW(proxy.ValidFile(Variant(int32_t{0})), rpc::ETimeoutError);
        return;
      }
      EXPECT_TRUE(proxy.ValidFile(Variant(int32_t{0})));
      Variant data = Variant::Array(1, 14);
      proxy.Protocolate(data);
      kept_number = data.At(3).ToString();
    } catch (const std::exception& e) {
      error = e.what();
    }
  };
  std::thread kept(upload, std::chrono::milliseconds(30'000), true);
  std::thread abandoned(upload, std::chrono::milliseconds(300), false);
  while (uploaded < 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // both checks are under way

  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 2; ++i) {  // one session per event loop
    auto other = Connect(server.port());
    ReceptionServerProxy proxy(*other);
    Variant busy;
    EXPECT_TRUE(proxy.AcceptingConnections(busy));
    EXPECT_EQ(proxy.CheckFormStatus(), 1);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, kCheck / 3);
  kept.join();
  abandoned.join();
  EXPECT_EQ(error, "");
  EXPECT_EQ(kept_number, "0000000001");
  for (int i = 0; i < 300 && server.context().sessions > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(server.context().sessions.load(), 0u);
  EXPECT_TRUE(server.IncomingFiles().empty());
  EXPECT_EQ(server.StoredFiles().size(), 1u);
}

TEST_F(ServerTest, ClientRefusesOversizedReplies) {
  TestServer server("packet_size = 60000\nmax_frame = 131072\n");
  rpc::ConnectionOptions options;
  options.max_frame = 1024;
  options.transport = TestTransport();
  rpc::Connection connection(rpc::kServerGUID, rpc::kServerName, options);
  connection.SetAddress("127.0.0.1");
  connection.SetPort(server.port());
  connection.Open();
  ReceptionServerProxy proxy(connection);
  Variant big(ByteArray{1, std::vector<uint8_t>(4096)}), count(1);
  EXPECT_THROW(proxy.SendDataPacket(big, count), rpc::EWireError);  // refused before sending
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(big.AsBytes().bytes.size(), 4096u);  // the by-ref argument came back intact
  EXPECT_EQ(proxy.CheckFormStatus(), 1);         // the refused call took no sequence number
}

}  // namespace
}  // namespace vorncom::testing

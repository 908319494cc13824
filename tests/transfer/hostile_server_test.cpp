// The flows against a server that lies: about the protocol it gave, the list it replicates, the
// size of a download, the packet size. Whatever it says, the client ends with a code and its
// message, keeps its files as they were and its memory bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>

#include "rpc/server_list.h"
#include "support/fake_server.h"
#include "transfer_test_support.h"

namespace vorncom::transfer {
namespace {

namespace fs = std::filesystem;
using testing::FakeServer;
using testing::WillingServer;

// A fake server answering every hello with version 1: the calls counted here are version 1's.
rpc::wire::Frame VersionOne(const rpc::wire::Hello& offer) {
  return rpc::wire::Hello{1, offer.object_guid, offer.object_name};
}

// The fake servers lie at the protocol level, over plain TCP: the library is told so.
class HostileServerTest : public TransferFixture {
 protected:
  void SetUp() override {
    TransferFixture::SetUp();
    ::setenv("VORNCOM_TLS", "desligado", 1);
  }
  void TearDown() override {
    ::unsetenv("VORNCOM_TLS");
    TransferFixture::TearDown();
  }

  void ExpectOneMessage(const std::string& text) {
    ASSERT_EQ(messages_->shown.size(), 1u);
    EXPECT_EQ(messages_->shown[0].text, text);
  }
};

class ProtocolatingServer : public WillingServer {
 public:
  void Protocolate(Variant& data) override { protocolate(data); }
  std::function<void(Variant&)> protocolate;
};

TEST_F(HostileServerTest, ProtocolWithoutANumberFailsWith12AndLeavesThePackage) {
  const struct {
    const char* what;
    std::function<void(Variant&)> protocolate;
  } cases[] = {
      {"data not written back", [](Variant&) {}},
      {"no number",
       [](Variant& d) {
         d = Variant::Array(1, 14);
         d.At(1) = "x.zlk";
       }},
      {"blank number",
       [](Variant& d) {
         d = Variant::Array(1, 14);
         d.At(3) = "  ";
       }},
      {"no array", [](Variant& d) { d = Variant(true); }},
      {"three elements",
       [](Variant& d) {
         d = Variant::Array(1, 3);
         d.At(3) = "2026/1";
       }},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ProtocolatingServer lying;
    lying.protocolate = c.protocolate;
    FakeServer server(lying, nullptr, VersionOne);
    UseFixedServer(server.port());
    // A number the host defined is not one the server gave.
    context.results.protocol_data.At(3) = "anterior";
    const Variant before = context.results.protocol_data;
    const std::string package = SendablePackage("sem-numero" + std::to_string(i++) + ".zlk", 1500);
    const std::string bytes = Slurp(package);
    messages_->shown.clear();
    RecordingView view;

    EXPECT_EQ(Send(package, view), 12);
    EXPECT_EQ(Slurp(package), bytes);
    EXPECT_EQ(context.results.protocol_data, before);
    ASSERT_NO_FATAL_FAILURE(ExpectOneMessage("Erro ao protocolar remotamente o envio do arquivo."));
    EXPECT_EQ(messages_->shown[0].details,
              "Ocorreu o seguinte erro: O servidor não devolveu o número de protocolo da "
              "transmissão.");
    EXPECT_TRUE(WorkFolderIsClean());
  }
}

class ReplicatingServer : public WillingServer {
 public:
  bool ReplicateClientCfgFile(Variant& list) override {
    list = Variant(ByteArray{1, bytes});
    return true;
  }
  std::vector<uint8_t> bytes;
};

TEST_F(HostileServerTest, ReplicatedListBeyondTheLimitsGives23AndKeepsTheOldList) {
  const struct {
    const char* what;
    size_t count;
    size_t name_length;
    uint8_t code;
  } cases[] = {
      {"1,025 entries", 1025, 9, 23},
      {"more than 1 MiB", 1000, 1100, 23},
      {"1,024 entries", 1024, 9, 0},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ReplicatingServer lying;
    lying.bytes = rpc::EncodeServerList(
        std::vector<rpc::ServerItem>(c.count, {std::string(c.name_length, 'h'), 4000, true}));
    FakeServer server(lying, nullptr, VersionOne);
    const std::string config = UseServerList({{"127.0.0.1", server.port(), true}});
    const std::string old_list = Slurp(config);
    messages_->shown.clear();
    RecordingView view;

    EXPECT_EQ(Send(SendablePackage("lista" + std::to_string(i++) + ".zlk", 1500), view), c.code);
    if (c.code == 23) {
      ExpectOneMessage(
          "Erro ao enviar o arquivo para o Vorn. Problemas ao atualizar o arquivo de "
          "configuração do cliente.");
      EXPECT_EQ(Slurp(config), old_list);
      EXPECT_EQ(lying.uploaded.load(), 0);
    } else {
      EXPECT_TRUE(messages_->shown.empty());
      EXPECT_EQ(Slurp(config), std::string(lying.bytes.begin(), lying.bytes.end()));
    }
  }
}

TEST_F(HostileServerTest, ThirtyThousandUnreachableServersAreAllTriedAndGive8) {
  // Distinct loopback addresses on a port nobody listens on: each refuses at once.
  const uint16_t closed = ClosedPort();
  std::vector<rpc::ServerItem> servers;
  for (int i = 0; i < 30'000; ++i) {
    servers.push_back(
        {"127.0." + std::to_string(1 + i / 250) + "." + std::to_string(1 + i % 250), closed, true});
  }
  UseServerList(servers);
  RecordingView view;

  EXPECT_EQ(Send(SendablePackage("longe.zlk", 10), view), 8);
  ExpectOneMessage("Ocorreu um erro no estabelecimento da conexão com o computador do Vorn.");
  // Every server once, then the attempt that finds none left.
  EXPECT_EQ(std::count(view.statuses.begin(), view.statuses.end(),
                       "Conectando com o computador do Vorn. Aguarde..."),
            30'001);
}

TEST_F(HostileServerTest, FallingBackStopsOnceItsBudgetIsSpent) {
  const uint16_t closed = ClosedPort();
  std::vector<rpc::ServerItem> servers;
  for (int i = 1; i <= 50; ++i) servers.push_back({"127.0.1." + std::to_string(i), closed, true});
  UseServerList(servers);
  fall_back_budget = std::chrono::milliseconds(0);
  RecordingView view;

  EXPECT_EQ(Send(SendablePackage("longe.zlk", 10), view), 8);
  ExpectOneMessage("Ocorreu um erro no estabelecimento da conexão com o computador do Vorn.");
  EXPECT_EQ(std::count(view.statuses.begin(), view.statuses.end(),
                       "Conectando com o computador do Vorn. Aguarde..."),
            1);
}

// Announces `announced` bytes and hands out packets of the sizes in `packets`, the last size
// again and again.
class DownloadServer : public WillingServer {
 public:
  int32_t GetFile(Variant&, Variant&) override { return announced; }
  int32_t GetDataPacket(Variant& packet) override {
    const int32_t n = packets[std::min<size_t>(served++, packets.size() - 1)];
    packet = Variant(ByteArray{1, std::vector<uint8_t>(static_cast<size_t>(n), 'x')});
    return n;
  }
  int32_t announced = 0;
  std::vector<int32_t> packets;
  std::atomic<int> served{0};
};

TEST_F(HostileServerTest, DownloadIsBoundedByTheAnnouncedSize) {
  const struct {
    const char* what;
    int32_t announced;
    std::vector<int32_t> packets;
    uint8_t code;
    int served;       // packets asked for
    bool downloaded;  // the local file holds what came; else an earlier file stays as it was
  } cases[] = {
      {"10 announced, full packets without end", 10, {1000}, 11, 1, false},
      {"one packet beyond", 1500, {1000, 1000}, 11, 2, false},
      {"shorter than announced", 3000, {1000, 500}, 11, 2, true},
      {"as announced", 1500, {1000, 500}, 0, 2, true},
      {"negative size announced", -1, {1000}, 1, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DownloadServer lying;
    lying.announced = c.announced;
    lying.packets = c.packets;
    FakeServer server(lying, nullptr, VersionOne);
    UseFixedServer(server.port());
    dir_.Write("baixado.zlk", "anterior");
    messages_->shown.clear();
    RecordingView view;

    EXPECT_EQ(Receive("baixado.zlk", false, view), c.code);
    EXPECT_EQ(lying.served.load(), c.served);
    EXPECT_EQ(Slurp(dir_ / "baixado.zlk"),
              c.downloaded ? std::string(c.packets[0] + c.packets[1], 'x') : "anterior");
    if (c.code == 11) {
      ExpectOneMessage(
          "Erro na validação do arquivo recebido. Tente enviar novamente e, caso o erro persista, "
          "entre em contato com o Vorn.");
    } else if (c.code == 1) {
      ExpectOneMessage("Erro ao receber o arquivo do Vorn. Problemas no início da transmissão.");
    }
    int beside = 0;
    for (const auto& entry : fs::directory_iterator(dir_.path()))
      beside += entry.path().filename().string().find("baixado") != std::string::npos;
    EXPECT_EQ(beside, 1);  // no partial download left
  }
}

class PacketSizeServer : public WillingServer {
 public:
  int32_t CheckServerStatus(Variant& packet_size) override {
    packet_size = size;
    return 5;
  }
  Variant size;
};

TEST_F(HostileServerTest, PacketSizeBeyondTheFrameIsRefusedBeforeAllocating) {
  const struct {
    const char* what;
    Variant size;
    uint8_t code;
  } cases[] = {
      {"2 GiB", Variant(int32_t{INT32_MAX}), 8},
      {"the frame limit itself", Variant(int32_t{16 << 20}), 8},
      {"zero", Variant(int32_t{0}), 8},
      {"negative", Variant(int32_t{-1}), 8},
      {"text", Variant("grande"), 8},
      {"the largest usable", Variant(int32_t{(16 << 20) - 1024}), 0},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PacketSizeServer lying;
    lying.size = c.size;
    FakeServer server(lying, nullptr, VersionOne);
    UseFixedServer(server.port());
    messages_->shown.clear();
    RecordingView view;

    EXPECT_EQ(Send(SendablePackage("pacote" + std::to_string(i++) + ".zlk", 1500), view), c.code);
    if (c.code == 8) {
      ExpectOneMessage("Ocorreu um erro no estabelecimento da conexão com o computador do Vorn.");
      EXPECT_EQ(view.status, "Erro ao conectar com o computador do Vorn.");
      EXPECT_EQ(lying.uploaded.load(), 0);
      EXPECT_TRUE(context.results.last_host.empty());
    }
  }

  // A download refuses alike; a status query moves no packets and does not care.
  PacketSizeServer lying;
  lying.size = Variant(int32_t{INT32_MAX});
  FakeServer server(lying, nullptr, VersionOne);
  UseFixedServer(server.port());
  RecordingView view;
  EXPECT_EQ(Receive("x.zlk", false, view), 8);
  uint8_t status = 99;
  EXPECT_EQ(Query(status), 0);
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace vorncom::transfer

// Version negotiation and the packet pipeline against fake servers that script the peer.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <optional>
#include <vector>

#include "rpc/connection.h"
#include "rpc/reception_server_proxy.h"
#include "support/fake_server.h"

namespace vorncom::rpc {
namespace {

ConnectionOptions Plain(uint32_t highest = wire::kHighestProtocolVersion) {
  ConnectionOptions options;
  options.transport.tls = false;
  options.highest_version = highest;
  options.io_timeout = std::chrono::seconds(10);  // a deadlocked pipeline fails instead of hanging
  return options;
}

std::unique_ptr<Connection> Open(uint16_t port, const ConnectionOptions& options = Plain()) {
  auto c = std::make_unique<Connection>(kServerGUID, kServerName, options);
  c->SetAddress("127.0.0.1");
  c->SetPort(port);
  c->Open();
  return c;
}

wire::Frame Answer(uint32_t version) { return wire::Hello{version, kServerGUID, kServerName}; }

TEST(NegotiationTest, OffersAndAnswers) {
  using Handler = testing::FakeServer::HelloHandler;
  const Handler v1_only = [](const wire::Hello& h) -> wire::Frame {
    if (h.version != 1) return wire::Error{0, "versão não suportada"};
    return Answer(1);
  };
  struct Row {
    const char* what;
    uint32_t highest;
    Handler hello;
    int version;                   // of both opens; 0: both fail
    std::vector<uint32_t> offers;  // of two connections opened one after the other
  };
  const Row rows[] = {
      {"server of version 2", 2, nullptr, 2, {2, 2}},
      {"server answers 1", 2, [](const wire::Hello&) { return Answer(1); }, 1, {2, 2}},
      {"version 1 forced", 1, nullptr, 1, {1, 1}},
      {"answer above the offer", 2, [](const wire::Hello&) { return Answer(3); }, 0, {2, 2}},
      {"answer 0", 2, [](const wire::Hello&) { return Answer(0); }, 0, {2, 2}},
      {"version-1 server: fall-back, then remembered", 2, v1_only, 1, {2, 1, 1}},
      {"every hello refused: not remembered",
       2,
       [](const wire::Hello&) -> wire::Frame {
         return wire::Error{0, "limite de sessões"};
       },
       0,
       {2, 1, 2, 1}},
      {"refusal under a call's seq: no fall-back",
       2,
       [](const wire::Hello&) -> wire::Frame {
         return wire::Error{7, "recusada"};
       },
       0,
       {2, 2}},
  };
  for (const Row& row : rows) {
    testing::WillingServer willing;
    testing::FakeServer server(willing, nullptr, row.hello);
    for (int i = 0; i < 2; ++i) {
      if (row.version == 0) {
        EXPECT_THROW(Open(server.port(), Plain(row.highest)), ERemoteCallError) << row.what;
        continue;
      }
      auto c = Open(server.port(), Plain(row.highest));
      EXPECT_EQ(c->ProtocolVersion(), static_cast<uint32_t>(row.version)) << row.what;
      EXPECT_GT(c->RoundTrip().count(), 0) << row.what;
      std::vector<Variant> none;
      EXPECT_EQ(c->Call("CheckFormStatus", none), Variant(int32_t{1})) << row.what;
    }
    EXPECT_EQ(server.offers(), row.offers) << row.what;
  }
}

TEST(NegotiationTest, AnswersAboveTheOfferAndBelowOneAreProtocolErrors) {
  testing::WillingServer willing;
  testing::FakeServer server(willing, nullptr, [](const wire::Hello&) { return Answer(2); });
  EXPECT_THROW(Open(server.port(), Plain(1)), EWireError);
}

// Counts packets and fails the upload's `fail_at`-th one; downloads packets of `packet_size`
// bytes, the n-th filled with n.
class PacketServer : public testing::WillingServer {
 public:
  void SendDataPacket(Variant& packet, Variant& count) override {
    if (++packets == fail_at) throw std::runtime_error("pacote recusado");
    WillingServer::SendDataPacket(packet, count);
  }
  int32_t GetDataPacket(Variant& packet) override {
    packet = Variant(ByteArray{1, std::vector<uint8_t>(packet_size, static_cast<uint8_t>(++sent))});
    return static_cast<int32_t>(packet_size);
  }
  int packets = 0;
  int fail_at = 0;
  int sent = 0;
  size_t packet_size = 1000;
};

TEST(PipelineTest, AnErrorReplyFailsItsOwnCallOnly) {
  PacketServer packets;
  packets.fail_at = 3;
  testing::FakeServer server(packets);
  auto c = Open(server.port());
  ReceptionServerProxy proxy(*c);
  const Variant packet(ByteArray{1, std::vector<uint8_t>(1000, 7)});
  for (int i = 0; i < 6; ++i) proxy.PostDataPacket(packet, 1000);
  EXPECT_EQ(proxy.Posted(), 6u);
  for (int i = 1; i <= 6; ++i) {
    if (i == 3) {
      EXPECT_THROW(proxy.CollectDataPacket(), EServerError);
    } else {
      EXPECT_NO_THROW(proxy.CollectDataPacket()) << i;
    }
  }
  EXPECT_EQ(proxy.Posted(), 0u);
  EXPECT_EQ(packets.uploaded.load(), 5000);
  EXPECT_EQ(proxy.CheckFormStatus(), 1);
  // Another call with packets in flight would take a packet's reply for its own.
  proxy.PostDataPacket(packet, 1000);
  EXPECT_THROW(proxy.CheckFormStatus(), std::logic_error);
}

TEST(PipelineTest, AReplyOutOfTurnIsAProtocolError) {
  struct Row {
    const char* what;
    wire::Frame reply;  // the answer to the second call
  };
  const Row rows[] = {
      {"seq repeated", wire::Reply{1, Variant(int32_t{1}), {}}},
      {"seq skipped", wire::Reply{3, Variant(int32_t{1}), {}}},
      {"refusal", wire::Error{0, "recusada"}},
      {"error of another call", wire::Error{3, "falhou"}},
  };
  for (const Row& row : rows) {
    testing::WillingServer willing;
    testing::FakeServer server(willing, [&](int fd, const wire::Request& request) {
      if (request.seq != 2) return false;
      testing::WriteAll(fd, wire::EncodeFrame(row.reply));
      return true;
    });
    auto c = Open(server.port());
    std::vector<Variant> none;
    const uint32_t first = c->Post("CheckFormStatus", none);
    const uint32_t second = c->Post("CheckFormStatus", none);
    EXPECT_EQ(c->Collect(first, none), Variant(int32_t{1})) << row.what;
    EXPECT_THROW(c->Collect(second, none), EWireError) << row.what;
    EXPECT_FALSE(c->Connected()) << row.what;
  }
}

// The fake server writes each reply whole before it reads the next request, so a client that
// only wrote its window of requests would never see the end of it.
TEST(PipelineTest, AWindowOfLargeDownloadRepliesDoesNotDeadlock) {
  PacketServer packets;
  packets.packet_size = 1 << 20;
  testing::FakeServer server(packets);
  auto c = Open(server.port());
  ASSERT_EQ(c->ProtocolVersion(), 2u);
  ReceptionServerProxy proxy(*c);
  constexpr int kPackets = 48;
  constexpr int kWindow = 16;
  int posted = 0;
  for (int collected = 1; collected <= kPackets; ++collected) {
    while (posted < kPackets && posted - collected < kWindow - 1) {
      proxy.PostGetDataPacket(1 << 20);
      ++posted;
    }
    Variant packet;
    ASSERT_EQ(proxy.CollectGetDataPacket(packet), 1 << 20);
    const std::vector<uint8_t>& bytes = packet.AsBytes().bytes;
    ASSERT_EQ(bytes.size(), size_t{1} << 20);
    EXPECT_EQ(bytes.front(), static_cast<uint8_t>(collected));
    EXPECT_EQ(bytes.back(), static_cast<uint8_t>(collected));
  }
}

}  // namespace
}  // namespace vorncom::rpc

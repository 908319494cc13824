// The pipeline against vorncom-server, over plain TCP and TLS, offering version 1 and 2.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "rpc/connection.h"
#include "rpc/reception_server_proxy.h"
#include "server/server_fixture.h"

namespace vorncom::rpc {
namespace {

namespace fs = std::filesystem;
using testing::TestServer;

constexpr int32_t kPacket = 512 << 10;
// Far more than the loopback's socket buffers hold, both ways.
constexpr size_t kWindow = 64;

std::unique_ptr<Connection> Open(uint16_t port, bool tls, uint32_t highest) {
  ConnectionOptions options;
  options.transport = tls ? testing::TestTransport() : testing::PlainTransport();
  options.highest_version = highest;
  options.io_timeout = std::chrono::seconds(20);  // a deadlocked pipeline fails instead of hanging
  auto c = std::make_unique<Connection>(kServerGUID, kServerName, options);
  c->SetAddress("127.0.0.1");
  c->SetPort(port);
  c->Open();
  return c;
}

void Start(ReceptionServer& server, const std::string& name, double size, Operation operation) {
  Variant busy(false);
  ASSERT_TRUE(server.AcceptingConnections(busy));
  server.SendControlPacket(BuildControlPacket("IRPF", "2.0", name, size, operation, "127.0.0.1"));
  Variant packet_size(int32_t{0});
  ASSERT_TRUE(IsAvailableStatus(server.CheckServerStatus(packet_size)));
  ASSERT_EQ(packet_size, Variant(kPacket));
}

TEST(ServerPipelineTest, UploadAndDownloadWithAWindowOfPackets) {
  for (const bool tls : {false, true}) {
    for (const uint32_t highest : {1u, 2u}) {
      SCOPED_TRACE(std::string(tls ? "TLS" : "plain") + ", offering " + std::to_string(highest));
      TestServer server("packet_size = " + std::to_string(kPacket) + "\n", "", tls);
      testing::TempFolder folder;
      const std::string package =
          testing::MakePackage(folder.path().string(), "envio.zlk", 5 * kPacket + 1234, 7);
      const std::vector<uint8_t> bytes = testing::ReadFile(package);

      // Upload through the proxy: a pipeline in version 2, one call at a time in version 1.
      auto up = Open(server.port(), tls, highest);
      ReceptionServerProxy proxy(*up);
      Start(proxy, "envio.zlk", static_cast<double>(bytes.size()), Operation::kSend);
      proxy.SendFile(Variant("envio.zlk"));
      Variant packet(ByteArray{1, std::vector<uint8_t>(kPacket)});
      for (size_t done = 0; done < bytes.size();) {
        const size_t n = std::min<size_t>(kPacket, bytes.size() - done);
        std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(done), n,
                    packet.AsBytes().bytes.begin());
        proxy.PostDataPacket(packet, static_cast<int32_t>(n));
        done += n;
        if (proxy.Posted() == 8 || done == bytes.size()) {
          while (proxy.Posted() > 0) proxy.CollectDataPacket();
        }
      }
      EXPECT_TRUE(proxy.ValidFile(Variant(int32_t{0})));
      Variant data = Variant::Array(1, 14);
      proxy.Protocolate(data);
      EXPECT_FALSE(data.At(3).ToString().empty());

      // Download with requests posted on the connection ahead of their replies, two past the
      // end: those fail on their own and the connection goes on. Each reply is a frame of half
      // a megabyte, so the server blocks writing while the client is still sending.
      std::vector<uint8_t> file((kWindow + 6) * kPacket + 1234);
      std::mt19937 random(11);
      for (uint8_t& b : file) b = static_cast<uint8_t>(random());
      fs::create_directories(server.data_folder() + "/downloads");
      std::ofstream(server.data_folder() + "/downloads/envio.zlk", std::ios::binary)
          .write(reinterpret_cast<const char*>(file.data()),
                 static_cast<std::streamsize>(file.size()));
      auto down = Open(server.port(), tls, highest);
      ReceptionServerProxy receiver(*down);
      Start(receiver, "envio.zlk", 0, Operation::kReceive);
      Variant name("envio.zlk");
      Variant info = Variant::Array(1, 14);
      ASSERT_EQ(receiver.GetFile(name, info), static_cast<int32_t>(file.size()));
      const size_t packets = file.size() / kPacket + 1 + 2;
      const Variant empty(ByteArray{1, std::vector<uint8_t>(kPacket)});
      const Variant* const args[] = {&empty};
      std::vector<uint32_t> seqs;
      for (size_t i = 0; i < kWindow && i < packets; ++i)
        seqs.push_back(down->Post("GetDataPacket", args));
      std::vector<uint8_t> received;
      for (size_t i = 0; i < packets; ++i) {
        std::vector<Variant> reply(1);
        if (i + 1 >= packets - 1) {
          EXPECT_THROW(down->Collect(seqs[i], reply), EServerError) << i;
          continue;
        }
        const int32_t n = down->Collect(seqs[i], reply).ToInteger();
        ASSERT_TRUE(reply[0].IsBytes());
        received.insert(received.end(), reply[0].AsBytes().bytes.begin(),
                        reply[0].AsBytes().bytes.begin() + n);
        if (seqs.size() < packets) seqs.push_back(down->Post("GetDataPacket", args));
      }
      EXPECT_TRUE(received == file);
      EXPECT_TRUE(down->Connected());
      receiver.Protocolate(info);
      EXPECT_FALSE(info.At(3).ToString().empty());
    }
  }
}

}  // namespace
}  // namespace vorncom::rpc

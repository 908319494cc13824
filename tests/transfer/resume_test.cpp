// Transfers over links that break: a version-1 server sees exactly the calls it always saw; a
// version-2 server's transfer goes on over new connections and ends with the same bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "support/fake_server.h"
#include "transfer_test_support.h"

namespace vorncom::transfer {
namespace {

namespace fs = std::filesystem;
using testing::FakeServer;
using testing::WillingServer;

// A willing server with one file of `size` bytes to hand out, in packets of 1,000.
class RecordingServer : public WillingServer {
 public:
  int32_t GetFile(Variant&, Variant&) override { return size; }
  int32_t GetDataPacket(Variant& packet) override {
    const int32_t n = std::min(1000, size - given);
    given += n;
    packet = Variant(ByteArray{1, std::vector<uint8_t>(static_cast<size_t>(n), 'x')});
    return n;
  }
  int32_t size = 0;
  int32_t given = 0;
};

class ResumeTest : public TransferFixture {
 protected:
  void SetUp() override {
    TransferFixture::SetUp();
    ::setenv("VORNCOM_TLS", "desligado", 1);
  }
  void TearDown() override {
    ::unsetenv("VORNCOM_TLS");
    TransferFixture::TearDown();
  }
};

// The calls in order, one name per call; a run of packet calls as "SendDataPacket*N".
std::vector<std::string> Squeezed(const std::vector<std::string>& calls) {
  std::vector<std::string> out;
  int run = 0;
  for (size_t i = 0; i < calls.size(); ++i) {
    ++run;
    if (i + 1 < calls.size() && calls[i + 1] == calls[i]) continue;
    out.push_back(run == 1 ? calls[i] : calls[i] + "*" + std::to_string(run));
    run = 0;
  }
  return out;
}

TEST_F(ResumeTest, AVersionOneServerSeesTheCallsItAlwaysSaw) {
  const std::vector<std::string> opening = {"AcceptingConnections", "SendControlPacket",
                                            "CheckServerStatus", "ReplicateClientCfgFile"};
  const struct {
    const char* what;
    int32_t download;  // bytes to receive; 0: a send
    std::vector<std::string> rest;  // after the opening calls, for a download
  } cases[] = {
      {"download ending short", 2500, {"GetFile", "GetDataPacket*3", "Protocolate"}},
      // A size on a packet boundary ends with a call that brings nothing.
      {"download on a boundary", 3000, {"GetFile", "GetDataPacket*4", "Protocolate"}},
      {"send", 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingServer willing;
    willing.size = c.download;
    std::mutex mutex;
    std::vector<std::string> calls;
    FakeServer fake(willing, [&](int, const rpc::wire::Request& request) {
      std::lock_guard lock(mutex);
      calls.push_back(request.method);
      return false;
    });
    UseFixedServer(fake.port());
    RecordingView view;
    std::vector<std::string> expected = opening;
    if (c.download > 0) {
      ASSERT_EQ(Receive("baixado.zlk", false, view), 0);
      EXPECT_EQ(Slurp(dir_ / "baixado.zlk"), std::string(static_cast<size_t>(c.download), 'x'));
    } else {
      const std::string package = SendablePackage("v1.zlk", 4000);
      const auto size = static_cast<int64_t>(fs::file_size(package));  // before it is stamped
      ASSERT_EQ(Send(package, view), 0);
      EXPECT_EQ(willing.uploaded, size);
      const std::string packets = "SendDataPacket*" + std::to_string((size + 999) / 1000);
      expected.insert(expected.end(), {"SendFile", packets, "ValidFile", "Protocolate"});
    }
    if (c.download > 0) expected.insert(expected.end(), c.rest.begin(), c.rest.end());
    std::lock_guard lock(mutex);
    EXPECT_EQ(Squeezed(calls), expected);
  }
}

}  // namespace
}  // namespace vorncom::transfer

// The flows over a link that breaks at a chosen call, against the real server kept to version 1:
// every break ends the transfer with its code and message, and leaves the package and the host
// folder as they were. (Over version 2 the transfer goes on instead: resume_test.cpp.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "archive/package_routines.h"
#include "common/messages.h"
#include "support/failing_server.h"
#include "transfer_test_support.h"

namespace vorncom::transfer {
namespace {

namespace fs = std::filesystem;
using testing::FailingServer;
using testing::LinkFault;
using testing::TestServer;
using Kind = LinkFault::Kind;
using rpc::Method;

class BrokenLinkTest : public TransferFixture {};

TEST_F(BrokenLinkTest, ASendEndsWithItsCodeAndLeavesThePackage) {
  const std::string send_failed = msg::Format(msg::kSendFailed, {"o Vorn", msg::kSendProblems});
  const std::string no_connection = msg::Format(msg::kConnectionFailed, {"o Vorn"});
  const std::string not_protocolated =
      msg::Format(msg::kProtocolateFailed, {msg::kRemotamente, msg::kEnvio});
  const struct {
    const char* what;
    LinkFault fault;
    uint8_t code;
    const std::string& message;
  } cases[] = {
      {"status check lost", {Method::kCheckServerStatus, 1, Kind::kBeforeCall}, 8, no_connection},
      {"third packet never sent", {Method::kSendDataPacket, 3, Kind::kBeforeCall}, 1, send_failed},
      {"third packet's reply lost", {Method::kSendDataPacket, 3, Kind::kLoseReply}, 1, send_failed},
      {"validation's reply lost", {Method::kValidFile, 1, Kind::kLoseReply}, 1, send_failed},
      {"protocol's reply lost", {Method::kProtocolate, 1, Kind::kLoseReply}, 12, not_protocolated},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestServer server("packet_size = 1000\nmax_protocol_version = 1\n");
    UseFixedServer(server.port());
    server_factory = FailingServer::Factory(c.fault);
    const std::string package = SendablePackage("quebra" + std::to_string(i++) + ".zlk", 5000);
    const std::string bytes = Slurp(package);
    const Variant protocol_before = context.results.protocol_data;
    messages_->shown.clear();
    RecordingView view;

    EXPECT_EQ(Send(package, view), c.code);
    ASSERT_FALSE(messages_->shown.empty());
    EXPECT_EQ(messages_->shown[0].text, c.message);
    EXPECT_EQ(Slurp(package), bytes);  // not stamped
    EXPECT_EQ(context.results.protocol_data, protocol_before);
    EXPECT_TRUE(WorkFolderIsClean());
    if (c.code == 1) {
      EXPECT_TRUE(server.StoredFiles().empty());
    }
  }
}

TEST_F(BrokenLinkTest, AReceiveBrokenMidwayKeepsNoLocalFile) {
  for (const Kind kind : {Kind::kBeforeCall, Kind::kLoseReply}) {
    TestServer server("packet_size = 1000\nmax_protocol_version = 1\n");
    UseFixedServer(server.port());
    const std::string downloads = server.data_folder() + "/downloads";
    fs::create_directories(downloads);
    std::ofstream(downloads + "/resposta.zlk", std::ios::binary) << RandomBytes(3500, 3);
    server_factory = FailingServer::Factory({Method::kGetDataPacket, 2, kind});
    messages_->shown.clear();
    RecordingView view;

    EXPECT_EQ(Receive("resposta.zlk", true, view), 1);
    ASSERT_EQ(messages_->shown.size(), 1u);
    EXPECT_EQ(messages_->shown[0].text,
              msg::Format(msg::kReceiveFailed, {"o Vorn", msg::kReceiveProblems}));
    EXPECT_FALSE(fs::exists(dir_ / "resposta.zlk"));
    EXPECT_TRUE(fs::exists(downloads + "/resposta.zlk"));  // the server's copy stays
    EXPECT_TRUE(view.closed);
  }
}

}  // namespace
}  // namespace vorncom::transfer

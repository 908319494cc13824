// Transfers over links that break: a version-1 server sees exactly the calls it always saw; a
// version-2 server's transfer goes on over new connections and ends with the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>

#include "archive/package_routines.h"
#include "common/messages.h"
#include "common/registry.h"
#include "common/sha256.h"
#include "journal/send_journal.h"
#include "rpc/transport_policy.h"
#include "support/failing_server.h"
#include "support/fake_server.h"
#include "transfer/link_recovery.h"
#include "transfer_test_support.h"

namespace vorncom::transfer {
namespace {

namespace fs = std::filesystem;
using testing::FailingServer;
using testing::FakeServer;
using testing::LinkFault;
using testing::TestServer;
using testing::WillingServer;
using Kind = LinkFault::Kind;
using rpc::Method;

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
    int32_t download;               // bytes to receive; 0: a send
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
    FakeServer fake(
        willing,
        [&](int, const rpc::wire::Request& request) {
          std::lock_guard lock(mutex);
          calls.push_back(request.method);
          return false;
        },
        [](const rpc::wire::Hello& offer) {
          return rpc::wire::Frame(rpc::wire::Hello{1, offer.object_guid, offer.object_name});
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

// Connection i breaks as faults[i] says; a fault left out, and every connection after the
// list, is a sound link.
ServerFactory Faults(std::vector<std::optional<LinkFault>> faults) {
  auto made = std::make_shared<size_t>(0);
  return [=](rpc::Connection& connection) -> std::unique_ptr<rpc::ReceptionServer> {
    const size_t i = (*made)++;
    if (i < faults.size() && faults[i])
      return std::make_unique<FailingServer>(connection, *faults[i]);
    return std::make_unique<rpc::ReceptionServerProxy>(connection);
  };
}

// Every connection breaks as `fault` says.
std::vector<std::optional<LinkFault>> Always(LinkFault fault) {
  return std::vector<std::optional<LinkFault>>(8, fault);
}

// Against the real server, speaking version 2, with the pauses between attempts cut to nothing.
class LinkRecoveryTest : public TransferFixture {
 protected:
  void SetUp() override {
    TransferFixture::SetUp();
    Registry::Default().WriteValue(kConnectionKey, "PausaReconexaoMs", int32_t{0});
  }
  // False (the test is skipped) while the client or the server speaks version 1 only.
  bool SpeaksVersion2(TestServer& server) {
    UseFixedServer(server.port());
    rpc::ConnectionOptions options;
    options.transport = rpc::LoadTransportPolicy();
    rpc::Connection connection(rpc::kServerGUID, rpc::kServerName, options);
    rpc::SetConnectionEndpoint(connection, "127.0.0.1", server.port());
    connection.Open();
    return rpc::ReceptionServerProxy(connection).ProtocolVersion() >= 2;
  }
  std::vector<journal::AttemptRow> Attempts() {
    return journal::SendJournal(journal::SendJournal::DefaultPath()).Attempts();
  }
  std::string Retrying(int attempt) {
    return msg::Format(msg::kLinkLostRetrying, {"o Vorn", std::to_string(attempt), "5", "0"});
  }
};

TEST_F(LinkRecoveryTest, ASendWhoseLinkBreaksEndsWithOneRegistrationOfTheSameBytes) {
  const struct {
    const char* what;
    std::vector<std::optional<LinkFault>> faults;
  } cases[] = {
      {"start never sent", {LinkFault{Method::kStartUpload, 1, Kind::kBeforeCall}}},
      {"packet 5 never sent", {LinkFault{Method::kSendDataPacket, 5, Kind::kBeforeCall}}},
      {"packet 5's reply lost", {LinkFault{Method::kSendDataPacket, 5, Kind::kLoseReply}}},
      {"twice mid-upload",
       {LinkFault{Method::kSendDataPacket, 3, Kind::kBeforeCall},
        LinkFault{Method::kSendDataPacket, 4, Kind::kLoseReply}}},
      {"validation's reply lost", {LinkFault{Method::kValidFile, 1, Kind::kLoseReply}}},
      {"protocol's reply lost", {LinkFault{Method::kProtocolate, 1, Kind::kLoseReply}}},
      {"protocol never sent", {LinkFault{Method::kProtocolate, 1, Kind::kBeforeCall}}},
      {"protocol's reply lost, then the lookup's",
       {LinkFault{Method::kProtocolate, 1, Kind::kLoseReply},
        LinkFault{Method::kFindRegistration, 1, Kind::kLoseReply}}},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestServer server("packet_size = 1000\n");
    if (!SpeaksVersion2(server)) GTEST_SKIP() << "version 2 is not spoken here yet";
    server_factory = Faults(c.faults);
    const std::string package = SendablePackage("retoma" + std::to_string(i++) + ".zlk", 20'000);
    const std::string bytes = Slurp(package);
    messages_->shown.clear();
    RecordingView view;

    ASSERT_EQ(Send(package, view), 0) << (messages_->shown.empty() ? "" : messages_->shown[0].text);
    EXPECT_TRUE(messages_->shown.empty());
    ASSERT_EQ(server.StoredFiles().size(), 1u);  // one registration
    EXPECT_EQ(Slurp(server.StoredFiles()[0]), bytes);
    EXPECT_TRUE(archive::PackageHasEntry(package, "protocolo.rec"));
    const std::string number = context.results.protocol_data.At(3).ToString();
    context.results.protocol_data = Variant::Array(1, 14);
    EXPECT_EQ(FileSent(package), 3);
    EXPECT_EQ(context.results.protocol_data.At(3).ToString(), number);
    EXPECT_NE(std::find(view.statuses.begin(), view.statuses.end(), Retrying(2)),
              view.statuses.end());
  }
  // One attempt row per connection: the last case's broken two, then the one that ended it.
  const std::vector<journal::AttemptRow> rows = Attempts();
  ASSERT_GE(rows.size(), 3u);
  const journal::Attempt& broken = rows[rows.size() - 3].attempt;
  const journal::Attempt& last = rows.back().attempt;
  EXPECT_EQ(broken.result_code, 12);
  EXPECT_FALSE(broken.server_message.empty());
  EXPECT_EQ(last.result_code, 0);
  EXPECT_EQ(last.operation, "envio");
  EXPECT_EQ(last.server.rfind("127.0.0.1:", 0), 0u);
}

TEST_F(LinkRecoveryTest, SpentAttemptsEndWithTheCodeAndMessageOfTheStep) {
  const std::string start = msg::Format(msg::kSendFailed, {"o Vorn", msg::kStartProblems});
  const std::string packets = msg::Format(msg::kSendFailed, {"o Vorn", msg::kSendProblems});
  const struct {
    const char* what;
    std::vector<std::optional<LinkFault>> faults;
    uint8_t code;
    const std::string& message;
  } cases[] = {
      {"start", Always({Method::kStartUpload, 1, Kind::kBeforeCall}), 1, start},
      {"first packet", Always({Method::kSendDataPacket, 1, Kind::kBeforeCall}), 1, packets},
      {"validation", Always({Method::kValidFile, 1, Kind::kLoseReply}), 1, packets},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestServer server("packet_size = 1000\n");
    if (!SpeaksVersion2(server)) GTEST_SKIP() << "version 2 is not spoken here yet";
    server_factory = Faults(c.faults);
    const std::string package = SendablePackage("esgota" + std::to_string(i++) + ".zlk", 3000);
    const std::string bytes = Slurp(package);
    messages_->shown.clear();
    RecordingView view;
    EXPECT_EQ(Send(package, view), c.code);
    ASSERT_FALSE(messages_->shown.empty());
    EXPECT_EQ(messages_->shown[0].text, c.message);
    EXPECT_EQ(Slurp(package), bytes);
    EXPECT_TRUE(server.StoredFiles().empty());
    EXPECT_NE(std::find(view.statuses.begin(), view.statuses.end(), Retrying(5)),
              view.statuses.end());
  }
}

// A send whose registration reply was lost on every attempt is in doubt; the next SendFile of
// the package learns from the server that it was registered and only stamps it.
TEST_F(LinkRecoveryTest, ASendInDoubtIsStampedAtTheNextCallWithoutUploading) {
  TestServer server("packet_size = 1000\n");
  if (!SpeaksVersion2(server)) GTEST_SKIP() << "version 2 is not spoken here yet";
  std::vector<std::optional<LinkFault>> faults =
      Always({Method::kFindRegistration, 1, Kind::kBeforeCall});
  faults[0] = LinkFault{Method::kProtocolate, 1, Kind::kLoseReply};
  server_factory = Faults(faults);
  const std::string package = SendablePackage("duvida.zlk", 5000);
  const std::string bytes = Slurp(package);
  RecordingView first;
  EXPECT_EQ(Send(package, first), 12);
  EXPECT_EQ(Slurp(package), bytes);            // not stamped
  ASSERT_EQ(server.StoredFiles().size(), 1u);  // but registered

  // An upload now would fail: the package must be stamped without one.
  server_factory = Faults(Always({Method::kStartUpload, 1, Kind::kBeforeCall}));
  messages_->shown.clear();
  RecordingView second;
  ASSERT_EQ(Send(package, second), 0) << (messages_->shown.empty() ? "" : messages_->shown[0].text);
  EXPECT_TRUE(second.progress.empty());
  EXPECT_TRUE(archive::PackageHasEntry(package, "protocolo.rec"));
  EXPECT_EQ(server.StoredFiles().size(), 1u);
  const std::optional<journal::SendRecord> open =
      journal::SendJournal(journal::SendJournal::DefaultPath())
          .FindOpen(Sha256OfFile(package), static_cast<int64_t>(bytes.size()), "duvida.zlk");
  EXPECT_FALSE(open.has_value());  // stamped: nothing in doubt
}

TEST_F(LinkRecoveryTest, ADownloadWhoseLinkBreaksEndsWithTheSameBytes) {
  for (const Kind kind : {Kind::kBeforeCall, Kind::kLoseReply}) {
    TestServer server("packet_size = 1000\n");
    if (!SpeaksVersion2(server)) GTEST_SKIP() << "version 2 is not spoken here yet";
    const std::string downloads = server.data_folder() + "/downloads";
    fs::create_directories(downloads);
    const std::string content = RandomBytes(35'500, 5);
    std::ofstream(downloads + "/retomado.zlk", std::ios::binary) << content;
    server_factory = Faults(
        {LinkFault{Method::kGetDataPacket, 7, kind}, LinkFault{Method::kGetDataPacket, 12, kind}});
    messages_->shown.clear();
    RecordingView view;
    ASSERT_EQ(Receive("retomado.zlk", false, view), 0);
    EXPECT_TRUE(messages_->shown.empty());
    EXPECT_EQ(Slurp(dir_ / "retomado.zlk"), content);
  }
}

}  // namespace
}  // namespace vorncom::transfer

// The link relay that tests and benchmarks use as a slow or broken network: its timing (loose
// bounds, so that a loaded machine never fails them: they catch a link that is too fast or far
// too slow), its bounded queue, and where its cuts fall.
#include "support/link_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace vorncom::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string Pattern(size_t size, uint32_t seed = 7) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string Frame(const std::string& body) {
  const uint32_t n = htonl(static_cast<uint32_t>(body.size()));
  return std::string(reinterpret_cast<const char*>(&n), 4) + body;
}

// False when the connection failed (the peer went: what arrived is what the tests check).
bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

struct Received {
  std::string bytes;
  // Ended by a reset rather than an orderly close. A reset that arrives behind bytes not read yet
  // may read as end of stream, so the socket's state says it: closed, not waiting for our close
  // (which holds for sockets that had not shut their own side down).
  bool reset = false;
};

Received ReadToEnd(int fd, size_t at_most = SIZE_MAX) {
  Received got;
  char buffer[65536];
  while (got.bytes.size() < at_most) {
    const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, at_most - got.bytes.size()), 0);
    if (n == 0) {
      tcp_info info{};
      socklen_t length = sizeof info;
      ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length);
      got.reset = info.tcpi_state == TCP_CLOSE;
      break;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      got.reset = errno == ECONNRESET;
      break;
    }
    got.bytes.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "connect";
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// A loopback server whose connections `serve` handles one after another on a thread of its own.
class Target {
 public:
  Target(std::function<void(int)> serve, int connections = 1) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 8);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, serve, connections] {
      for (int i = 0; i < connections; ++i) {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        serve(fd);
        ::close(fd);
      }
    });
  }
  ~Target() {
    thread_.join();
    ::close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  int listener_;
  uint16_t port_;
  std::thread thread_;
};

RelayOptions To(uint16_t port) {
  RelayOptions options;
  options.target_port = port;
  return options;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct ProfileCase {
  const char* name;
  LinkProfile up, down;
  size_t bytes;
};

class LinkRelayProfileTest : public ::testing::TestWithParam<ProfileCase> {};

// An upload answered by one byte, a download asked for by one, and small round trips: none may
// beat the link (serialisation plus both delays), none may take much longer.
TEST_P(LinkRelayProfileTest, TakesTheTimeOfItsLink) {
  const ProfileCase& row = GetParam();
  const std::string payload = Pattern(row.bytes);
  const auto serialise = [](const LinkProfile& link, size_t bytes) {
    return link.rate_bps > 0 ? static_cast<double>(bytes) * 8 / static_cast<double>(link.rate_bps)
                             : 0.0;
  };
  const double round_trip = Seconds(row.up.delay + row.down.delay);
  const double upload = serialise(row.up, row.bytes) + round_trip;
  const double download = serialise(row.down, row.bytes) + round_trip;
  constexpr int kPings = 5;

  std::string uploaded;
  Target target(
      [&](int fd) {
        uploaded = ReadToEnd(fd, row.bytes).bytes;
        SendAll(fd, "k");
        ReadToEnd(fd, 1);
        SendAll(fd, payload);
        for (int i = 0; i < kPings; ++i) SendAll(fd, ReadToEnd(fd, 1).bytes);
      },
      1);
  RelayOptions options = To(target.port());
  options.up = row.up;
  options.down = row.down;
  LinkRelay relay(options);
  const int fd = Connect(relay.port());

  auto start = Clock::now();
  SendAll(fd, payload);
  EXPECT_EQ(ReadToEnd(fd, 1).bytes, "k");
  const double upload_took = Seconds(Clock::now() - start);
  start = Clock::now();
  SendAll(fd, "g");
  EXPECT_TRUE(ReadToEnd(fd, row.bytes).bytes == payload) << "download corrupted";
  const double download_took = Seconds(Clock::now() - start);
  start = Clock::now();
  for (int i = 0; i < kPings; ++i) {
    SendAll(fd, "p");
    ReadToEnd(fd, 1);
  }
  const double pings_took = Seconds(Clock::now() - start);
  ::close(fd);
  relay.Stop();  // the counters move just after the bytes

  EXPECT_TRUE(uploaded == payload) << "upload corrupted";
  EXPECT_GE(upload_took, 0.99 * upload);
  EXPECT_LE(upload_took, 2 * upload + 1.5);
  EXPECT_GE(download_took, 0.99 * download);
  EXPECT_LE(download_took, 2 * download + 1.5);
  EXPECT_GE(pings_took, 0.99 * kPings * round_trip);
  EXPECT_LE(pings_took, 2 * kPings * round_trip + 1.5);
  const RelayStats stats = relay.Stats();
  EXPECT_EQ(stats.forwarded_to_server, row.bytes + 1 + kPings);  // "g" and the pings
  EXPECT_EQ(stats.forwarded_to_client, row.bytes + 1 + kPings);  // "k" and the echoes
}

LinkProfile Link(std::chrono::microseconds delay, uint64_t rate) {
  LinkProfile link;
  link.delay = delay;
  link.rate_bps = rate;
  return link;
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, LinkRelayProfileTest,
    ::testing::Values(
        ProfileCase{"RateOnly", Link(0ms, 40'000'000), Link(0ms, 40'000'000), 3 << 20},
        ProfileCase{"DelayOnly", Link(40ms, 0), Link(40ms, 0), 3 << 20},
        ProfileCase{"Rtt20ms100Mbit", Link(10ms, 100'000'000), Link(10ms, 100'000'000), 4 << 20},
        ProfileCase{"Asymmetric", Link(50ms, 20'000'000), Link(30ms, 80'000'000), 2 << 20}),
    [](const auto& info) { return std::string(info.param.name); });

// A receiver that stops reading stops the sender: the relay holds no more than its queue, and
// every byte arrives once the receiver reads again.
TEST(LinkRelayTest, QueueStaysBoundedWhenTheReceiverStalls) {
  std::atomic<bool> stalled{true};
  std::string received;
  std::optional<Target> target;
  target.emplace([&](int fd) {
    while (stalled) std::this_thread::sleep_for(5ms);
    received = ReadToEnd(fd).bytes;
  });
  RelayOptions options = To(target->port());
  options.up = Link(10ms, 8'000'000);
  LinkRelay relay(options);
  const size_t queue_limit = 10'000 + options.up.queue_margin;

  const int fd = Connect(relay.port());
  const std::string payload = Pattern(32 << 20);
  size_t sent = 0;
  for (;;) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 300) == 0) break;  // blocked for good
    const ssize_t n =
        ::send(fd, payload.data() + sent, std::min<size_t>(65536, payload.size() - sent),
               MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) sent += static_cast<size_t>(n);
    if (sent == payload.size()) break;
  }
  const RelayStats during = relay.Stats();
  EXPECT_LT(sent, 8u << 20) << "nothing held the sender back";
  EXPECT_LE(during.received_from_client - during.forwarded_to_server, queue_limit);

  stalled = false;
  ::shutdown(fd, SHUT_WR);
  ReadToEnd(fd);
  ::close(fd);
  target.reset();  // joins it, once it has read everything
  EXPECT_TRUE(received == payload.substr(0, sent));
}

struct CutCase {
  const char* name;
  CutFault fault;
  CutStyle style;
  size_t through;  // bytes of the cut direction that arrive
  bool trickle;    // the client writes in pieces of 7 bytes
};

// The stream both sides send: four frames.
const std::vector<std::string>& Frames() {
  static const std::vector<std::string> frames = {
      Frame("hello" + Pattern(15, 1)), Frame("CheckServerStatus" + Pattern(13, 2)),
      Frame(Pattern(40, 3) + "Protocolate" + Pattern(249, 4)), Frame(Pattern(500, 5))};
  return frames;
}
std::string Stream() {
  std::string all;
  for (const std::string& frame : Frames()) all += frame;
  return all;
}
size_t FramesSize(size_t count) {
  size_t size = 0;
  for (size_t i = 0; i < count; ++i) size += Frames()[i].size();
  return size;
}

CutFault Fault(Direction direction, CutFault::Trigger trigger, uint64_t count,
               std::string method = "") {
  CutFault fault;
  fault.direction = direction;
  fault.trigger = trigger;
  fault.count = count;
  fault.method = std::move(method);
  return fault;
}

class LinkRelayCutTest : public ::testing::TestWithParam<CutCase> {};

// Both sides send the stream; the cut direction's receiver gets exactly the bytes up to the cut,
// then both sides see the end the style promises.
TEST_P(LinkRelayCutTest, CutsExactlyThere) {
  const CutCase& row = GetParam();
  const std::string stream = Stream();
  Received at_server;
  std::optional<Target> target;
  target.emplace([&](int fd) {
    SendAll(fd, stream);
    at_server = ReadToEnd(fd);
  });
  RelayOptions options = To(target->port());
  options.faults = {row.fault};
  options.cut_style = row.style;
  LinkRelay relay(options);

  const int fd = Connect(relay.port());
  bool sent = true;
  if (row.trickle) {
    for (size_t i = 0; i < stream.size() && sent; i += 7) {
      sent = SendAll(fd, std::string_view(stream).substr(i, 7));
      std::this_thread::sleep_for(1ms);
    }
  } else {
    sent = SendAll(fd, stream);
  }
  Received at_client = ReadToEnd(fd);
  at_client.reset |= !sent;
  ::close(fd);
  target.reset();

  // The receiver of the cut direction has sent all it had by then, so no later byte of its own
  // can draw a reset from the closed relay.
  const Received& cut = row.fault.direction == Direction::kUp ? at_server : at_client;
  EXPECT_TRUE(cut.bytes == stream.substr(0, row.through))
      << cut.bytes.size() << " bytes arrived, " << row.through << " expected";
  EXPECT_EQ(cut.reset, row.style == CutStyle::kReset);
  EXPECT_EQ(relay.Stats().cuts, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, LinkRelayCutTest,
    ::testing::Values(CutCase{"UpBytesReset", Fault(Direction::kUp, CutFault::Trigger::kBytes, 100),
                              CutStyle::kReset, 100, false},
                      CutCase{"UpBytesClose", Fault(Direction::kUp, CutFault::Trigger::kBytes, 100),
                              CutStyle::kClose, 100, false},
                      CutCase{"DownBytes", Fault(Direction::kDown, CutFault::Trigger::kBytes, 333),
                              CutStyle::kReset, 333, false},
                      CutCase{"UpFrames", Fault(Direction::kUp, CutFault::Trigger::kFrames, 2),
                              CutStyle::kClose, FramesSize(2), false},
                      CutCase{"DownFramesTrickled",
                              Fault(Direction::kDown, CutFault::Trigger::kFrames, 3),
                              CutStyle::kReset, FramesSize(3), true},
                      CutCase{"UpMethod",
                              Fault(Direction::kUp, CutFault::Trigger::kMethod, 0, "Protocolate"),
                              CutStyle::kReset, FramesSize(3), false},
                      CutCase{"UpMethodSplitBetweenReads",
                              Fault(Direction::kUp, CutFault::Trigger::kMethod, 0, "Protocolate"),
                              CutStyle::kClose, FramesSize(3), true}),
    [](const auto& info) { return std::string(info.param.name); });

struct ScopeCase {
  const char* name;
  uint64_t skip, connections;
  std::vector<bool> cut;  // per connection, in order
};

class LinkRelayScopeTest : public ::testing::TestWithParam<ScopeCase> {};

TEST_P(LinkRelayScopeTest, CutsTheConnectionsChosen) {
  const ScopeCase& row = GetParam();
  const std::string payload = Pattern(5000);
  std::vector<size_t> arrived;
  std::optional<Target> target;
  target.emplace([&](int fd) { arrived.push_back(ReadToEnd(fd).bytes.size()); },
                 static_cast<int>(row.cut.size()));
  LinkRelay relay(To(target->port()));
  CutFault fault = Fault(Direction::kUp, CutFault::Trigger::kBytes, 1000);
  fault.skip_connections = row.skip;
  fault.connections = row.connections;
  relay.SetFaults({fault});
  for (size_t i = 0; i < row.cut.size(); ++i) {
    const int fd = Connect(relay.port());
    SendAll(fd, payload);
    ::shutdown(fd, SHUT_WR);
    ReadToEnd(fd);
    ::close(fd);
  }
  target.reset();
  ASSERT_EQ(arrived.size(), row.cut.size());
  for (size_t i = 0; i < row.cut.size(); ++i)
    EXPECT_EQ(arrived[i], row.cut[i] ? 1000u : payload.size()) << "connection " << i;
  EXPECT_EQ(relay.Stats().connections, row.cut.size());
  EXPECT_EQ(relay.Stats().cuts,
            static_cast<uint64_t>(std::count(row.cut.begin(), row.cut.end(), true)));
}

INSTANTIATE_TEST_SUITE_P(Scopes, LinkRelayScopeTest,
                         ::testing::Values(ScopeCase{"Every", 0, 0, {true, true, true}},
                                           ScopeCase{"FirstOne", 0, 1, {true, false, false}},
                                           ScopeCase{"SecondOnly", 1, 1, {false, true, false}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A cut on command ends the connections open now, counted with the faults' cuts; later ones go
// through.
TEST(LinkRelayTest, CutNowEndsOpenConnectionsOnly) {
  std::vector<Received> at_server;
  std::optional<Target> target;
  target.emplace([&](int fd) { at_server.push_back(ReadToEnd(fd)); }, 2);
  LinkRelay relay(To(target->port()));
  int fd = Connect(relay.port());
  SendAll(fd, "before");
  while (relay.Stats().forwarded_to_server < 6) std::this_thread::sleep_for(1ms);
  relay.CutNow();
  EXPECT_TRUE(ReadToEnd(fd).reset);
  ::close(fd);
  fd = Connect(relay.port());
  SendAll(fd, "after");
  ::shutdown(fd, SHUT_WR);
  ReadToEnd(fd);
  ::close(fd);
  target.reset();
  ASSERT_EQ(at_server.size(), 2u);
  EXPECT_EQ(at_server[0].bytes, "before");
  EXPECT_TRUE(at_server[0].reset);
  EXPECT_EQ(at_server[1].bytes, "after");
  EXPECT_FALSE(at_server[1].reset);
  EXPECT_EQ(relay.Stats().cuts, 1u);
}

// A stalled link forwards the matching frame and then nothing, in either direction, while both
// connections stay open; it ends when the relay is cut on command.
TEST(LinkRelayTest, StallKeepsBothSidesOpenAndSilent) {
  const std::string stream = Stream();
  Received at_server;
  std::optional<Target> target;
  target.emplace([&](int fd) { at_server = ReadToEnd(fd); });
  RelayOptions options = To(target->port());
  options.faults = {Fault(Direction::kUp, CutFault::Trigger::kMethod, 0, "Protocolate")};
  options.cut_style = CutStyle::kStall;
  LinkRelay relay(options);
  const int fd = Connect(relay.port());
  ASSERT_TRUE(SendAll(fd, stream));
  pollfd wait{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&wait, 1, 300), 0) << "the client heard something from a stalled link";
  relay.CutNow();
  EXPECT_TRUE(ReadToEnd(fd).reset);
  ::close(fd);
  target.reset();
  EXPECT_TRUE(at_server.bytes == stream.substr(0, FramesSize(3)));
}

}  // namespace
}  // namespace vorncom::testing

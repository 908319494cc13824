// The packet window against simulated links: it must settle near twice the bandwidth-delay
// product whatever it starts from, within its bounds.
#include "transfer/packet_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

namespace vorncom::transfer {
namespace {

using namespace std::chrono_literals;
using Clock = PacketWindow::Clock;

// Runs a full pipeline over a link of `bytes_per_second` and `round_trip` for `duration` of
// simulated time; each reply arrives a round trip after its request, no sooner than the link
// can carry the packets before it, plus the `service` time the two ends spend on it.
int64_t SettledWindow(int32_t packet_size, double bytes_per_second,
                      std::chrono::nanoseconds round_trip, std::chrono::nanoseconds hello,
                      std::chrono::seconds duration, std::chrono::nanoseconds service) {
  PacketWindow window(packet_size, 2, hello);
  const auto per_packet =
      std::chrono::nanoseconds(static_cast<int64_t>(packet_size / bytes_per_second * 1e9));
  const Clock::time_point start{};
  Clock::time_point now = start, link_free = start;
  std::deque<Clock::time_point> replies;
  while (now - start < duration) {
    while (replies.size() < window.Limit()) {
      window.Posted(now);
      link_free = std::max(link_free, now) + per_packet;
      replies.push_back(std::max(now + round_trip, link_free) + service);
    }
    now = replies.front();
    replies.pop_front();
    window.Acknowledged(packet_size, now);
  }
  return window.WindowBytes();
}

TEST(PacketWindowTest, SettlesNearTwiceTheBandwidthDelayProduct) {
  const struct {
    const char* link;
    double bytes_per_second;
    std::chrono::nanoseconds round_trip;
    std::chrono::nanoseconds hello;  // zero: measured from the calls
    int64_t low, high;
    int32_t packet_size = 4096;
    std::chrono::nanoseconds service{};
  } cases[] = {
      {"fast, near", 100e6, 2ms, 2ms, 300'000, 440'000},
      // A window of a few large packets must still grow past its start.
      {"large packets, slow ends", 12.5e6, 20ms, 20ms, 400'000, 1'000'000, 65536, 8ms},
      {"fast, far", 100e6, 100ms, 100ms, 16'000'000, 22'000'000},
      {"slow, far", 1e6, 300ms, 300ms, 480'000, 680'000},
      {"round trip unknown", 10e6, 20ms, 0ms, 300'000, 500'000},
      {"beyond the cap", 1e9, 200ms, 200ms, PacketWindow::kMaxBytes, PacketWindow::kMaxBytes},
      {"below two packets", 100e3, 1ms, 1ms, 8192, 8192},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link);
    const int64_t bytes =
        SettledWindow(c.packet_size, c.bytes_per_second, c.round_trip, c.hello, 30s, c.service);
    EXPECT_GE(bytes, c.low);
    EXPECT_LE(bytes, c.high);
  }
}

TEST(PacketWindowTest, VersionOneKeepsOneCallAndHugePacketsKeepTwo) {
  EXPECT_EQ(PacketWindow(4096, 1, 10ms).Limit(), 1u);
  EXPECT_EQ(PacketWindow(PacketWindow::kMaxBytes, 2, 10ms).Limit(), 2u);
}

}  // namespace
}  // namespace vorncom::transfer

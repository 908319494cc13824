#include "transfer/packet_window.h"

#include <algorithm>

namespace vorncom::transfer {
namespace {

// A rate measured over less than this is mostly the noise of the clock and of the event loop.
constexpr std::chrono::milliseconds kShortestSample{5};

}  // namespace

PacketWindow::PacketWindow(int32_t packet_size, int protocol_version,
                           std::chrono::nanoseconds round_trip)
    : packet_size_(std::max<int64_t>(packet_size, 1)),
      pipelined_(protocol_version >= 2),
      hello_round_trip_(round_trip),
      window_bytes_(std::max(kStartBytes, 2 * packet_size_)) {}

size_t PacketWindow::Limit() const {
  if (!pipelined_) return 1;
  // Rounded up: a window that rounded down to the calls already in flight could never show the
  // link carrying more, and would stay where it is.
  const int64_t bytes = std::min(window_bytes_, kMaxBytes);
  const int64_t packets = (bytes + packet_size_ - 1) / packet_size_;
  return static_cast<size_t>(std::max<int64_t>(packets, 2));
}

void PacketWindow::Posted(Clock::time_point now) {
  if (in_flight_.empty() && sample_bytes_ == 0) sample_start_ = now;
  in_flight_.push_back(now);
}

std::chrono::nanoseconds PacketWindow::RoundTrip() const {
  // The hello's round trip leaves out what the two ends spend on a packet call; the quickest
  // call seen includes it.
  if (quickest_call_ == std::chrono::nanoseconds::max()) return hello_round_trip_;
  return std::max(hello_round_trip_, quickest_call_);
}

void PacketWindow::Acknowledged(int64_t bytes, Clock::time_point now) {
  if (!in_flight_.empty()) {
    quickest_call_ =
        std::min(quickest_call_,
                 std::chrono::duration_cast<std::chrono::nanoseconds>(now - in_flight_.front()));
    in_flight_.pop_front();
  }
  sample_bytes_ += bytes;
  const auto elapsed = now - sample_start_;
  if (elapsed < std::max<std::chrono::nanoseconds>(RoundTrip(), kShortestSample)) return;
  Resize(static_cast<double>(sample_bytes_) / std::chrono::duration<double>(elapsed).count());
  sample_start_ = now;
  sample_bytes_ = 0;
}

void PacketWindow::Resize(double bytes_per_second) {
  const double round_trip = std::chrono::duration<double>(RoundTrip()).count();
  const double wanted = 2.0 * bytes_per_second * round_trip;
  const double lowest = static_cast<double>(2 * packet_size_);
  const double highest = static_cast<double>(std::max(kMaxBytes, 2 * packet_size_));
  // One slow sample (the event loop, a busy disk) must not collapse the window: it shrinks by at
  // most a quarter each time.
  const double floor = 0.75 * static_cast<double>(window_bytes_);
  const double next = std::clamp(std::max(wanted, floor), lowest, highest);
  window_bytes_ = static_cast<int64_t>(next);
}

}  // namespace vorncom::transfer

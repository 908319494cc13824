#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace vorncom::transfer {

// How many packet calls to keep in flight on one connection: twice the link's bandwidth-delay
// product of packet bytes, at least two packets and at most kMaxBytes. It starts small and grows
// as acknowledgements show the link's rate (the rate a window allows is at most the window per
// round trip, so the estimate can at most double each round trip), so it converges on a slow
// link as on a fast one. A version-1 server gets a window of one call.
class PacketWindow {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr int64_t kMaxBytes = int64_t{32} << 20;
  static constexpr int64_t kStartBytes = int64_t{64} << 10;

  // `round_trip` is the session's hello round trip, zero when unknown; the quickest packet call
  // seen stands in for it when it took longer.
  PacketWindow(int32_t packet_size, int protocol_version, std::chrono::nanoseconds round_trip);

  // The most calls to have in flight now.
  size_t Limit() const;
  // A packet call was posted at `now`.
  void Posted(Clock::time_point now);
  // The oldest posted call was answered at `now`, acknowledging `bytes`.
  void Acknowledged(int64_t bytes, Clock::time_point now);
  // Forgets the calls in flight (the connection carrying them is gone); keeps what was learnt
  // of the link.
  void Reset() { in_flight_.clear(); }

  int64_t WindowBytes() const { return window_bytes_; }

 private:
  std::chrono::nanoseconds RoundTrip() const;
  void Resize(double bytes_per_second);

  int64_t packet_size_;
  bool pipelined_;
  std::chrono::nanoseconds hello_round_trip_;
  std::chrono::nanoseconds quickest_call_ = std::chrono::nanoseconds::max();
  int64_t window_bytes_;
  std::deque<Clock::time_point> in_flight_;  // post times, oldest first
  // The sample the rate is measured over.
  Clock::time_point sample_start_{};
  int64_t sample_bytes_ = 0;
};

}  // namespace vorncom::transfer

#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorncom::testing {

// A TCP relay on 127.0.0.1 that stands for a slow, long or broken link between a client and a
// server: every accepted connection is joined to a new connection to the target, and the bytes of
// each direction go through a link of their own (one-way delay, serialisation rate, bounded
// queue). The TCP handshake itself is not delayed; the link starts with the first byte.
//
// The queue behaves as a router's: the relay reads from a side only while it holds fewer than
// delay × rate + queue_margin bytes of that direction, so the sender meets TCP back-pressure and
// the relay's memory stays bounded. Its sockets have fixed 256 KiB buffers, so the kernel adds no
// unbounded queue of its own either.

// kUp: from the accepted (client) side to the target (server) side; kDown: back.
enum class Direction { kUp, kDown };

struct LinkProfile {
  std::chrono::microseconds delay{0};  // one way, added to every byte
  uint64_t rate_bps = 0;               // serialisation rate in bits per second; 0: no limit
  // Queued bytes allowed beyond delay × rate. A delay without a rate has an 8 MiB bandwidth-delay
  // product.
  size_t queue_margin = 64 * 1024;
};

// How a cut ends both connections. kReset: an abortive close (RST) once the bytes forwarded so
// far have left the relay; peers see ECONNRESET (or, behind bytes they have not read, an end of
// stream on a socket already closed). kClose: an orderly close (FIN) after them; the relay then
// drops what the peers still send until they close too, for a second at most, and resets them
// after that.
// kStall: nothing more is forwarded either way, and both connections stay open, silent, until a
// peer closes or the relay stops: a link that died without a word, as a host waiting for a reply
// meets it before its timeout.
enum class CutStyle { kReset, kClose, kStall };

// A fault cuts a connection (both sides) right after the byte that makes it true has been
// forwarded. Counters are per connection, so a fault for every connection cuts each new
// connection again once it has moved `count` bytes or frames ("cut every 8 MiB").
struct CutFault {
  enum class Trigger {
    kBytes,   // after `count` bytes of `direction`
    kFrames,  // after the `count`-th frame of `direction` (plain TCP: 4-byte big-endian length +
              // body; under TLS the frames are not visible)
    kMethod,  // after the first frame of `direction` whose body contains the bytes of `method`
  };
  Direction direction = Direction::kUp;
  Trigger trigger = Trigger::kBytes;
  uint64_t count = 0;
  std::string method;
  // Of the connections accepted after the fault was set: the first `skip_connections` are left
  // alone, then `connections` of them are cut (0: every one).
  uint64_t skip_connections = 0;
  uint64_t connections = 0;
};

struct RelayOptions {
  std::string target_host = "127.0.0.1";
  uint16_t target_port = 0;
  uint16_t listen_port = 0;  // 0: a free port
  LinkProfile up, down;
  CutStyle cut_style = CutStyle::kReset;
  std::vector<CutFault> faults;
};

struct RelayStats {
  uint64_t connections = 0;  // accepted
  uint64_t received_from_client = 0, forwarded_to_server = 0;
  uint64_t received_from_server = 0, forwarded_to_client = 0;
  uint64_t cuts = 0;  // by faults and CutNow
  RelayStats& operator+=(const RelayStats& other);
  // One line of JSON, without a line break.
  std::string ToJson() const;
};

class LinkRelay {
 public:
  // Listening when it returns. Throws std::system_error when it cannot listen or the target
  // does not resolve.
  explicit LinkRelay(RelayOptions options);
  ~LinkRelay();
  LinkRelay(const LinkRelay&) = delete;
  LinkRelay& operator=(const LinkRelay&) = delete;

  uint16_t port() const { return port_; }
  RelayStats Stats() const;
  // Replaces the faults for connections accepted from now on; open connections keep theirs.
  void SetFaults(std::vector<CutFault> faults);
  // Cuts every open connection now, in the configured style.
  void CutNow();
  // Stops listening and closes every connection (in the configured style). Idempotent.
  void Stop();

  struct Shared;
  class Connection;

 private:
  void AcceptLoop();

  std::shared_ptr<Shared> shared_;
  uint16_t port_ = 0;
  int listener_ = -1;
  int wake_ = -1;  // eventfd that ends AcceptLoop
  std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::thread acceptor_;
  bool stopped_ = false;
};

}  // namespace vorncom::testing

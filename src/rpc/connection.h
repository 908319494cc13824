#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/variant.h"
#include "rpc/errors.h"
#include "rpc/transport.h"
#include "rpc/transport_policy.h"
#include "rpc/wire.h"

namespace vorncom::rpc {

class Broker;

struct ConnectionOptions {
  std::chrono::milliseconds connect_timeout{10'000};
  // Each send and each wait for a reply must finish within this time.
  std::chrono::milliseconds io_timeout{60'000};
  size_t max_frame = wire::kDefaultMaxFrame;
  // TLS unless turned off here; the library fills it from LoadTransportPolicy().
  TransportPolicy transport;
  // The protocol version the hello offers (1 or 2); the server's answer may lower it.
  uint32_t highest_version = wire::kHighestProtocolVersion;
};

// One TCP connection to a reception server's remote object, carrying late-bound calls by method
// name, over TLS from the first byte unless the options' policy turns it off. Blocking; not
// thread-safe. In version 2 calls may be posted without waiting for their replies, which are then
// collected in the order posted. Any transport or protocol failure closes the connection before
// the exception leaves.
class Connection {
 public:
  // `object_guid` and `object_name` name the remote object the server must serve.
  Connection(std::string object_guid, std::string object_name, ConnectionOptions options = {});
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Endpoint. A numeric address wins over a host name when both are set. Setting them while
  // connected takes effect at the next Open.
  void SetAddress(std::string address) { address_ = std::move(address); }
  void SetHost(std::string host) { host_ = std::move(host); }
  void SetPort(int32_t port) { port_ = port; }
  const std::string& Address() const { return address_; }
  const std::string& Host() const { return host_; }
  int32_t Port() const { return port_; }

  // With a broker attached, Open asks it for a server and takes that server's name (as numeric
  // address or host name) and port as its endpoint. The broker must outlive its use here.
  void SetBroker(Broker* broker) { broker_ = broker; }
  Broker* GetBroker() const { return broker_; }

  // Connects, secures the stream and exchanges the hello frames, offering the highest version
  // of the options. A server that refuses the offer of version 2 before any call is taken for a
  // version-1 server: Open connects again offering 1, and every later Open of this process
  // offers 1 to that endpoint at once. Throws ENoServerAvailable, EConnectionError,
  // ESecureConnectionError (the channel could not be secured, or the peer speaks TLS where the
  // policy has it off), ETimeoutError or EWireError (also for an answer above the offer). Does
  // nothing when already connected.
  void Open();
  void Close();
  bool Connected() const { return transport_ != nullptr; }
  // The secure protocol of the open connection ("TLSv1.3"), empty for plain TCP or when closed.
  std::string SecureProtocol() const { return transport_ ? transport_->Protocol() : ""; }
  // The protocol version the connection speaks, kept after it closed; 0 before the first Open.
  uint32_t ProtocolVersion() const { return version_; }
  // From the hello sent to its answer received: the link's round trip as Open saw it.
  std::chrono::nanoseconds RoundTrip() const { return round_trip_; }

  // The largest packet size a transfer over this connection can use: a data packet call then
  // fits in one frame each way.
  size_t MaxPacketSize() const {
    return options_.max_frame > wire::kPacketCallOverhead
               ? options_.max_frame - wire::kPacketCallOverhead
               : 0;
  }

  // Calls `method` with `args`. Values the server writes back replace the matching arguments.
  // Returns the call's result. Throws EServerError when the server reports a failure (the
  // connection stays open), and the transport exceptions of Open otherwise. Nothing may be
  // posted and not collected (std::logic_error).
  Variant Call(std::string_view method, std::vector<Variant>& args);

  // Sends the request `method(args)` without waiting for its reply and returns its sequence
  // number; the arguments are read only until Post returns. While the request cannot be sent,
  // replies of earlier posts are read ahead into the connection's buffer, so that a server
  // blocked on writing them goes on reading. Version 2 servers only; the transport exceptions of
  // Open, and EWireError for a request above the frame limit (nothing is then sent).
  uint32_t Post(std::string_view method, std::span<const Variant> args);
  uint32_t Post(std::string_view method, std::span<const Variant* const> args);
  // Waits for the reply of the call `seq`, which must be the oldest posted and not collected
  // (std::logic_error otherwise). `args` holds as many arguments as the request did; values the
  // server wrote back replace them. Returns the result, or throws as Call does: an error frame
  // is the call's EServerError and leaves the connection usable.
  Variant Collect(uint32_t seq, std::span<Variant> args);
  // Calls posted and not collected.
  size_t Posted() const { return in_flight_.size(); }

 private:
  void ConnectTo(const std::string& node, bool numeric);
  // Sends the hello offering `offer` and checks the answer. False when the server refused an
  // offer above 1 (the connection is then closed).
  bool Greet(uint32_t offer);
  // Sends the request encoded in out_ under next_seq_ and counts it as posted.
  uint32_t SendRequest();
  // Writes out_, whose spliced bytes are read from where the encoder found them.
  void SendEncoded();
  // Waits until the transport can go on with a send that asked for `wait`, reading replies of
  // posted calls meanwhile.
  void AwaitSend(Transport::Wait wait, std::chrono::steady_clock::time_point deadline);
  // Reads what the transport has now into the read buffer, within the read-ahead limit. The
  // event the transport waits for when it has nothing.
  Transport::Wait ReadAhead();
  size_t ReadAheadLimit() const;
  wire::Frame ReceiveFrame();
  // Reads what the socket has (at least one byte) into the free end of the read buffer.
  void Fill(std::chrono::steady_clock::time_point deadline);
  // Moves the unread bytes to the front and makes room for `capacity` bytes.
  void Compact(size_t capacity);
  [[noreturn]] void Broken(const std::string& what);
  [[noreturn]] void TimedOut(const std::string& what);
  std::string Endpoint() const;

  std::string object_guid_;
  std::string object_name_;
  ConnectionOptions options_;
  std::string address_;
  std::string host_;
  int32_t port_ = 0;
  Broker* broker_ = nullptr;
  std::unique_ptr<Transport> transport_;
  uint32_t version_ = 0;
  std::chrono::nanoseconds round_trip_{0};
  uint32_t next_seq_ = 1;
  std::deque<size_t> in_flight_;  // frame sizes of the calls posted and not collected, oldest first
  size_t in_flight_bytes_ = 0;    // their sum
  wire::GatheredFrame out_;       // the frame being sent; its buffer is kept between calls
  static constexpr size_t kReadBuffer = 64 << 10;
  std::vector<uint8_t> in_;  // received bytes; [in_begin_, in_end_) not yet decoded
  size_t in_begin_ = 0;
  size_t in_end_ = 0;
};

// Sets the connection's endpoint from a server text the way the transfer window does: a text
// starting with a digit is a numeric address, one starting with a letter a host name, anything
// else neither; the port is always set. Throws EConnectionError on an empty text.
void SetConnectionEndpoint(Connection& connection, const std::string& server, int32_t port);

}  // namespace vorncom::rpc

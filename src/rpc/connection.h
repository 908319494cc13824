#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
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
};

// One TCP connection to a reception server's remote object, carrying late-bound calls by method
// name, over TLS from the first byte unless the options' policy turns it off. Blocking; one call
// at a time; not thread-safe. Any transport or protocol failure closes the connection before the
// exception leaves.
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

  // Connects, secures the stream and exchanges the hello frames. Throws ENoServerAvailable,
  // EConnectionError, ESecureConnectionError (the channel could not be secured, or the peer
  // speaks TLS where the policy has it off), ETimeoutError or EWireError. Does nothing when
  // already connected.
  void Open();
  void Close();
  bool Connected() const { return transport_ != nullptr; }
  // The secure protocol of the open connection ("TLSv1.3"), empty for plain TCP or when closed.
  std::string SecureProtocol() const { return transport_ ? transport_->Protocol() : ""; }

  // The largest packet size a transfer over this connection can use: a data packet call then
  // fits in one frame each way.
  size_t MaxPacketSize() const {
    return options_.max_frame > wire::kPacketCallOverhead
               ? options_.max_frame - wire::kPacketCallOverhead
               : 0;
  }

  // Calls `method` with `args`. Values the server writes back replace the matching arguments.
  // Returns the call's result. Throws EServerError when the server reports a failure (the
  // connection stays open), and the transport exceptions of Open otherwise.
  Variant Call(std::string_view method, std::vector<Variant>& args);

 private:
  void ConnectTo(const std::string& node, bool numeric);
  // Writes out_, whose spliced bytes are read from where the encoder found them.
  void SendEncoded();
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
  uint32_t next_seq_ = 1;
  wire::GatheredFrame out_;  // the frame being sent; its buffer is kept between calls
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

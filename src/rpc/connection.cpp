#include "rpc/connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>

#include "common/messages.h"
#include "rpc/broker.h"
#include "rpc/http_proxy.h"

namespace vorncom::rpc {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRead = Transport::Wait::kRead;
constexpr auto kWrite = Transport::Wait::kWrite;

std::string SystemError(int err) { return std::strerror(err); }

// Endpoints whose server took only version 1, for the life of the process: connections to them
// skip the refused offer of 2. Shared by every connection of every thread.
class VersionOneEndpoints {
 public:
  bool Contains(const std::string& endpoint) {
    std::lock_guard lock(mutex_);
    return endpoints_.contains(endpoint);
  }
  void Add(const std::string& endpoint) {
    std::lock_guard lock(mutex_);
    endpoints_.insert(endpoint);
  }

 private:
  std::mutex mutex_;
  std::set<std::string> endpoints_;
};

VersionOneEndpoints& SpeakVersionOne() {
  static VersionOneEndpoints endpoints;
  return endpoints;
}

}  // namespace

Connection::Connection(std::string object_guid, std::string object_name, ConnectionOptions options)
    : object_guid_(std::move(object_guid)),
      object_name_(std::move(object_name)),
      options_(options) {}

Connection::~Connection() { Close(); }

std::string Connection::Endpoint() const {
  return (address_.empty() ? host_ : address_) + ":" + std::to_string(port_);
}

void Connection::Close() {
  transport_.reset();
  in_begin_ = in_end_ = 0;
  in_flight_.clear();
  in_flight_bytes_ = 0;
}

void Connection::Broken(const std::string& what) {
  Close();
  throw EConnectionError(msg::Format(msg::kCallFailed, {Endpoint(), what}));
}

void Connection::TimedOut(const std::string& what) {
  Close();
  throw ETimeoutError(msg::Format(msg::kCallTimedOut, {what, Endpoint()}));
}

void Connection::Open() {
  if (Connected()) return;
  if (broker_ != nullptr) {
    const ServerItem server = broker_->ChooseServer();
    address_.clear();
    host_.clear();
    SetConnectionEndpoint(*this, server.computer_name, server.port);
  }
  if (address_.empty() && host_.empty()) throw EConnectionError(std::string(msg::kNoServerDefined));
  if (port_ <= 0 || port_ > 65535)
    throw EConnectionError(msg::Format(msg::kInvalidServerPort, {Endpoint()}));
  const bool numeric = !address_.empty();
  const std::string endpoint = Endpoint();
  uint32_t offer = std::clamp<uint32_t>(options_.highest_version, 1, wire::kHighestProtocolVersion);
  if (offer > 1 && SpeakVersionOne().Contains(endpoint)) offer = 1;
  bool fell_back = false;
  for (;;) {
    ConnectTo(numeric ? address_ : host_, numeric);
    if (Greet(offer)) break;
    offer = 1;
    fell_back = true;
  }
  // Only once version 1 was taken: a server that refuses every hello (its session limit, say)
  // is not marked for good.
  if (fell_back) SpeakVersionOne().Add(endpoint);
  next_seq_ = 1;
}

bool Connection::Greet(uint32_t offer) {
  try {
    wire::EncodeFrame(wire::Hello{offer, object_guid_, object_name_}, out_);
    SendEncoded();
    const auto sent = Clock::now();
    wire::Frame answer;
    if (in_.size() >= 2) in_[0] = in_[1] = 0;  // bytes of an earlier connection are no answer
    try {
      answer = ReceiveFrame();
    } catch (const ERemoteCallError&) {
      // A TLS server answers a plain hello with a TLS alert, which reads as an absurd frame
      // length or not at all.
      if (!options_.transport.tls && in_.size() >= 2 && LooksLikeTlsRecord(in_))
        throw ESecureConnectionError(std::string(msg::kTlsServerRequiresTls));
      throw;
    }
    round_trip_ = Clock::now() - sent;
    if (const auto* error = std::get_if<wire::Error>(&answer)) {
      Close();
      if (offer > 1 && error->seq == 0) return false;
      throw EConnectionError(msg::Format(msg::kConnectionRefused, {Endpoint(), error->message}));
    }
    const auto* hello = std::get_if<wire::Hello>(&answer);
    if (hello == nullptr) throw EWireError(std::string(msg::kNoHelloReply));
    if (hello->version < 1 || hello->version > offer)
      throw EWireError(
          msg::Format(msg::kUnsupportedServerVersion, {std::to_string(hello->version)}));
    version_ = hello->version;
  } catch (const EWireError&) {
    Close();
    throw;
  }
  return true;
}

void Connection::ConnectTo(const std::string& node, bool numeric) {
  // The stream over the connected socket `fd`, which it takes over.
  const auto secure = [&](int fd, Clock::time_point deadline) {
    if (!options_.transport.tls) {
      transport_ = MakePlainTransport(fd);
      return;
    }
    transport_ = MakeTlsTransport(fd, options_.transport, node, numeric, deadline);
    if (!transport_) TimedOut(std::string(msg::kTlsHandshakeTimedOut));
  };
  // The proxy resolves the name: a host that must use one often has no name service of its own.
  // TLS runs inside the tunnel, verified against the server's name, never the proxy's.
  if (const std::optional<ProxySettings> proxy = ProxyFor(node)) {
    const auto deadline = Clock::now() + options_.connect_timeout;
    secure(OpenProxyTunnel(*proxy, node, port_, deadline), deadline);
    return;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = numeric ? AI_NUMERICHOST : AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port_);
  const int rc = ::getaddrinfo(node.c_str(), service.c_str(), &hints, &found);
  if (rc != 0)
    throw EConnectionError(msg::Format(msg::kHostNotFound, {Endpoint(), ::gai_strerror(rc)}));
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, ::freeaddrinfo);

  const auto deadline = Clock::now() + options_.connect_timeout;
  std::string last_error(msg::kAddressUnavailable);
  bool timed_out = false;
  for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    const int fd =
        ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      last_error = SystemError(errno);
      continue;
    }
    int err = 0;
    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        if (!WaitForSocket(fd, kWrite, deadline)) {
          ::close(fd);
          timed_out = true;
          break;
        }
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      }
    }
    if (err != 0) {
      last_error = SystemError(err);
      ::close(fd);
      continue;
    }
    // Requests and replies are small and strictly alternating; Nagle would hold each for an ACK.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    secure(fd, deadline);
    return;
  }
  if (timed_out) TimedOut(std::string(msg::kWhileConnecting));
  throw EConnectionError(msg::Format(msg::kConnectFailed, {Endpoint(), last_error}));
}

void Connection::SendEncoded() {
  if (out_.size - wire::kHeaderSize > options_.max_frame)
    throw EWireError(msg::Format(msg::kCallTooLarge, {std::to_string(options_.max_frame)}));
  // One gathered write: the payload goes from the caller's variant to the kernel with no copy
  // in between, and header and body leave together (no wait for an ACK between two writes).
  std::vector<iovec> parts;
  parts.reserve(2 * out_.splices.size() + 1);
  size_t from = 0;
  for (const wire::GatheredFrame::Splice& splice : out_.splices) {
    parts.push_back({out_.buffer.data() + from, splice.at - from});
    parts.push_back({const_cast<uint8_t*>(splice.bytes.data()), splice.bytes.size()});
    from = splice.at;
  }
  parts.push_back({out_.buffer.data() + from, out_.buffer.size() - from});

  const auto deadline = Clock::now() + options_.io_timeout;
  size_t next = 0;  // first part not fully sent
  while (next < parts.size()) {
    Transport::Progress sent;
    try {
      sent = transport_->Send(std::span<const iovec>(
          parts.data() + next, std::min<size_t>(parts.size() - next, IOV_MAX)));
    } catch (const ESecureConnectionError&) {
      Close();
      throw;
    }
    if (sent.error != 0) Broken(SystemError(sent.error));
    if (sent.wait != Transport::Wait::kNone) {
      AwaitSend(sent.wait, deadline);
      continue;
    }
    auto left = sent.bytes;
    while (next < parts.size() && left >= parts[next].iov_len) left -= parts[next++].iov_len;
    if (left > 0) {
      parts[next].iov_base = static_cast<uint8_t*>(parts[next].iov_base) + left;
      parts[next].iov_len -= left;
    }
  }
  out_.splices.clear();  // they point into the caller's arguments
  // A call with many small arguments does not pin a large buffer for the connection.
  if (out_.buffer.capacity() > kReadBuffer) std::vector<uint8_t>().swap(out_.buffer);
}

void Connection::AwaitSend(Transport::Wait wait, Clock::time_point deadline) {
  const short wanted = wait == kWrite ? POLLOUT : POLLIN;
  Transport::Wait reading = kRead;  // what reading ahead waits for
  for (;;) {
    // Replies of posted calls are taken while the request waits: the server answers in turn and
    // stops reading requests while its replies lie unread. Beyond the limit the send only waits.
    const bool read_ahead = !in_flight_.empty() && in_end_ - in_begin_ < ReadAheadLimit();
    if (read_ahead && transport_->HasBuffered()) reading = ReadAhead();
    const short read_event = reading == kWrite ? POLLOUT : POLLIN;
    const short ready =
        PollSocket(transport_->fd(), wanted | (read_ahead ? read_event : 0), deadline);
    if (ready == 0) TimedOut(std::string(msg::kWhileSending));
    if (read_ahead && (ready & read_event) != 0) reading = ReadAhead();
    if ((ready & (wanted | POLLERR | POLLHUP | POLLNVAL)) != 0) return;
  }
}

size_t Connection::ReadAheadLimit() const {
  // What was posted, with room for each reply's own fields: a reply is never much larger than
  // its request (a packet call's reply holds at most the packet it was sent).
  return kReadBuffer + in_flight_bytes_ + in_flight_.size() * wire::kPacketCallOverhead;
}

Transport::Wait Connection::ReadAhead() {
  const size_t budget = ReadAheadLimit();
  for (;;) {
    if (in_.size() < kReadBuffer) in_.resize(kReadBuffer);
    if (in_begin_ > 0 && in_begin_ == in_end_) in_begin_ = in_end_ = 0;
    if (in_end_ == in_.size()) {
      if (in_begin_ > 0) {
        Compact(in_.size());
      } else if (in_.size() < budget) {
        in_.resize(std::min(2 * in_.size(), budget));
      } else {
        return kRead;
      }
    }
    Transport::Progress got;
    try {
      got = transport_->Receive(std::span<uint8_t>(in_.data() + in_end_, in_.size() - in_end_));
    } catch (const ESecureConnectionError&) {
      Close();
      throw;
    }
    if (got.bytes > 0) {
      in_end_ += got.bytes;
      if (in_end_ - in_begin_ >= budget) return kRead;
      continue;
    }
    if (got.closed) Broken(std::string(msg::kClosedByServer));
    if (got.error != 0) Broken(SystemError(got.error));
    return got.wait;
  }
}

void Connection::Fill(std::chrono::steady_clock::time_point deadline) {
  // Waiting first: a reply is hardly ever there the moment the request has gone out, so reading
  // first would cost a failed call each time.
  auto wait = transport_->HasBuffered() ? Transport::Wait::kNone : kRead;
  for (;;) {
    if (wait != Transport::Wait::kNone && !WaitForSocket(transport_->fd(), wait, deadline))
      TimedOut(std::string(msg::kWhileAwaitingReply));
    Transport::Progress got;
    try {
      got = transport_->Receive(std::span<uint8_t>(in_.data() + in_end_, in_.size() - in_end_));
    } catch (const ESecureConnectionError&) {
      Close();
      throw;
    }
    if (got.bytes > 0) {
      in_end_ += got.bytes;
      return;
    }
    if (got.closed) Broken(std::string(msg::kClosedByServer));
    if (got.error != 0) Broken(SystemError(got.error));
    wait = got.wait;
  }
}

wire::Frame Connection::ReceiveFrame() {
  const auto deadline = Clock::now() + options_.io_timeout;
  try {
    if (in_.size() < kReadBuffer) in_.resize(kReadBuffer);
    while (in_end_ - in_begin_ < wire::kHeaderSize) {
      if (in_begin_ > 0 && in_begin_ == in_end_) in_begin_ = in_end_ = 0;
      if (in_end_ == in_.size()) Compact(in_.size());
      Fill(deadline);
    }
    const size_t size = wire::ParseHeader(
        std::span<const uint8_t, wire::kHeaderSize>(in_.data() + in_begin_, wire::kHeaderSize),
        options_.max_frame);
    const size_t need = wire::kHeaderSize + size;
    while (in_end_ - in_begin_ < need) {
      // Room grows with the bytes that arrived, at most doubling, never with what the header
      // announces: a peer that names a large frame and sends little costs little.
      if (in_end_ == in_.size()) Compact(std::min(need, 2 * in_.size()));
      Fill(deadline);
    }
    const std::span<const uint8_t> body(in_.data() + in_begin_ + wire::kHeaderSize, size);
    wire::Frame frame = wire::DecodeBody(body);
    in_begin_ += need;
    if (in_begin_ == in_end_) {
      in_begin_ = in_end_ = 0;
      // A large reply does not pin its buffer for the rest of the connection.
      if (in_.size() > 4 * kReadBuffer && in_flight_.size() <= 1)
        std::vector<uint8_t>(kReadBuffer).swap(in_);
    }
    return frame;
  } catch (const EWireError&) {
    Close();
    throw;
  }
}

void Connection::Compact(size_t capacity) {
  std::copy(in_.begin() + static_cast<ptrdiff_t>(in_begin_),
            in_.begin() + static_cast<ptrdiff_t>(in_end_), in_.begin());
  in_end_ -= in_begin_;
  in_begin_ = 0;
  if (in_.size() < capacity) in_.resize(capacity);
}

Variant Connection::Call(std::string_view method, std::vector<Variant>& args) {
  if (!Connected()) throw EConnectionError(std::string(msg::kConnectionNotOpen));
  if (!in_flight_.empty()) throw std::logic_error("Connection::Call with calls posted");
  const uint32_t seq = Post(method, std::span<const Variant>(args));
  return Collect(seq, args);
}

uint32_t Connection::Post(std::string_view method, std::span<const Variant> args) {
  if (!Connected()) throw EConnectionError(std::string(msg::kConnectionNotOpen));
  wire::EncodeRequest(next_seq_, method, args, out_);
  return SendRequest();
}

uint32_t Connection::Post(std::string_view method, std::span<const Variant* const> args) {
  if (!Connected()) throw EConnectionError(std::string(msg::kConnectionNotOpen));
  wire::EncodeRequest(next_seq_, method, args, out_);
  return SendRequest();
}

uint32_t Connection::SendRequest() {
  const size_t size = out_.size;
  SendEncoded();
  // Not for a call refused before sending: the server counts the calls it gets.
  in_flight_.push_back(size);
  in_flight_bytes_ += size;
  return next_seq_++;
}

Variant Connection::Collect(uint32_t seq, std::span<Variant> args) {
  if (!Connected()) throw EConnectionError(std::string(msg::kConnectionNotOpen));
  if (in_flight_.empty() || seq != next_seq_ - static_cast<uint32_t>(in_flight_.size()))
    throw std::logic_error("Connection::Collect out of the order posted");
  wire::Frame answer = ReceiveFrame();
  in_flight_bytes_ -= in_flight_.front();
  in_flight_.pop_front();
  try {
    if (auto* reply = std::get_if<wire::Reply>(&answer)) {
      if (reply->seq != seq) throw EWireError(std::string(msg::kReplyOutOfSequence));
      for (auto& [index, value] : reply->by_ref) {
        if (index >= args.size()) throw EWireError(std::string(msg::kReplyArgumentInvalid));
        args[index] = std::move(value);
      }
      return std::move(reply->result);
    }
    if (auto* error = std::get_if<wire::Error>(&answer)) {
      if (error->seq != seq) throw EWireError(std::string(msg::kReplyOutOfSequence));
      throw EServerError(error->message);
    }
    throw EWireError(std::string(msg::kUnexpectedFrame));
  } catch (const EWireError&) {
    Close();
    throw;
  }
}

void SetConnectionEndpoint(Connection& connection, const std::string& server, int32_t port) {
  if (server.empty()) throw EConnectionError(std::string(msg::kNoServerDefined));
  const char first = server[0];
  if (first >= '0' && first <= '9') {
    connection.SetAddress(server);
  } else if ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z')) {
    connection.SetHost(server);
  }
  connection.SetPort(port);
}

}  // namespace vorncom::rpc

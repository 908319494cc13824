#include "rpc/connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>

#include "common/messages.h"
#include "rpc/broker.h"
#include "rpc/http_proxy.h"

namespace vorncom::rpc {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRead = Transport::Wait::kRead;
constexpr auto kWrite = Transport::Wait::kWrite;

std::string SystemError(int err) { return std::strerror(err); }

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
  ConnectTo(numeric ? address_ : host_, numeric);

  try {
    wire::EncodeFrame(wire::Hello{wire::kProtocolVersion, object_guid_, object_name_}, out_);
    SendEncoded();
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
    if (const auto* error = std::get_if<wire::Error>(&answer)) {
      Close();
      throw EConnectionError(msg::Format(msg::kConnectionRefused, {Endpoint(), error->message}));
    }
    const auto* hello = std::get_if<wire::Hello>(&answer);
    if (hello == nullptr) throw EWireError(std::string(msg::kNoHelloReply));
    if (hello->version != wire::kProtocolVersion)
      throw EWireError(
          msg::Format(msg::kUnsupportedServerVersion, {std::to_string(hello->version)}));
  } catch (const EWireError&) {
    Close();
    throw;
  }
  next_seq_ = 1;
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
      if (!WaitForSocket(transport_->fd(), sent.wait, deadline))
        TimedOut(std::string(msg::kWhileSending));
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
      if (in_.size() > 4 * kReadBuffer) std::vector<uint8_t>(kReadBuffer).swap(in_);
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
  const uint32_t seq = next_seq_;
  wire::EncodeRequest(seq, method, args, out_);
  SendEncoded();
  ++next_seq_;  // not for a call refused before sending: the server counts the calls it gets
  wire::Frame answer = ReceiveFrame();
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

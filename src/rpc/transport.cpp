#include "rpc/transport.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace vorncom::rpc {

namespace {

using Clock = std::chrono::steady_clock;

class PlainTransport final : public Transport {
 public:
  using Transport::Transport;

  Progress Send(std::span<const iovec> parts) override {
    msghdr message{};
    message.msg_iov = const_cast<iovec*>(parts.data());
    message.msg_iovlen = std::min<size_t>(parts.size(), IOV_MAX);
    for (;;) {
      const ssize_t n = ::sendmsg(fd(), &message, MSG_NOSIGNAL);
      if (n >= 0) return {static_cast<size_t>(n)};
      if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, Wait::kWrite};
      if (errno != EINTR) return {0, Wait::kNone, errno};
    }
  }

  Progress Receive(std::span<uint8_t> into) override {
    for (;;) {
      const ssize_t n = ::recv(fd(), into.data(), into.size(), 0);
      if (n > 0) return {static_cast<size_t>(n)};
      if (n == 0) return {0, Wait::kNone, 0, true};
      if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, Wait::kRead};
      if (errno != EINTR) return {0, Wait::kNone, errno};
    }
  }
};

}  // namespace

Transport::~Transport() { ::close(fd_); }

std::unique_ptr<Transport> MakePlainTransport(int fd) {
  return std::make_unique<PlainTransport>(fd);
}

bool WaitForSocket(int fd, Transport::Wait wait, Clock::time_point deadline) {
  return PollSocket(fd, wait == Transport::Wait::kWrite ? POLLOUT : POLLIN, deadline) != 0;
}

short PollSocket(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int timeout = left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left, INT32_MAX));
    pollfd p{fd, events, 0};
    const int rc = ::poll(&p, 1, timeout);
    if (rc > 0) return p.revents;
    if (rc == 0) return 0;
    if (errno != EINTR) return POLLERR;  // let the following I/O call report the error
  }
}

bool LooksLikeTlsRecord(std::span<const uint8_t> bytes) {
  // Content type alert (21) or handshake (22), then protocol version 3.x.
  return bytes.size() >= 2 && (bytes[0] == 21 || bytes[0] == 22) && bytes[1] == 3;
}

}  // namespace vorncom::rpc

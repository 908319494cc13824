#include "support/link_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <optional>
#include <system_error>

namespace vorncom::testing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSocketBuffer = 256 * 1024;
constexpr size_t kRatedChunk = 16 * 1024;  // 1.3 ms at 100 Mbit/s: bursts stay short
constexpr size_t kFreeChunk = 64 * 1024;
constexpr size_t kDelayOnlyProduct = 8 << 20;

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void SetSocketOptions(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
}

void Wake(int eventfd) {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(eventfd, &one, sizeof one);
}

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

// Where, in one direction's stream, the faults of a connection cut it.
class CutFinder {
 public:
  void Add(const CutFault& fault) {
    switch (fault.trigger) {
      case CutFault::Trigger::kBytes:
        bytes_ = std::min(bytes_, fault.count);
        break;
      case CutFault::Trigger::kFrames:
        frames_ = std::min(frames_, fault.count);
        break;
      case CutFault::Trigger::kMethod:
        if (fault.method.empty()) break;
        methods_.push_back(fault.method);
        longest_ = std::max(longest_, fault.method.size());
        break;
    }
  }
  bool CutsAtStart() const { return bytes_ == 0 || frames_ == 0; }

  // The next `n` bytes of the stream: how many of them go through before the cut, or nothing
  // when no cut falls within them. Call no more once it answered.
  std::optional<size_t> Feed(const uint8_t* data, size_t n) {
    size_t end = n;
    const bool byte_cut = bytes_ != kNever && bytes_ - offset_ <= n;
    if (byte_cut) end = static_cast<size_t>(bytes_ - offset_);
    offset_ += n;
    if (frames_ != kNever || !methods_.empty()) {
      if (const auto frame_end = Frames(data, end)) return frame_end;
    }
    if (byte_cut) return end;
    return std::nullopt;
  }

 private:
  static constexpr uint64_t kNever = UINT64_MAX;

  std::optional<size_t> Frames(const uint8_t* data, size_t n) {
    size_t i = 0;
    while (i < n) {
      if (header_have_ < 4) {
        header_[header_have_++] = data[i++];
        if (header_have_ < 4) continue;
        body_left_ = (uint64_t{header_[0]} << 24) | (uint64_t{header_[1]} << 16) |
                     (uint64_t{header_[2]} << 8) | header_[3];
        if (body_left_ > 0) continue;
      } else {
        const auto take = static_cast<size_t>(std::min<uint64_t>(body_left_, n - i));
        if (!methods_.empty() && !matched_) Search(data + i, take);
        i += take;
        body_left_ -= take;
        if (body_left_ > 0) continue;
      }
      ++frames_seen_;
      header_have_ = 0;
      window_.clear();
      const bool hit = frames_seen_ == frames_ || matched_;
      matched_ = false;
      if (hit) return i;
    }
    return std::nullopt;
  }

  // Keeps the body's last longest_ - 1 bytes, so that a name split between reads is found.
  void Search(const uint8_t* data, size_t n) {
    window_.append(reinterpret_cast<const char*>(data), n);
    for (const std::string& method : methods_)
      if (window_.find(method) != std::string::npos) matched_ = true;
    if (window_.size() >= longest_) window_.erase(0, window_.size() - (longest_ - 1));
  }

  uint64_t bytes_ = kNever, frames_ = kNever;
  std::vector<std::string> methods_;
  size_t longest_ = 0;
  uint64_t offset_ = 0, frames_seen_ = 0;
  uint8_t header_[4] = {};
  size_t header_have_ = 0;
  uint64_t body_left_ = 0;
  std::string window_;
  bool matched_ = false;
};

struct Chunk {
  std::vector<uint8_t> bytes;
  size_t sent = 0;
  Clock::time_point due;
};

// One direction of a connection: the link's queue, from reading a byte to writing it.
struct Pipe {
  Pipe(const LinkProfile& link, std::atomic<uint64_t>& received_count,
       std::atomic<uint64_t>& forwarded_count)
      : profile(link),
        chunk(link.rate_bps > 0 ? kRatedChunk : kFreeChunk),
        received(received_count),
        forwarded(forwarded_count) {
    const auto delay_ns = static_cast<unsigned __int128>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(link.delay).count());
    const size_t product = link.rate_bps > 0
                               ? static_cast<size_t>(delay_ns * link.rate_bps / 8 / 1'000'000'000)
                               : (link.delay.count() > 0 ? kDelayOnlyProduct : 0);
    limit = std::max<size_t>(product + link.queue_margin, 1);
  }

  bool Reading() const { return !source_done && queued < limit; }
  bool Drained() const { return queue.empty(); }

  void Enqueue(std::vector<uint8_t> bytes) {
    const Clock::time_point now = Clock::now();
    const Clock::time_point start = std::max(now, link_free);
    const auto serialisation =
        profile.rate_bps > 0
            ? std::chrono::nanoseconds(static_cast<int64_t>(
                  static_cast<unsigned __int128>(bytes.size()) * 8'000'000'000u / profile.rate_bps))
            : std::chrono::nanoseconds(0);
    link_free = start + serialisation;
    queued += bytes.size();
    queue.push_back(Chunk{std::move(bytes), 0, link_free + profile.delay});
  }

  LinkProfile profile;
  size_t limit = 0;
  size_t chunk;
  std::deque<Chunk> queue;
  size_t queued = 0;
  Clock::time_point link_free{};
  CutFinder finder;
  bool source_done = false;  // end of stream read, or the cut point reached
  bool cut_at_end = false;   // once the queue is empty, the connection is cut
  bool shut = false;         // end of stream passed on
  bool blocked = false;      // the destination takes no more bytes now
  std::atomic<uint64_t>& received;
  std::atomic<uint64_t>& forwarded;
};

enum class Io { kOk, kBroken };

Io ReadInto(int fd, Pipe& pipe) {
  std::vector<uint8_t> bytes(std::min(pipe.chunk, pipe.limit - pipe.queued));
  const ssize_t n = ::recv(fd, bytes.data(), bytes.size(), 0);
  if (n < 0) return WouldBlock() ? Io::kOk : Io::kBroken;
  if (n == 0) {
    pipe.source_done = true;
    return Io::kOk;
  }
  pipe.received += static_cast<uint64_t>(n);
  bytes.resize(static_cast<size_t>(n));
  if (const auto cut = pipe.finder.Feed(bytes.data(), bytes.size())) {
    bytes.resize(*cut);
    pipe.source_done = true;
    pipe.cut_at_end = true;
  }
  if (!bytes.empty()) pipe.Enqueue(std::move(bytes));
  return Io::kOk;
}

Io Deliver(int fd, Pipe& pipe, Clock::time_point now) {
  pipe.blocked = false;
  while (!pipe.queue.empty() && pipe.queue.front().due <= now) {
    Chunk& chunk = pipe.queue.front();
    const ssize_t n =
        ::send(fd, chunk.bytes.data() + chunk.sent, chunk.bytes.size() - chunk.sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (!WouldBlock()) return Io::kBroken;
      pipe.blocked = true;
      return Io::kOk;
    }
    chunk.sent += static_cast<size_t>(n);
    pipe.queued -= static_cast<size_t>(n);
    pipe.forwarded += static_cast<uint64_t>(n);
    if (chunk.sent == chunk.bytes.size()) pipe.queue.pop_front();
  }
  return Io::kOk;
}

void Abort(int fd) {
  const linger now{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  ::close(fd);
}

// Gives the bytes written to `fd` up to a second to reach the peer, so that an abortive close
// does not discard what the counters call forwarded.
void AwaitSent(int fd) {
  for (int i = 0; i < 1000; ++i) {
    int unsent = 0;
    if (::ioctl(fd, SIOCOUTQ, &unsent) != 0 || unsent == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Passes end of stream to both peers, then reads and drops what they still send until they close
// too (for a second at most), so that neither meets a reset for bytes already on their way.
void CloseInOrder(int a, int b) {
  ::shutdown(a, SHUT_WR);
  ::shutdown(b, SHUT_WR);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
  pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || ::poll(fds, 2, static_cast<int>(left)) <= 0) break;
    for (pollfd& p : fds) {
      if (p.fd < 0 || p.revents == 0) continue;
      char sink[16384];
      const ssize_t n = ::recv(p.fd, sink, sizeof sink, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && !WouldBlock())) p.fd = -1;
    }
  }
  ::close(a);
  ::close(b);
}

}  // namespace

RelayStats& RelayStats::operator+=(const RelayStats& other) {
  connections += other.connections;
  received_from_client += other.received_from_client;
  forwarded_to_server += other.forwarded_to_server;
  received_from_server += other.received_from_server;
  forwarded_to_client += other.forwarded_to_client;
  cuts += other.cuts;
  return *this;
}

std::string RelayStats::ToJson() const {
  return "{\"connections\":" + std::to_string(connections) +
         ",\"received_from_client\":" + std::to_string(received_from_client) +
         ",\"forwarded_to_server\":" + std::to_string(forwarded_to_server) +
         ",\"received_from_server\":" + std::to_string(received_from_server) +
         ",\"forwarded_to_client\":" + std::to_string(forwarded_to_client) +
         ",\"cuts\":" + std::to_string(cuts) + "}";
}

struct LinkRelay::Shared {
  RelayOptions options;
  sockaddr_storage target{};
  socklen_t target_length = 0;
  std::mutex faults_mutex;
  std::vector<CutFault> faults;
  uint64_t faults_since = 0;  // connections accepted when the faults were set
  std::atomic<uint64_t> accepted{0}, from_client{0}, to_server{0}, from_server{0}, to_client{0},
      cuts{0};

  // The faults of the connection accepted as number `index` (from 0).
  std::vector<CutFault> FaultsFor(uint64_t index) {
    std::lock_guard lock(faults_mutex);
    std::vector<CutFault> chosen;
    if (index < faults_since) return chosen;  // accepted before they were set
    const uint64_t n = index - faults_since;
    for (const CutFault& fault : faults)
      if (n >= fault.skip_connections &&
          (fault.connections == 0 || n - fault.skip_connections < fault.connections))
        chosen.push_back(fault);
    return chosen;
  }
};

class LinkRelay::Connection {
 public:
  Connection(std::shared_ptr<Shared> shared, int client, std::vector<CutFault> faults)
      : shared_(std::move(shared)),
        client_(client),
        wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
        up_(shared_->options.up, shared_->from_client, shared_->to_server),
        down_(shared_->options.down, shared_->from_server, shared_->to_client) {
    for (const CutFault& fault : faults)
      (fault.direction == Direction::kUp ? up_ : down_).finder.Add(fault);
    thread_ = std::thread([this] { Run(); });
  }
  ~Connection() {
    RequestCut(false);
    thread_.join();
    ::close(wake_);
  }

  // `counted`: a cut on command, counted with the faults' cuts; otherwise the relay stopping.
  void RequestCut(bool counted) {
    int expected = kNone;
    request_.compare_exchange_strong(expected, counted ? kCounted : kSilent);
    Wake(wake_);
  }
  bool done() const { return done_; }

 private:
  static constexpr int kNone = 0, kCounted = 1, kSilent = 2;

  void Run() {
    if (!ConnectTarget()) {
      Abort(client_);
      if (server_ >= 0) ::close(server_);
    } else if (up_.finder.CutsAtStart() || down_.finder.CutsAtStart()) {
      Cut(true);
    } else {
      Relay();
    }
    done_ = true;
  }

  bool ConnectTarget() {
    server_ = ::socket(shared_->target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (server_ < 0) return false;
    SetSocketOptions(server_);
    if (::connect(server_, reinterpret_cast<const sockaddr*>(&shared_->target),
                  shared_->target_length) == 0)
      return true;
    if (errno != EINPROGRESS) return false;
    pollfd fds[2] = {{server_, POLLOUT, 0}, {wake_, POLLIN, 0}};
    if (::poll(fds, 2, 10000) <= 0 || fds[1].revents != 0) return false;
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(server_, SOL_SOCKET, SO_ERROR, &error, &length);
    return error == 0;
  }

  void Relay() {
    bool client_hung_up = false, server_hung_up = false;
    for (;;) {
      if (const int request = request_.load(); request != kNone) return Cut(request == kCounted);
      const Clock::time_point now = Clock::now();
      if (Deliver(server_, up_, now) == Io::kBroken || Deliver(client_, down_, now) == Io::kBroken)
        return Break();
      if ((up_.cut_at_end && up_.Drained()) || (down_.cut_at_end && down_.Drained()))
        return Cut(true);
      PassEnd(up_, server_);
      PassEnd(down_, client_);
      if (up_.shut && down_.shut) {
        ::close(server_);
        ::close(client_);
        return;
      }

      // A socket whose peer has closed and to which the end was passed reports POLLHUP for good;
      // it is watched again only when its bytes are wanted.
      pollfd fds[3] = {
          {client_,
           static_cast<short>((up_.Reading() ? POLLIN : 0) | (down_.blocked ? POLLOUT : 0)), 0},
          {server_,
           static_cast<short>((down_.Reading() ? POLLIN : 0) | (up_.blocked ? POLLOUT : 0)), 0},
          {wake_, POLLIN, 0}};
      if (client_hung_up && fds[0].events == 0) fds[0].fd = -1;
      if (server_hung_up && fds[1].events == 0) fds[1].fd = -1;

      std::optional<Clock::time_point> next;
      for (const Pipe* pipe : {&up_, &down_})
        if (!pipe->blocked && !pipe->queue.empty())
          next = next ? std::min(*next, pipe->queue.front().due) : pipe->queue.front().due;
      timespec timeout{};
      if (next) {
        const auto wait = std::max(std::chrono::nanoseconds(0), *next - Clock::now());
        timeout.tv_sec = static_cast<time_t>(wait.count() / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(wait.count() % 1'000'000'000);
      }
      if (::ppoll(fds, 3, next ? &timeout : nullptr, nullptr) < 0) {
        if (errno == EINTR) continue;
        return Break();
      }
      if (fds[2].revents != 0) {
        uint64_t count;
        [[maybe_unused]] ssize_t n = ::read(wake_, &count, sizeof count);
      }
      if ((fds[0].revents & POLLERR) || (fds[1].revents & POLLERR)) return Break();
      if ((fds[0].revents & POLLHUP) && !(fds[0].revents & POLLIN)) {
        if (!down_.shut) return Break();  // reset: the peer did not close in order
        client_hung_up = true;
      }
      if ((fds[1].revents & POLLHUP) && !(fds[1].revents & POLLIN)) {
        if (!up_.shut) return Break();
        server_hung_up = true;
      }
      if ((fds[0].revents & POLLIN) && ReadInto(client_, up_) == Io::kBroken) return Break();
      if ((fds[1].revents & POLLIN) && ReadInto(server_, down_) == Io::kBroken) return Break();
    }
  }

  static void PassEnd(Pipe& pipe, int to) {
    if (pipe.shut || !pipe.source_done || pipe.cut_at_end || !pipe.Drained()) return;
    ::shutdown(to, SHUT_WR);
    pipe.shut = true;
  }

  // A peer failed (reset, error): the other side is reset too.
  void Break() {
    Abort(server_);
    Abort(client_);
  }

  void Cut(bool counted) {
    if (counted) ++shared_->cuts;
    if (shared_->options.cut_style == CutStyle::kStall) {
      Stall();
    } else if (shared_->options.cut_style == CutStyle::kReset) {
      AwaitSent(server_);
      AwaitSent(client_);
      Abort(server_);
      Abort(client_);
    } else {
      CloseInOrder(server_, client_);
    }
  }

  // Drops whatever either peer sends until one of them closes, the relay stops or a cut is
  // commanded.
  void Stall() {
    pollfd fds[3] = {{client_, POLLIN, 0}, {server_, POLLIN, 0}, {wake_, POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 3, -1) < 0 && errno != EINTR) break;
      if (fds[2].revents != 0) break;  // stopping, or cut on command
      bool closed = false;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0) continue;
        char sink[16384];
        const ssize_t n = ::recv(fds[i].fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && !WouldBlock())) closed = true;
      }
      if (closed) break;
    }
    Abort(server_);
    Abort(client_);
  }

  std::shared_ptr<Shared> shared_;
  int client_;
  int server_ = -1;
  int wake_;
  Pipe up_, down_;
  std::atomic<int> request_{kNone};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

LinkRelay::LinkRelay(RelayOptions options) : shared_(std::make_shared<Shared>()) {
  shared_->faults = std::move(options.faults);
  shared_->options = std::move(options);

  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(shared_->options.target_port);
  if (const int error =
          ::getaddrinfo(shared_->options.target_host.c_str(), service.c_str(), &hints, &found);
      error != 0)
    throw std::system_error(std::make_error_code(std::errc::host_unreachable),
                            shared_->options.target_host + ": " + ::gai_strerror(error));
  std::memcpy(&shared_->target, found->ai_addr, found->ai_addrlen);
  shared_->target_length = found->ai_addrlen;
  ::freeaddrinfo(found);

  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0) ThrowErrno("socket");
  const int one = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  SetSocketOptions(listener_);  // accepted sockets inherit the buffer sizes
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(shared_->options.listen_port);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 128) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const int error = errno;
    ::close(listener_);
    throw std::system_error(error, std::generic_category(), "listen");
  }
  port_ = ntohs(address.sin_port);
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LinkRelay::~LinkRelay() { Stop(); }

void LinkRelay::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) {
      // Out of descriptors, say: the listener stays readable, so pause instead of spinning.
      if (!WouldBlock() && errno != ECONNABORTED)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    const int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const uint64_t index = shared_->accepted++;
    auto connection = std::make_unique<Connection>(shared_, client, shared_->FaultsFor(index));
    std::lock_guard lock(mutex_);
    connections_.remove_if([](const std::unique_ptr<Connection>& c) { return c->done(); });
    connections_.push_back(std::move(connection));
  }
}

RelayStats LinkRelay::Stats() const {
  RelayStats stats;
  stats.connections = shared_->accepted;
  stats.received_from_client = shared_->from_client;
  stats.forwarded_to_server = shared_->to_server;
  stats.received_from_server = shared_->from_server;
  stats.forwarded_to_client = shared_->to_client;
  stats.cuts = shared_->cuts;
  return stats;
}

void LinkRelay::SetFaults(std::vector<CutFault> faults) {
  std::lock_guard lock(shared_->faults_mutex);
  shared_->faults = std::move(faults);
  shared_->faults_since = shared_->accepted;
}

void LinkRelay::CutNow() {
  std::lock_guard lock(mutex_);
  for (const auto& connection : connections_) connection->RequestCut(true);
}

void LinkRelay::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
  }
  Wake(wake_);
  acceptor_.join();
  ::close(listener_);
  ::close(wake_);
  std::lock_guard lock(mutex_);
  connections_.clear();  // each one closes as it goes
}

}  // namespace vorncom::testing

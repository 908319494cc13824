#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/date_time.h"
#include "rpc/methods.h"
#include "rpc/reception_server.h"
#include "rpc/wire.h"

namespace vorncom::testing {

// Writes all of `bytes` to `fd`; false when the peer is gone.
inline bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return true;
}

// A server that serves every call as a willing one would: accepting, available with packets of
// 1,000 bytes, no new server list, every upload valid and protocolated, nothing to download.
// Tests override the calls in which it is to lie. Runs on the fake server's thread.
class WillingServer : public rpc::ReceptionServer {
 public:
  bool AcceptingConnections(Variant& busy) override {
    busy = false;
    return true;
  }
  void SendControlPacket(const Variant&) override {}
  int32_t CheckServerStatus(Variant& packet_size) override {
    packet_size = int32_t{1000};
    return 5;
  }
  bool ReplicateClientCfgFile(Variant&) override { return false; }
  void SendFile(const Variant&) override {}
  void SendDataPacket(Variant&, Variant& byte_count) override {
    uploaded += byte_count.ToInteger();
  }
  bool ValidFile(const Variant&) override { return true; }
  void Protocolate(Variant& data) override {
    data = Variant::Array(1, 14);
    data.At(1) = "pacote.zlk";
    data.At(3) = "2026/000001";
    data.At(4) = Now();
    data.At(11) = Now();
  }
  int32_t GetFile(Variant&, Variant&) override { return 0; }
  int32_t GetDataPacket(Variant&) override { return 0; }
  void EraseFile(Variant&) override {}
  int32_t CheckFormStatus() override { return 1; }

  std::atomic<int64_t> uploaded{0};  // bytes accepted by SendDataPacket
};

// A reception server for client tests, on a loopback port: it speaks the wire protocol and
// answers each request through the test's ReceptionServer object, which may lie as a hostile or
// broken server would; a raw handler may instead answer a request byte by byte. It answers a
// hello with the version offered, up to 2, unless a hello handler says otherwise, and handles
// pipelined requests one at a time as they come. One connection at a time, on a thread of its
// own; the destructor stops it.
class FakeServer {
 public:
  // Runs on the server's thread. Answers `request` by writing to `fd` and returns true, or
  // returns false to leave it to the ReceptionServer. Shutting `fd` down ends the connection.
  using RawHandler = std::function<bool(int fd, const rpc::wire::Request& request)>;
  // Runs on the server's thread: the answer to a hello (an error frame ends the connection).
  using HelloHandler = std::function<rpc::wire::Frame(const rpc::wire::Hello& offer)>;

  explicit FakeServer(rpc::ReceptionServer& server, RawHandler raw = nullptr,
                      HelloHandler hello = nullptr)
      : server_(server), raw_(std::move(raw)), hello_(std::move(hello)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("fake server: cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~FakeServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  uint16_t port() const { return port_; }
  // The versions offered by the hellos received so far, in order.
  std::vector<uint32_t> offers() const {
    std::lock_guard lock(mutex_);
    return offers_;
  }

 private:
  // Waits for `fd` to be readable, giving up when the server stops.
  bool Readable(int fd) const {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  bool ReadExactly(int fd, uint8_t* out, size_t size) const {
    while (size > 0) {
      if (!Readable(fd)) return false;
      const ssize_t n = ::recv(fd, out, size, 0);
      if (n <= 0) return false;
      out += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  void Run() {
    while (Readable(listener_)) {
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      try {
        Serve(fd);
      } catch (const std::exception&) {
        // A client that broke the protocol ends its connection only.
      }
      ::close(fd);
    }
  }

  void Serve(int fd) {
    namespace wire = rpc::wire;
    int version = 1;
    for (;;) {
      uint8_t header[wire::kHeaderSize];
      if (!ReadExactly(fd, header, sizeof header)) return;
      std::vector<uint8_t> body(wire::ParseHeader(header, wire::kDefaultMaxFrame));
      if (!ReadExactly(fd, body.data(), body.size())) return;
      wire::Frame frame = wire::DecodeBody(body);
      std::vector<uint8_t> answer;
      if (auto* hello = std::get_if<wire::Hello>(&frame)) {
        {
          std::lock_guard lock(mutex_);
          offers_.push_back(hello->version);
        }
        wire::Hello own = *hello;
        own.version = std::min(own.version, wire::kHighestProtocolVersion);
        const wire::Frame reply = hello_ ? hello_(*hello) : wire::Frame(own);
        if (const auto* accepted = std::get_if<wire::Hello>(&reply))
          version = static_cast<int>(accepted->version);
        WriteAll(fd, wire::EncodeFrame(reply));
        if (std::holds_alternative<wire::Error>(reply)) return;
        continue;
      } else if (auto* request = std::get_if<wire::Request>(&frame)) {
        if (raw_ && raw_(fd, *request)) continue;
        try {
          answer = wire::EncodeFrame(rpc::Dispatch(server_, *request, version));
        } catch (const std::exception& e) {
          answer = wire::EncodeFrame(wire::Error{request->seq, e.what()});
        }
      } else {
        return;
      }
      if (!WriteAll(fd, answer)) return;
    }
  }

  rpc::ReceptionServer& server_;
  RawHandler raw_;
  HelloHandler hello_;
  mutable std::mutex mutex_;
  std::vector<uint32_t> offers_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vorncom::testing

#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rpc/wire.h"
#include "server/server_context.h"
#include "server/session_handler.h"
#include "server/tls_stream.h"

namespace vorncom::server {

// The network side of one session: the TLS handshake when the port has it, the hello, the frames
// in and out, the deadlines; each call runs on the session's SessionHandler, the slow ones on the
// check pool. A session that breaks the protocol, exceeds a limit or takes too long over a frame
// is closed alone. Lives on the event loop of its socket, kept alive by its own handlers.
class SessionConnection : public std::enable_shared_from_this<SessionConnection> {
 public:
  // `checks` must outlive the session's last call, and takes work while `checks_open` holds.
  // `tls`: the context of the port, null for plain TCP.
  SessionConnection(ServerContext& context, asio::ip::tcp::socket socket, asio::thread_pool& checks,
                    std::shared_ptr<const std::atomic<bool>> checks_open,
                    const std::shared_ptr<SSL_CTX>& tls);
  ~SessionConnection();

  void Start();

 private:
  using Clock = std::chrono::steady_clock;

  // A TLS record starts with its content type; a client's first one is a handshake record.
  static constexpr uint8_t kTlsHandshakeRecord = 22;
  // A fatal protocol_version alert: what a plain client gets instead of an answer, so that it
  // can tell that the port speaks TLS. OpenSSL closes such a connection without a word.
  static constexpr std::array<uint8_t, 7> kPlainClientAlert{21, 3, 3, 0, 2, 2, 70};
  // Buffers above this size are released after use, so idle sessions hold little memory.
  static constexpr size_t kKeptBuffer = 256 << 10;
  static constexpr size_t kInitialBuffer = 16 << 10;
  static constexpr std::chrono::seconds kCloseGrace{1};

  void RefusePlain();
  // Reads until the client closes (or the timer ends the session), so that the client's unread
  // bytes do not turn the close into a reset that could destroy the alert before it is read.
  void Drain();
  void Handshake();
  void Log(const std::string& text);
  // With `gracefully`, a TLS session first sends its close_notify (and waits a moment for the
  // client's); only when nothing else is in flight on the stream.
  void Close(const std::string& why, bool gracefully = false);
  void CloseSocket();

  // The deadline runs from the end of the last reply (or the connection's start) to the end of
  // the next frame, and from the start of a reply to its end; bytes arriving do not move it, so a
  // peer dripping a frame loses its session like a silent one. One timer wait is outstanding at
  // a time and re-waits while the deadline lies ahead, so a busy session does not re-arm a timer
  // on every call.
  void ArmTimer();
  void ArmTimer(std::chrono::milliseconds timeout);
  void WaitForDeadline();

  // Handles the next buffered frame, or reads more. Frames are read through one buffer, so a
  // small request usually arrives with a single read. The buffer grows with the bytes that have
  // arrived, never to the length a header merely claims.
  void ReadFrame();
  // Moves the unread bytes to the front; the buffer then holds at least `capacity` bytes.
  void Compact(size_t capacity);
  void OnFrame(size_t length);
  // Answers the hello that opens the session, or refuses it.
  void OnHello(const rpc::wire::Frame& frame);

  // Runs one call on the handler. Nothing when the session must be dropped (fault injection).
  std::optional<rpc::wire::Frame> Call(rpc::wire::Request& request);
  // The session reads nothing while its call runs on the pool (requests pipelined behind it wait
  // in the stream), so the handler is the pool thread's alone until the answer is posted back;
  // the shared pointers keep the session alive however the client behaves meanwhile.
  void CallOnPool(rpc::wire::Request request);
  void Answer(std::optional<rpc::wire::Frame> answer);
  // Reports a protocol violation to the peer with seq 0, then closes.
  void Fail(const std::string& what);
  void Send(const rpc::wire::Frame& frame, bool close_after);

  ServerContext& context_;
  asio::ip::tcp::socket socket_;
  std::optional<TlsStream> tls_;  // over socket_
  bool secured_ = false;          // the handshake is done
  bool closing_ = false;          // the close_notify is on its way
  asio::steady_timer timer_;
  asio::thread_pool& checks_;
  std::shared_ptr<const std::atomic<bool>> checks_open_;
  Clock::time_point deadline_;
  bool timer_waiting_ = false;
  bool on_pool_ = false;  // a call runs on the check pool
  std::unique_ptr<SessionHandler> handler_;
  std::string peer_;
  bool greeted_ = false;
  uint32_t version_ = 1;  // the protocol version the hello settled
  uint32_t next_seq_ = 1;
  std::vector<uint8_t> in_;  // received bytes; [in_begin_, in_end_) not yet handled
  size_t in_begin_ = 0;
  size_t in_end_ = 0;
  std::vector<uint8_t> out_;
};

}  // namespace vorncom::server

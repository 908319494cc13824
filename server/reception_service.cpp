#include "server/reception_service.h"

#include <openssl/ssl.h>

#include <array>
#include <asio.hpp>
#include <asio/ssl.hpp>
#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "common/messages.h"
#include "rpc/methods.h"
#include "rpc/wire.h"
#include "server/session_handler.h"

namespace vorncom::server {

namespace {

using asio::ip::tcp;
namespace wire = rpc::wire;

using Clock = std::chrono::steady_clock;
using TlsStream = asio::ssl::stream<tcp::socket&>;

// A TLS stream over `socket` from the server's current context, or nothing for plain TCP.
std::optional<TlsStream> SecureStream(tcp::socket& socket, const std::shared_ptr<SSL_CTX>& tls) {
  std::optional<TlsStream> stream;
  if (tls) stream.emplace(socket, SSL_new(tls.get()));
  return stream;
}

// Reads and writes go through TLS when the session has it. Asio allows one read and one write
// in flight on either; a session never has more.
template <typename Buffer, typename Handler>
void ReadSome(tcp::socket& socket, std::optional<TlsStream>& tls, const Buffer& buffer,
              Handler&& handler) {
  if (tls) return tls->async_read_some(buffer, std::forward<Handler>(handler));
  socket.async_read_some(buffer, std::forward<Handler>(handler));
}

template <typename Buffer, typename Handler>
void WriteAll(tcp::socket& socket, std::optional<TlsStream>& tls, const Buffer& buffer,
              Handler&& handler) {
  if (tls) return asio::async_write(*tls, buffer, std::forward<Handler>(handler));
  asio::async_write(socket, buffer, std::forward<Handler>(handler));
}

// Why a handshake failed, as OpenSSL names it.
std::string HandshakeFailure(const std::error_code& ec) {
  if (ec == asio::ssl::error::stream_truncated || ec == asio::error::eof)
    return "conexão encerrada pelo cliente";
  return ec.message();
}

// The calls that touch the disk at length (expanding every entry of an upload, syncing files,
// committing the registry, and every call that reads or writes the registry, which may be a
// database across the network) run on the check pool, so that they never hold up an event loop;
// so does the packet call that flushes a resumable upload.
bool RunsOnPool(const wire::Request& request, const SessionHandler& handler) {
  const auto info = rpc::FindMethod(request.method);
  if (!info) return false;
  switch (info->method) {
    case rpc::Method::kValidFile:
    case rpc::Method::kProtocolate:
    case rpc::Method::kStartUpload:
    case rpc::Method::kResumeUpload:
    case rpc::Method::kFindRegistration:
      return true;
    case rpc::Method::kSendDataPacket:
      return handler.SyncDue();
    default:
      return false;
  }
}

class Session : public std::enable_shared_from_this<Session> {
 public:
  // `checks` must outlive the session's last call, and takes work while `checks_open` holds.
  Session(ServerContext& context, tcp::socket socket, asio::thread_pool& checks,
          std::shared_ptr<const std::atomic<bool>> checks_open, const std::shared_ptr<SSL_CTX>& tls)
      : context_(context),
        socket_(std::move(socket)),
        tls_(SecureStream(socket_, tls)),
        timer_(socket_.get_executor()),
        checks_(checks),
        checks_open_(std::move(checks_open)) {
    ++context_.sessions;
    std::error_code ec;
    const auto local = socket_.local_endpoint(ec);
    const auto peer = socket_.remote_endpoint(ec);
    peer_ = ec ? std::string("?") : peer.address().to_string() + ":" + std::to_string(peer.port());
    handler_ = std::make_unique<SessionHandler>(context_, context_.next_session++,
                                                local.address().to_string(), peer_);
    socket_.set_option(tcp::no_delay(true), ec);
  }

  ~Session() {
    // Letting go of a resumable upload flushes it to disk: on the pool, not on the event loop.
    // A session freed after the pool stopped does it where it is.
    if (handler_->HoldsUnflushedUpload() && checks_open_->load())
      asio::post(checks_, [handler = std::move(handler_)]() mutable { handler.reset(); });
    handler_.reset();
    --context_.sessions;
  }

  void Start() {
    // Another session resuming this one's upload closes it; the close runs on this loop.
    handler_->SetLetGo([weak = weak_from_this(), loop = socket_.get_executor()] {
      asio::post(loop, [weak] {
        if (auto self = weak.lock()) self->Close("envio retomado por outra conexão");
      });
    });
    Log("conexão de " + peer_);
    if (context_.config.fault_refuse) return Close("recusada (falha simulada)");
    if (!tls_) {
      ArmTimer();
      return ReadFrame();
    }
    // The handshake has a deadline of its own: a client that stalls it loses its session.
    ArmTimer(context_.config.tls_handshake_timeout);
    socket_.async_wait(
        tcp::socket::wait_read, [self = shared_from_this()](const std::error_code& ec) {
          if (ec || !self->socket_.is_open()) return;
          uint8_t first = 0;
          std::error_code peek_error;
          const size_t n =
              self->socket_.receive(asio::buffer(&first, 1), tcp::socket::message_peek, peek_error);
          if (peek_error || n == 0) return self->Close("conexão encerrada pelo cliente");
          if (first != kTlsHandshakeRecord) return self->RefusePlain();
          self->Handshake();
        });
  }

 private:
  // A TLS record starts with its content type; a client's first one is a handshake record.
  static constexpr uint8_t kTlsHandshakeRecord = 22;
  // A fatal protocol_version alert: what a plain client gets instead of an answer, so that it
  // can tell that the port speaks TLS. OpenSSL closes such a connection without a word.
  static constexpr std::array<uint8_t, 7> kPlainClientAlert{21, 3, 3, 0, 2, 2, 70};

  void RefusePlain() {
    Log("negociação TLS recusada: cliente sem TLS");
    context_.metrics.handshake_failures.Add();
    asio::async_write(socket_, asio::buffer(kPlainClientAlert),
                      [self = shared_from_this()](const std::error_code& ec, size_t) {
                        if (ec) return self->CloseSocket();
                        std::error_code ignored;
                        self->socket_.shutdown(tcp::socket::shutdown_send, ignored);
                        self->Drain();
                      });
  }

  // Reads until the client closes (or the timer ends the session), so that the client's unread
  // bytes do not turn the close into a reset that could destroy the alert before it is read.
  void Drain() {
    in_.resize(kInitialBuffer);
    socket_.async_read_some(asio::buffer(in_),
                            [self = shared_from_this()](const std::error_code& ec, size_t) {
                              if (ec) return self->CloseSocket();
                              self->Drain();
                            });
  }

  void Handshake() {
    tls_->async_handshake(
        asio::ssl::stream_base::server, [self = shared_from_this()](const std::error_code& ec) {
          if (!self->socket_.is_open()) return;
          if (ec) {
            self->context_.metrics.handshake_failures.Add();
            return self->Close("negociação TLS recusada: " + HandshakeFailure(ec));
          }
          self->secured_ = true;
          self->ArmTimer();
          self->ReadFrame();
        });
  }

 private:
  void Log(const std::string& text) { context_.log.Write(handler_->id(), text); }

  // With `gracefully`, a TLS session first sends its close_notify (and waits a moment for the
  // client's); only when nothing else is in flight on the stream.
  void Close(const std::string& why, bool gracefully = false) {
    if (!socket_.is_open() || closing_) return;
    Log("encerrada: " + why);
    if (gracefully && secured_) {
      closing_ = true;
      deadline_ = Clock::now() + kCloseGrace;
      if (!timer_waiting_) WaitForDeadline();
      return tls_->async_shutdown(
          [self = shared_from_this()](const std::error_code&) { self->CloseSocket(); });
    }
    CloseSocket();
  }

  void CloseSocket() {
    std::error_code ignored;
    timer_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  // The deadline runs from the end of the last reply (or the connection's start) to the end of
  // the next frame, and from the start of a reply to its end; bytes arriving do not move it, so a
  // peer dripping a frame loses its session like a silent one. One timer wait is outstanding at
  // a time and re-waits while the deadline lies ahead, so a busy session does not re-arm a timer
  // on every call.
  void ArmTimer() { ArmTimer(context_.config.idle_timeout); }
  void ArmTimer(std::chrono::milliseconds timeout) {
    deadline_ = Clock::now() + timeout;
    if (!timer_waiting_) WaitForDeadline();
  }

  void WaitForDeadline() {
    timer_waiting_ = true;
    timer_.expires_at(deadline_);
    timer_.async_wait([self = shared_from_this()](const std::error_code& ec) {
      self->timer_waiting_ = false;
      if (ec || !self->socket_.is_open()) return;
      // The server's own work does not count against the client's time.
      if (self->on_pool_) return self->ArmTimer();
      if (Clock::now() < self->deadline_) return self->WaitForDeadline();
      if (self->closing_) return self->CloseSocket();
      self->Close(self->secured_ || !self->tls_ ? "tempo esgotado aguardando o cliente"
                                                : "negociação TLS recusada: tempo esgotado");
    });
  }

  // Handles the next buffered frame, or reads more. Frames are read through one buffer, so a
  // small request usually arrives with a single read. The buffer grows with the bytes that have
  // arrived, never to the length a header merely claims.
  void ReadFrame() {
    const size_t have = in_end_ - in_begin_;
    size_t room = kInitialBuffer;  // buffer size from in_begin_ wanted for the next read
    if (have >= wire::kHeaderSize) {
      size_t size = 0;
      try {
        size = wire::ParseHeader(
            std::span<const uint8_t, wire::kHeaderSize>(in_.data() + in_begin_, wire::kHeaderSize),
            context_.config.max_frame);
      } catch (const rpc::EWireError& e) {
        return Fail(e.what());
      }
      const size_t need = wire::kHeaderSize + size;
      if (have >= need) return OnFrame(need);
      room = std::min(need, std::max(2 * have, have + kInitialBuffer));
    }
    if (in_.size() - in_begin_ < room || in_end_ == in_.size()) Compact(room);
    ReadSome(socket_, tls_, asio::buffer(in_.data() + in_end_, in_.size() - in_end_),
             [self = shared_from_this()](const std::error_code& ec, size_t n) {
               if (ec) return self->Close("conexão encerrada pelo cliente");
               self->context_.metrics.bytes_received.Add(n);
               self->in_end_ += n;
               self->ReadFrame();
             });
  }

  // Moves the unread bytes to the front; the buffer then holds at least `capacity` bytes.
  void Compact(size_t capacity) {
    std::copy(in_.begin() + static_cast<ptrdiff_t>(in_begin_),
              in_.begin() + static_cast<ptrdiff_t>(in_end_), in_.begin());
    in_end_ -= in_begin_;
    in_begin_ = 0;
    if (in_.size() < capacity) in_.resize(capacity);
  }

  void OnFrame(size_t length) {
    wire::Frame frame;
    try {
      frame = wire::DecodeBody(std::span<const uint8_t>(in_.data() + in_begin_ + wire::kHeaderSize,
                                                        length - wire::kHeaderSize));
    } catch (const rpc::EWireError& e) {
      return Fail(e.what());
    }
    in_begin_ += length;
    if (in_begin_ == in_end_) {
      in_begin_ = in_end_ = 0;
      if (in_.size() > kKeptBuffer) std::vector<uint8_t>().swap(in_);
    }

    if (!greeted_) {
      const auto* hello = std::get_if<wire::Hello>(&frame);
      if (hello == nullptr) {
        context_.metrics.handshake_failures.Add();
        return Fail(std::string(msg::kSrvHelloExpected));
      }
      // The lower of the offered version and ours; a server kept to version 1 refuses any other
      // offer, as servers of that version do, so that clients can be tried against one.
      const uint32_t highest = context_.config.max_protocol_version;
      if (hello->version < 1 || (highest == 1 && hello->version != 1)) {
        context_.metrics.handshake_failures.Add();
        return Fail(msg::Format(msg::kSrvUnsupportedVersion, {std::to_string(hello->version)}));
      }
      if (hello->object_guid != rpc::kServerGUID || hello->object_name != rpc::kServerName) {
        context_.metrics.handshake_failures.Add();
        return Fail(msg::Format(msg::kSrvUnknownObject, {hello->object_name}));
      }
      greeted_ = true;
      version_ = std::min(hello->version, highest);
      return Send(wire::Hello{version_, rpc::kServerGUID, rpc::kServerName}, false);
    }
    auto* request = std::get_if<wire::Request>(&frame);
    if (request == nullptr) return Fail(std::string(msg::kSrvCallExpected));
    // Sequence numbers start at 1 and grow by 1 per call; seq 0 is left for refusals, so an
    // error frame with seq 0 always means the connection is closing.
    if (request->seq != next_seq_)
      return Fail(msg::Format(msg::kSrvSequenceOutOfOrder,
                              {std::to_string(request->seq), std::to_string(next_seq_)}));
    ++next_seq_;
    if (context_.config.fault_stall) {
      // Keep the connection open and silent; the idle timer ends it.
      Log("chamada " + request->method + " retida (falha simulada)");
      return ArmTimer();
    }
    // Requests are handled one at a time in the order they came: the next frame is read only
    // once this one's answer is written, so a pipelining client's requests wait in the stream.
    if (RunsOnPool(*request, *handler_)) return CallOnPool(std::move(*request));
    Answer(Call(*request));
  }

  // Runs one call on the handler. Nothing when the session must be dropped (fault injection).
  std::optional<wire::Frame> Call(wire::Request& request) {
    try {
      return rpc::Dispatch(*handler_, request, static_cast<int>(version_));
    } catch (const SessionFault&) {
      return std::nullopt;
    } catch (const std::exception& e) {
      Log(request.method + ": " + e.what());
      return wire::Error{request.seq, e.what()};
    }
  }

  // The session reads nothing while its call runs on the pool (requests pipelined behind it wait
  // in the stream), so the handler is the pool thread's alone until the answer is posted back; the
  // shared pointers keep the session alive however the client behaves meanwhile.
  void CallOnPool(wire::Request request) {
    on_pool_ = true;
    asio::post(checks_, [self = shared_from_this(), loop = socket_.get_executor(),
                         request = std::move(request)]() mutable {
      auto answer = self->Call(request);
      asio::post(loop, [self = std::move(self), answer = std::move(answer)]() mutable {
        self->on_pool_ = false;
        self->Answer(std::move(answer));
      });
    });
  }

  void Answer(std::optional<wire::Frame> answer) {
    if (!answer) return Close("derrubada (falha simulada)");
    Send(*answer, false);
    // Asio attempts a write at once when it is started, so the reply is already with the kernel:
    // the upload's file write now overlaps the client receiving it and sending the next packet.
    // Not a writer thread per session: handing each packet over costs a thread wake-up, which on
    // a small machine is dearer than the page-cache write it would hide (measured: slower for
    // small packets, and for large ones slower when client and server have a CPU each and only
    // slightly faster when they share one), while the client's turnaround hides the write here
    // for free, with one thread per worker as before.
    handler_->WritePending();
  }

  // Reports a protocol violation to the peer with seq 0, then closes.
  void Fail(const std::string& what) {
    Log("erro de protocolo: " + what);
    Send(wire::Error{0, what}, true);
  }

  void Send(const wire::Frame& frame, bool close_after) {
    out_ = wire::EncodeFrame(frame);
    ArmTimer();
    WriteAll(socket_, tls_, asio::buffer(out_),
             [self = shared_from_this(), close_after](const std::error_code& ec, size_t n) {
               self->context_.metrics.bytes_sent.Add(n);
               if (ec) return self->Close("erro ao enviar");
               if (close_after) return self->Close("erro de protocolo", true);
               if (self->out_.capacity() > kKeptBuffer) std::vector<uint8_t>().swap(self->out_);
               self->ArmTimer();
               self->ReadFrame();
             });
  }

  // Buffers above this size are released after use, so idle sessions hold little memory.
  static constexpr size_t kKeptBuffer = 256 << 10;
  static constexpr size_t kInitialBuffer = 16 << 10;
  static constexpr std::chrono::seconds kCloseGrace{1};

  ServerContext& context_;
  tcp::socket socket_;
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

// A connection beyond max_sessions. It gets the refusal a bad hello gets (an error frame with
// seq 0) at once, without waiting for its hello, and holds no session. The socket stays open
// until the peer closes or a short grace ends, so that the client's unread hello does not turn
// the close into a reset that could destroy the refusal before the client reads it. On a TLS port
// the refusal follows a handshake, within the handshake deadline.
class Refusal : public std::enable_shared_from_this<Refusal> {
 public:
  Refusal(tcp::socket socket, const std::string& why, const std::shared_ptr<SSL_CTX>& tls,
          std::chrono::milliseconds handshake_timeout)
      : socket_(std::move(socket)),
        tls_(SecureStream(socket_, tls)),
        timer_(socket_.get_executor()),
        out_(wire::EncodeFrame(wire::Error{0, why})),
        handshake_timeout_(tls ? handshake_timeout : std::chrono::milliseconds(0)) {}

  void Start() {
    timer_.expires_after(std::chrono::seconds(1) + handshake_timeout_);
    timer_.async_wait([self = shared_from_this()](const std::error_code&) { self->Close(); });
    if (!tls_) return Refuse();
    tls_->async_handshake(asio::ssl::stream_base::server,
                          [self = shared_from_this()](const std::error_code& ec) {
                            if (ec) return self->Close();
                            self->Refuse();
                          });
  }

 private:
  void Refuse() {
    WriteAll(
        socket_, tls_, asio::buffer(out_),
        [self = shared_from_this()](const std::error_code& ec, size_t) {
          if (ec) return self->Close();
          if (self->tls_) {
            return self->tls_->async_shutdown([self](const std::error_code&) { self->Close(); });
          }
          std::error_code ignored;
          self->socket_.shutdown(tcp::socket::shutdown_send, ignored);
          self->Drain();
        });
  }

  void Drain() {
    socket_.async_read_some(asio::buffer(scratch_),
                            [self = shared_from_this()](const std::error_code& ec, size_t) {
                              if (ec) return self->Close();
                              self->Drain();
                            });
  }

  void Close() {
    std::error_code ignored;
    timer_.cancel();
    socket_.close(ignored);
  }

  tcp::socket socket_;
  std::optional<TlsStream> tls_;
  asio::steady_timer timer_;
  std::vector<uint8_t> out_;
  std::chrono::milliseconds handshake_timeout_;
  std::array<uint8_t, 512> scratch_{};
};

}  // namespace

struct ReceptionService::Impl {
  explicit Impl(ServerContext& c) : context(c) {}

  void Accept() {
    asio::io_context& target = *workers[next_worker++ % workers.size()];
    acceptor->async_accept(target, [this, &target](const std::error_code& ec, tcp::socket socket) {
      if (ec == asio::error::operation_aborted || !acceptor->is_open()) return;
      if (!ec) {
        // The count only grows on this thread, so no two accepts both take the last place.
        if (context.sessions.load() >= context.config.max_sessions) {
          context.log.Write(0, "conexão recusada: limite de sessões atingido");
          auto refusal = std::make_shared<Refusal>(
              std::move(socket),
              msg::Format(msg::kSrvSessionLimit, {std::to_string(context.config.max_sessions)}),
              context.Tls(), context.config.tls_handshake_timeout);
          asio::post(target, [refusal] { refusal->Start(); });
          return Accept();
        }
        // The session belongs to the worker whose context owns its socket.
        // Each new session takes the context current now, so a reload changes no running one.
        auto session = std::make_shared<Session>(context, std::move(socket), *checks, checks_open,
                                                 context.Tls());
        asio::post(target, [session] { session->Start(); });
        return Accept();
      }
      // Out of descriptors or memory: pause instead of spinning on the failing accept. The
      // connection waits in the backlog meanwhile.
      context.log.Write(0, "erro ao aceitar conexão (" + ec.message() + "); nova tentativa");
      retry_timer.expires_after(std::chrono::milliseconds(100));
      retry_timer.async_wait([this](const std::error_code& wait_error) {
        if (!wait_error && acceptor->is_open()) Accept();
      });
    });
  }

  // Uploads left unresumed expire while the server runs, not only at its next start.
  void ExpireUploadsHourly() {
    expiry_timer.expires_after(std::chrono::hours(1));
    expiry_timer.async_wait([this](const std::error_code& ec) {
      if (ec) return;
      try {
        context.ExpireUploads();
      } catch (const std::exception& e) {
        context.log.Write(0, e.what());
      }
      ExpireUploadsHourly();
    });
  }

  ServerContext& context;
  asio::io_context accept_context;
  asio::steady_timer retry_timer{accept_context};
  asio::steady_timer expiry_timer{accept_context};
  std::vector<std::unique_ptr<asio::io_context>> workers;
  std::vector<asio::executor_work_guard<asio::io_context::executor_type>> guards;
  std::unique_ptr<tcp::acceptor> acceptor;
  std::vector<std::thread> threads;
  std::unique_ptr<asio::thread_pool> checks;
  std::shared_ptr<std::atomic<bool>> checks_open = std::make_shared<std::atomic<bool>>(false);
  std::thread accept_thread;
  size_t next_worker = 0;
  bool running = false;
};

ReceptionService::ReceptionService(ServerContext& context)
    : impl_(std::make_unique<Impl>(context)) {}

ReceptionService::~ReceptionService() { Stop(); }

uint16_t ReceptionService::Start() {
  Impl& d = *impl_;
  const auto address = asio::ip::make_address(d.context.config.listen_address);
  d.acceptor = std::make_unique<tcp::acceptor>(d.accept_context);
  const tcp::endpoint endpoint(address, d.context.config.listen_port);
  d.acceptor->open(endpoint.protocol());
  d.acceptor->set_option(tcp::acceptor::reuse_address(true));
  d.acceptor->bind(endpoint);
  d.acceptor->listen(asio::socket_base::max_listen_connections);
  const uint16_t port = d.acceptor->local_endpoint().port();

  d.checks = std::make_unique<asio::thread_pool>(d.context.config.workers);
  d.checks_open->store(true);
  for (unsigned i = 0; i < d.context.config.workers; ++i) {
    d.workers.push_back(std::make_unique<asio::io_context>(1));
    d.guards.push_back(asio::make_work_guard(*d.workers.back()));
  }
  d.Accept();
  d.ExpireUploadsHourly();
  for (auto& worker : d.workers) d.threads.emplace_back([ctx = worker.get()] { ctx->run(); });
  d.accept_thread = std::thread([&d] { d.accept_context.run(); });
  d.running = true;
  return port;
}

void ReceptionService::Stop() {
  Impl& d = *impl_;
  if (!d.running) return;
  d.running = false;
  // Closing the acceptor ends the pending accept; the accept loop then runs out of work.
  asio::post(d.accept_context, [&d] {
    std::error_code ignored;
    d.acceptor->close(ignored);
    d.retry_timer.cancel();
    d.expiry_timer.cancel();
  });
  d.accept_thread.join();
  for (auto& guard : d.guards) guard.reset();
  for (auto& worker : d.workers) worker->stop();
  for (auto& thread : d.threads) thread.join();
  d.threads.clear();
  // No event loop runs any more; sessions freed from here on are freed on this thread.
  d.checks_open->store(false);
  // Running checks finish; their answers, and the calls still queued, are dropped with the
  // contexts, which therefore go last.
  d.checks->stop();
  d.checks->join();
  d.checks.reset();
  // Destroying the contexts frees the sessions still waiting for I/O.
  d.acceptor.reset();
  d.workers.clear();
  d.guards.clear();
}

}  // namespace vorncom::server

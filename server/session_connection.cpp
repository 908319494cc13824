#include "server/session_connection.h"

#include <algorithm>
#include <span>
#include <utility>

#include "common/messages.h"
#include "rpc/methods.h"

namespace vorncom::server {

namespace {

using asio::ip::tcp;
namespace wire = rpc::wire;

// The calls that touch the disk at length (expanding every entry of an upload, syncing files,
// committing the registry, and every call that reads or writes the registry, which may be a
// database across the network) run on the check pool, so that they never hold up an event loop;
// so do the packet call that flushes a resumable upload and the SendFile that leaves one.
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
    case rpc::Method::kSendFile:
      return handler.HoldsUnflushedUpload();
    default:
      return false;
  }
}

}  // namespace

SessionConnection::SessionConnection(ServerContext& context, tcp::socket socket,
                                     asio::thread_pool& checks,
                                     std::shared_ptr<const std::atomic<bool>> checks_open,
                                     const std::shared_ptr<SSL_CTX>& tls)
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
  // What a call on the event loop leaves to the registry (an upload it discarded expires) runs
  // on the pool; with the pool stopped, where it is.
  handler_->SetOffLoop([&checks = checks_, open = checks_open_](std::function<void()> work) {
    if (open->load()) return asio::post(checks, std::move(work));
    work();
  });
  socket_.set_option(tcp::no_delay(true), ec);
}

SessionConnection::~SessionConnection() {
  // Letting go of a resumable upload flushes it to disk: on the pool, not on the event loop.
  // A session freed after the pool stopped does it where it is.
  if (handler_->HoldsUnflushedUpload() && checks_open_->load())
    asio::post(checks_, [handler = std::move(handler_)]() mutable { handler.reset(); });
  handler_.reset();
  --context_.sessions;
}

void SessionConnection::Start() {
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

void SessionConnection::RefusePlain() {
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

void SessionConnection::Drain() {
  in_.resize(kInitialBuffer);
  socket_.async_read_some(asio::buffer(in_),
                          [self = shared_from_this()](const std::error_code& ec, size_t) {
                            if (ec) return self->CloseSocket();
                            self->Drain();
                          });
}

void SessionConnection::Handshake() {
  tls_->async_handshake(asio::ssl::stream_base::server,
                        [self = shared_from_this()](const std::error_code& ec) {
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

void SessionConnection::Log(const std::string& text) { context_.log.Write(handler_->id(), text); }

void SessionConnection::Close(const std::string& why, bool gracefully) {
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

void SessionConnection::CloseSocket() {
  std::error_code ignored;
  timer_.cancel();
  socket_.shutdown(tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
}

void SessionConnection::ArmTimer() { ArmTimer(context_.config.idle_timeout); }
void SessionConnection::ArmTimer(std::chrono::milliseconds timeout) {
  deadline_ = Clock::now() + timeout;
  if (!timer_waiting_) WaitForDeadline();
}

void SessionConnection::WaitForDeadline() {
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

void SessionConnection::ReadFrame() {
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

void SessionConnection::Compact(size_t capacity) {
  std::copy(in_.begin() + static_cast<ptrdiff_t>(in_begin_),
            in_.begin() + static_cast<ptrdiff_t>(in_end_), in_.begin());
  in_end_ -= in_begin_;
  in_begin_ = 0;
  if (in_.size() < capacity) in_.resize(capacity);
}

void SessionConnection::OnFrame(size_t length) {
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

  if (!greeted_) return OnHello(frame);
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

void SessionConnection::OnHello(const wire::Frame& frame) {
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
  Send(wire::Hello{version_, rpc::kServerGUID, rpc::kServerName}, false);
}

std::optional<wire::Frame> SessionConnection::Call(wire::Request& request) {
  try {
    return rpc::Dispatch(*handler_, request, static_cast<int>(version_));
  } catch (const SessionFault&) {
    return std::nullopt;
  } catch (const std::exception& e) {
    Log(request.method + ": " + e.what());
    return wire::Error{request.seq, e.what()};
  }
}

void SessionConnection::CallOnPool(wire::Request request) {
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

void SessionConnection::Answer(std::optional<wire::Frame> answer) {
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

void SessionConnection::Fail(const std::string& what) {
  Log("erro de protocolo: " + what);
  Send(wire::Error{0, what}, true);
}

void SessionConnection::Send(const wire::Frame& frame, bool close_after) {
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

}  // namespace vorncom::server

#include "server/reception_service.h"

#include <asio.hpp>
#include <thread>
#include <vector>

#include "rpc/methods.h"
#include "rpc/wire.h"
#include "server/session_handler.h"

namespace vorncom::server {

namespace {

using asio::ip::tcp;
namespace wire = rpc::wire;

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(ServerContext& context, tcp::socket socket)
      : context_(context), socket_(std::move(socket)), timer_(socket_.get_executor()) {
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
    handler_.reset();
    --context_.sessions;
  }

  void Start() {
    Log("conexão de " + peer_);
    if (context_.config.fault_refuse) return Close("recusada (falha simulada)");
    ReadHeader();
  }

 private:
  void Log(const std::string& text) { context_.log.Write(handler_->id(), text); }

  void Close(const std::string& why) {
    if (!socket_.is_open()) return;
    Log("encerrada: " + why);
    std::error_code ignored;
    timer_.cancel();
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  // Every read and write must finish within the idle timeout; a silent peer loses its session.
  // Each operation only moves the deadline; one timer wait is outstanding at a time and re-waits
  // while the deadline lies ahead, so a busy session does not re-arm a timer on every call.
  void ArmTimer() {
    deadline_ = std::chrono::steady_clock::now() + context_.config.idle_timeout;
    if (!timer_waiting_) WaitForDeadline();
  }

  void WaitForDeadline() {
    timer_waiting_ = true;
    timer_.expires_at(deadline_);
    timer_.async_wait([self = shared_from_this()](const std::error_code& ec) {
      self->timer_waiting_ = false;
      if (ec || !self->socket_.is_open()) return;
      if (std::chrono::steady_clock::now() < self->deadline_) return self->WaitForDeadline();
      self->Close("tempo de inatividade esgotado");
    });
  }

  // Handles the next buffered frame, or reads more. Frames are read through one buffer, so a
  // small request usually arrives with a single read.
  void ReadHeader() {
    ArmTimer();
    if (in_end_ - in_begin_ >= wire::kHeaderSize) {
      size_t size = 0;
      try {
        size = wire::ParseHeader(
            std::span<const uint8_t, wire::kHeaderSize>(in_.data() + in_begin_, wire::kHeaderSize),
            context_.config.max_frame);
      } catch (const rpc::EWireError& e) {
        return Fail(0, e.what());
      }
      // The length was checked against the limit above, before this allocation.
      const size_t need = wire::kHeaderSize + size;
      if (in_end_ - in_begin_ >= need) return OnFrame(need);
      if (in_.size() - in_begin_ < need) Compact(need);
    } else if (in_end_ == in_.size() || in_.empty()) {
      Compact(kInitialBuffer);
    }
    socket_.async_read_some(asio::buffer(in_.data() + in_end_, in_.size() - in_end_),
                            [self = shared_from_this()](const std::error_code& ec, size_t n) {
                              if (ec) return self->Close("conexão encerrada pelo cliente");
                              self->in_end_ += n;
                              self->ReadHeader();
                            });
  }

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
      return Fail(0, e.what());
    }
    in_begin_ += length;
    if (in_begin_ == in_end_) {
      in_begin_ = in_end_ = 0;
      if (in_.size() > kKeptBuffer) std::vector<uint8_t>().swap(in_);
    }

    if (!greeted_) {
      const auto* hello = std::get_if<wire::Hello>(&frame);
      if (hello == nullptr) return Fail(0, "saudação esperada");
      if (hello->version != wire::kProtocolVersion)
        return Fail(0, "versão de protocolo não suportada: " + std::to_string(hello->version));
      if (hello->object_guid != rpc::kServerGUID || hello->object_name != rpc::kServerName)
        return Fail(0, "objeto remoto desconhecido: " + hello->object_name);
      greeted_ = true;
      return Send(wire::Hello{wire::kProtocolVersion, rpc::kServerGUID, rpc::kServerName}, false);
    }
    auto* request = std::get_if<wire::Request>(&frame);
    if (request == nullptr) return Fail(0, "chamada esperada");
    if (context_.config.fault_stall) {
      // Keep the connection open and silent; the idle timer ends it.
      Log("chamada " + request->method + " retida (falha simulada)");
      return ArmTimer();
    }
    try {
      Send(rpc::Dispatch(*handler_, *request), false);
    } catch (const SessionFault&) {
      Close("derrubada (falha simulada)");
    } catch (const std::exception& e) {
      Log(request->method + ": " + e.what());
      Send(wire::Error{request->seq, e.what()}, false);
    }
    // Asio attempts a write at once when it is started, so the reply is already with the kernel:
    // the upload's file write now overlaps the client receiving it and sending the next packet.
    // Not a writer thread per session: handing each packet over costs a thread wake-up, which on
    // a small machine is dearer than the page-cache write it would hide (measured: slower for
    // small packets, and for large ones slower when client and server have a CPU each and only
    // slightly faster when they share one), while the client's turnaround hides the write here
    // for free, with one thread per worker as before.
    handler_->WritePending();
  }

  // Reports a protocol violation to the peer, then closes.
  void Fail(uint32_t seq, const std::string& what) {
    Log("erro de protocolo: " + what);
    Send(wire::Error{seq, what}, true);
  }

  void Send(const wire::Frame& frame, bool close_after) {
    out_ = wire::EncodeFrame(frame);
    ArmTimer();
    asio::async_write(socket_, asio::buffer(out_),
                      [self = shared_from_this(), close_after](const std::error_code& ec, size_t) {
                        if (ec) return self->Close("erro ao enviar");
                        if (close_after) return self->Close("erro de protocolo");
                        if (self->out_.capacity() > kKeptBuffer)
                          std::vector<uint8_t>().swap(self->out_);
                        self->ReadHeader();
                      });
  }

  // Buffers above this size are released after use, so idle sessions hold little memory.
  static constexpr size_t kKeptBuffer = 256 << 10;
  static constexpr size_t kInitialBuffer = 16 << 10;

  ServerContext& context_;
  tcp::socket socket_;
  asio::steady_timer timer_;
  std::chrono::steady_clock::time_point deadline_;
  bool timer_waiting_ = false;
  std::unique_ptr<SessionHandler> handler_;
  std::string peer_;
  bool greeted_ = false;
  std::vector<uint8_t> in_;  // received bytes; [in_begin_, in_end_) not yet handled
  size_t in_begin_ = 0;
  size_t in_end_ = 0;
  std::vector<uint8_t> out_;
};

}  // namespace

struct ReceptionService::Impl {
  explicit Impl(ServerContext& c) : context(c) {}

  void Accept() {
    asio::io_context& target = *workers[next_worker++ % workers.size()];
    acceptor->async_accept(target, [this, &target](const std::error_code& ec, tcp::socket socket) {
      if (ec == asio::error::operation_aborted || !acceptor->is_open()) return;
      if (!ec) {
        // The session belongs to the worker whose context owns its socket.
        auto session = std::make_shared<Session>(context, std::move(socket));
        asio::post(target, [session] { session->Start(); });
        return Accept();
      }
      // Out of descriptors or memory: pause instead of spinning on the failing accept.
      retry_timer.expires_after(std::chrono::milliseconds(100));
      retry_timer.async_wait([this](const std::error_code& wait_error) {
        if (!wait_error && acceptor->is_open()) Accept();
      });
    });
  }

  ServerContext& context;
  asio::io_context accept_context;
  asio::steady_timer retry_timer{accept_context};
  std::vector<std::unique_ptr<asio::io_context>> workers;
  std::vector<asio::executor_work_guard<asio::io_context::executor_type>> guards;
  std::unique_ptr<tcp::acceptor> acceptor;
  std::vector<std::thread> threads;
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

  for (unsigned i = 0; i < d.context.config.workers; ++i) {
    d.workers.push_back(std::make_unique<asio::io_context>(1));
    d.guards.push_back(asio::make_work_guard(*d.workers.back()));
  }
  d.Accept();
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
  });
  d.accept_thread.join();
  for (auto& guard : d.guards) guard.reset();
  for (auto& worker : d.workers) worker->stop();
  for (auto& thread : d.threads) thread.join();
  d.threads.clear();
  // Destroying the contexts frees the sessions still waiting for I/O.
  d.acceptor.reset();
  d.workers.clear();
  d.guards.clear();
}

}  // namespace vorncom::server

#include "server/metrics_endpoint.h"

#include <array>
#include <asio.hpp>
#include <thread>

namespace vorncom::server {

namespace {

using asio::ip::tcp;

struct Answer {
  int status;
  const char* reason;
  std::string content_type;
  std::string body;
};

Answer Plain(int status, const char* reason, std::string body) {
  return {status, reason, "text/plain; charset=utf-8", std::move(body)};
}

std::string Serialize(const Answer& a, bool head) {
  std::string out = "HTTP/1.1 " + std::to_string(a.status) + ' ' + a.reason + "\r\n";
  out += "Content-Type: " + a.content_type + "\r\n";
  out += "Content-Length: " + std::to_string(a.body.size()) + "\r\n";
  out += "Connection: close\r\n\r\n";
  if (!head) out += a.body;
  return out;
}

}  // namespace

struct MetricsEndpoint::Impl {
  MetricsEndpointOptions options;
  Render metrics;
  HealthCheck health;
  unsigned open = 0;  // connections being served; touched on the io thread only (and outlives it)
  asio::io_context io;
  tcp::acceptor acceptor{io};
  std::thread thread;

  // One connection: read until the end of the headers, answer, close.
  class Exchange : public std::enable_shared_from_this<Exchange> {
   public:
    Exchange(Impl& owner, tcp::socket socket)
        : owner_(owner), socket_(std::move(socket)), timer_(owner.io) {
      ++owner_.open;
    }
    ~Exchange() { --owner_.open; }

    void Begin() {
      timer_.expires_after(owner_.options.timeout);
      timer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
        if (!ec) self->Close();
      });
      Read();
    }

   private:
    void Read() {
      socket_.async_read_some(asio::buffer(chunk_),
                              [self = shared_from_this()](const asio::error_code& ec, size_t n) {
                                self->OnRead(ec, n);
                              });
    }

    void OnRead(const asio::error_code& ec, size_t n) {
      if (ec) return Close();
      request_.append(chunk_.data(), n);
      const size_t end = request_.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (request_.size() > owner_.options.max_request)
          return Send(Plain(431, "Request Header Fields Too Large", "pedido grande demais\n"),
                      false);
        return Read();
      }
      if (end > owner_.options.max_request)
        return Send(Plain(431, "Request Header Fields Too Large", "pedido grande demais\n"), false);
      try {
        Dispatch(request_.substr(0, request_.find("\r\n")));
      } catch (const std::exception& e) {
        // Rendering or checking failed (out of memory, say): this request fails, the loop goes on.
        Send(Plain(500, "Internal Server Error", std::string(e.what()) + "\n"), false);
      }
    }

    // "METHOD TARGET HTTP/1.x"; the headers are not needed for either answer.
    void Dispatch(const std::string& line) {
      const size_t a = line.find(' ');
      const size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
      if (b == std::string::npos || line.find(' ', b + 1) != std::string::npos ||
          line.compare(b + 1, 7, "HTTP/1.") != 0 || line.size() != b + 9)
        return Send(Plain(400, "Bad Request", "pedido inválido\n"), false);
      const std::string method = line.substr(0, a);
      std::string target = line.substr(a + 1, b - a - 1);
      target = target.substr(0, target.find('?'));
      const bool head = method == "HEAD";
      if (target != "/metrics" && target != "/health")
        return Send(Plain(404, "Not Found", "não encontrado\n"), head);
      if (method != "GET" && !head)
        return Send(Plain(405, "Method Not Allowed", "método não permitido\n"), false);
      if (target == "/metrics")
        return Send({200, "OK", "text/plain; version=0.0.4; charset=utf-8", owner_.metrics()},
                    head);
      std::optional<std::string> failure;
      try {
        failure = owner_.health();
      } catch (const std::exception& e) {
        failure = e.what();
      }
      if (failure) return Send(Plain(503, "Service Unavailable", *failure + "\n"), head);
      Send(Plain(200, "OK", "ok\n"), head);
    }

    void Send(const Answer& answer, bool head) {
      reply_ = Serialize(answer, head);
      asio::async_write(
          socket_, asio::buffer(reply_),
          [self = shared_from_this()](const asio::error_code&, size_t) { self->Close(); });
    }

    void Close() {
      asio::error_code ignored;
      socket_.shutdown(tcp::socket::shutdown_both, ignored);
      socket_.close(ignored);
      timer_.cancel();
    }

    Impl& owner_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    std::array<char, 1024> chunk_{};
    std::string request_;
    std::string reply_;
  };

  void Accept() {
    acceptor.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
      if (ec == asio::error::operation_aborted) return;
      if (!ec) {
        if (open >= options.max_connections) {
          asio::error_code ignored;
          socket.close(ignored);
        } else {
          std::make_shared<Exchange>(*this, std::move(socket))->Begin();
        }
      }
      Accept();
    });
  }
};

MetricsEndpoint::MetricsEndpoint(MetricsEndpointOptions options, Render metrics, HealthCheck health)
    : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->metrics = std::move(metrics);
  impl_->health = std::move(health);
}

MetricsEndpoint::~MetricsEndpoint() { Stop(); }

uint16_t MetricsEndpoint::Start() {
  const tcp::endpoint where(asio::ip::make_address(impl_->options.address), impl_->options.port);
  impl_->acceptor.open(where.protocol());
  impl_->acceptor.set_option(tcp::acceptor::reuse_address(true));
  impl_->acceptor.bind(where);
  impl_->acceptor.listen();
  const uint16_t port = impl_->acceptor.local_endpoint().port();
  impl_->Accept();
  impl_->thread = std::thread([this] { impl_->io.run(); });
  return port;
}

void MetricsEndpoint::Stop() {
  if (!impl_->thread.joinable()) return;
  // Stopping the loop drops the pending handlers, and with them the exchanges they hold.
  impl_->io.stop();
  impl_->thread.join();
  asio::error_code ignored;
  impl_->acceptor.close(ignored);
}

}  // namespace vorncom::server

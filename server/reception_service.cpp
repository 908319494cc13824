#include "server/reception_service.h"

#include <asio.hpp>
#include <atomic>
#include <thread>
#include <vector>

#include "common/messages.h"
#include "server/refused_connection.h"
#include "server/session_connection.h"

namespace vorncom::server {

using asio::ip::tcp;

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
          auto refusal = std::make_shared<RefusedConnection>(
              std::move(socket),
              msg::Format(msg::kSrvSessionLimit, {std::to_string(context.config.max_sessions)}),
              context.Tls(), context.config.tls_handshake_timeout);
          asio::post(target, [refusal] { refusal->Start(); });
          return Accept();
        }
        // The session belongs to the worker whose context owns its socket.
        // Each new session takes the context current now, so a reload changes no running one.
        auto session = std::make_shared<SessionConnection>(context, std::move(socket), *checks,
                                                           checks_open, context.Tls());
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

  // Uploads left unresumed expire while the server runs, not only at its next start. The expiry
  // asks the registry, so it runs on the check pool: the accept loop goes on accepting.
  void ExpireUploadsHourly() {
    expiry_timer.expires_after(std::chrono::hours(1));
    expiry_timer.async_wait([this](const std::error_code& ec) {
      if (ec) return;
      asio::post(*checks, [this] {
        try {
          context.ExpireUploads();
        } catch (const std::exception& e) {
          context.log.Write(0, e.what());
        }
      });
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

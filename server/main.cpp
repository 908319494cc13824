// vorncom-server: the reference reception server.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "common/atomic_file.h"
#include "common/messages.h"
#include "server/config.h"
#include "server/metrics_endpoint.h"
#include "server/reception_service.h"
#include "server/server_context.h"

namespace {

namespace msg = vorncom::msg;

// Every session holds a socket and an upload or download file; the soft descriptor limit is
// often far below what max_sessions needs, while the hard limit allows it.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
    std::cerr << "vorncom-server: " << msg::kSrvNoDescriptorLimit << "\n";
}

// The monitoring listener, when metrics_address asks for one. Health: the registry answers and the
// store can be written.
std::unique_ptr<vorncom::server::MetricsEndpoint> StartMonitoring(
    vorncom::server::ServerContext& context) {
  using namespace vorncom::server;
  if (context.config.metrics_address.empty()) return nullptr;
  const auto where = SplitHostPort(context.config.metrics_address);  // checked with the config
  MetricsEndpointOptions options;
  options.address = where->first;
  options.port = where->second;
  auto endpoint = std::make_unique<MetricsEndpoint>(
      options, [&context] { return context.metrics.registry.Render(); },
      [&context]() -> std::optional<std::string> {
        if (auto unreachable = context.registry.CheckReachable()) return unreachable;
        struct stat st {};
        if (::stat(context.store_folder.c_str(), &st) != 0 ||
            ::access(context.store_folder.c_str(), W_OK | X_OK) != 0)
          return msg::Format(msg::kSrvStoreUnusable, {std::strerror(errno)});
        if (!S_ISDIR(st.st_mode))
          return msg::Format(msg::kSrvStoreUnusable, {std::strerror(ENOTDIR)});
        return std::nullopt;
      });
  const uint16_t port = endpoint->Start();
  std::cerr << "vorncom-server: "
            << msg::Format(msg::kSrvMetricsListening, {options.address, std::to_string(port)})
            << std::endl;
  return endpoint;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vorncom::server;
  std::string config_path, port_file;
  long port = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "vorncom-server: " << msg::Format(msg::kSrvMissingValue, {arg}) << "\n"
                  << msg::kSrvUsage;
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << msg::kSrvUsage;
      return 0;
    } else if (arg == "--version") {
      std::cout << "vorncom-server " VORNCOM_VERSION "\n";
      return 0;
    } else if (arg == "--config") {
      config_path = value();
    } else if (arg == "--port") {
      const std::string v = value();
      char* end = nullptr;
      port = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || port < 0 || port > 65535) {
        std::cerr << "vorncom-server: " << msg::Format(msg::kSrvInvalidPort, {v}) << "\n";
        return 2;
      }
    } else if (arg == "--port-file") {
      port_file = value();
    } else {
      std::cerr << "vorncom-server: " << msg::Format(msg::kSrvUnknownOption, {arg}) << "\n"
                << msg::kSrvUsage;
      return 2;
    }
  }

  // Signals are taken synchronously by this thread; the workers never see them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  RaiseDescriptorLimit();

  try {
    ServerConfig config = config_path.empty() ? ServerConfig{} : LoadServerConfig(config_path);
    if (port >= 0) config.listen_port = static_cast<uint16_t>(port);
    ServerContext context(std::move(config));
    ReceptionService service(context);
    const uint16_t bound = service.Start();
    const bool tls = context.Tls() != nullptr;
    std::cerr << "vorncom-server: "
              << msg::Format(msg::kSrvListening,
                             {context.config.listen_address, std::to_string(bound)})
              << (tls ? msg::kSrvOverTls : msg::kSrvOverPlainTcp) << std::endl;
    if (!tls) std::cerr << "vorncom-server: " << msg::kSrvNoCertificate << std::endl;
    const auto monitoring = StartMonitoring(context);
    if (!port_file.empty()) {
      try {
        vorncom::WriteFileAtomically(port_file, std::to_string(bound) + "\n");
      } catch (const vorncom::EFileReplaceError&) {
        std::cerr << "vorncom-server: " << msg::Format(msg::kSrvPortFileNotWritten, {port_file})
                  << "\n";
        return 1;
      }
    }
    int received = 0;
    while (sigwait(&signals, &received) == 0 && received == SIGHUP) {
      // New handshakes use the files as they are now; running sessions keep their keys.
      try {
        if (tls) context.ReloadTls();
        std::cerr << "vorncom-server: " << (tls ? msg::kSrvTlsReloaded : msg::kSrvNothingToReload)
                  << std::endl;
      } catch (const std::exception& e) {
        std::cerr << "vorncom-server: " << msg::Format(msg::kSrvTlsReloadFailed, {e.what()})
                  << std::endl;
      }
    }
    std::cerr << "vorncom-server: "
              << msg::Format(msg::kSrvSignalReceived, {std::to_string(received)}) << std::endl;
    service.Stop();
    if (monitoring) monitoring->Stop();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "vorncom-server: " << e.what() << "\n";
    return 1;
  }
}

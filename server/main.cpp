// vorncom-server: the reference reception server.
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include "common/atomic_file.h"
#include "server/config.h"
#include "server/reception_service.h"
#include "server/server_context.h"

namespace {

constexpr char kUsage[] =
    "Uso: vorncom-server [--config ARQUIVO] [--port PORTA] [--port-file ARQUIVO]\n"
    "\n"
    "Servidor de recepção de formulários do VornCom.\n"
    "\n"
    "  --config ARQUIVO     lê a configuração (chave = valor; veja docs/wire-protocol.md)\n"
    "  --port PORTA         porta de escuta (substitui listen_port; 0 escolhe uma livre)\n"
    "  --port-file ARQUIVO  grava a porta de escuta nesse arquivo quando pronto\n"
    "  --help               mostra esta ajuda\n"
    "\n"
    "Encerra de forma ordenada com SIGINT ou SIGTERM; SIGHUP relê o certificado TLS.\n";

// Every session holds a socket and an upload or download file; the soft descriptor limit is
// often far below what max_sessions needs, while the hard limit allows it.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
    std::cerr << "vorncom-server: não foi possível elevar o limite de arquivos abertos\n";
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
        std::cerr << "vorncom-server: falta o valor de " << arg << "\n" << kUsage;
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--config") {
      config_path = value();
    } else if (arg == "--port") {
      const std::string v = value();
      char* end = nullptr;
      port = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || port < 0 || port > 65535) {
        std::cerr << "vorncom-server: porta inválida: " << v << "\n";
        return 2;
      }
    } else if (arg == "--port-file") {
      port_file = value();
    } else {
      std::cerr << "vorncom-server: opção desconhecida: " << arg << "\n" << kUsage;
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
    std::cerr << "vorncom-server: escutando em " << context.config.listen_address << ":" << bound
              << (tls ? " (TLS)" : " (TCP sem TLS)") << std::endl;
    if (!tls)
      std::cerr << "vorncom-server: nenhum certificado configurado (tls_certificate): as conexões "
                   "não são cifradas"
                << std::endl;
    if (!port_file.empty()) {
      try {
        vorncom::WriteFileAtomically(port_file, std::to_string(bound) + "\n");
      } catch (const vorncom::EFileReplaceError&) {
        std::cerr << "vorncom-server: não foi possível gravar " << port_file << "\n";
        return 1;
      }
    }
    int received = 0;
    while (sigwait(&signals, &received) == 0 && received == SIGHUP) {
      // New handshakes use the files as they are now; running sessions keep their keys.
      try {
        if (tls) context.ReloadTls();
        std::cerr << "vorncom-server: "
                  << (tls ? "certificado TLS recarregado" : "sem TLS, nada a recarregar")
                  << std::endl;
      } catch (const std::exception& e) {
        std::cerr << "vorncom-server: " << e.what() << " O certificado anterior continua em uso."
                  << std::endl;
      }
    }
    std::cerr << "vorncom-server: sinal " << received << " recebido, encerrando" << std::endl;
    service.Stop();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "vorncom-server: " << e.what() << "\n";
    return 1;
  }
}

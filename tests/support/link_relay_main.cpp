// vorncom-link-relay: the link relay of support/link_relay.h as a process, for tests and
// benchmarks written as scripts or running the relay apart from the processes measured.
#include <signal.h>
#include <stdio.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/link_relay.h"

namespace {

using namespace vorncom::testing;

constexpr const char* kUsage = R"(Uso: vorncom-link-relay --target HOST:PORTA [opções]

Aceita conexões em 127.0.0.1 e liga cada uma ao destino através de um enlace simulado.
  --target HOST:PORTA     destino; repetido, um relé por destino, todos com o mesmo enlace
  --listen-port N         porta de escuta (com um só destino; padrão: uma porta livre)
  --port-file ARQUIVO     recebe as portas de escuta, uma por linha, na ordem dos destinos
  --delay-ms MS           atraso de ida, nos dois sentidos (--up-delay-ms, --down-delay-ms)
  --rate BITS             taxa em bits/s, nos dois sentidos, com sufixo k, M ou G
                          (--up-rate, --down-rate); 0: sem limite
  --queue-margin BYTES    fila além de atraso × taxa (padrão 65536)
  --cut REGRA             corte; REGRA é SENTIDO:GATILHO[:skip=N][:connections=M], SENTIDO up
                          (cliente → servidor) ou down, GATILHO bytes=N, frames=K ou method=NOME
  --cut-style reset|close|stall
                          corte com RST (padrão), com FIN, ou silêncio com as conexões abertas
  --stats-file ARQUIVO    contadores em uma linha JSON, em SIGUSR1 e na saída (padrão: saída
                          padrão)
SIGUSR2 corta as conexões abertas; SIGINT e SIGTERM encerram.
)";

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "vorncom-link-relay: " << message << '\n';
  std::exit(2);
}

uint64_t ParseCount(std::string_view text, const std::string& option) {
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty())
    Fail("valor inválido para " + option + ": " + std::string(text));
  return value;
}

double ParseNumber(std::string_view text, const std::string& option) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() || value < 0 ||
      !std::isfinite(value))
    Fail("valor inválido para " + option + ": " + std::string(text));
  return value;
}

uint64_t ParseRate(std::string_view text, const std::string& option) {
  double scale = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'k':
        scale = 1e3;
        break;
      case 'M':
        scale = 1e6;
        break;
      case 'G':
        scale = 1e9;
        break;
      default:
        break;
    }
    if (scale != 1) text.remove_suffix(1);
  }
  return static_cast<uint64_t>(std::llround(ParseNumber(text, option) * scale));
}

std::chrono::microseconds ParseDelay(std::string_view text, const std::string& option) {
  return std::chrono::microseconds(std::llround(ParseNumber(text, option) * 1000));
}

CutFault ParseCut(std::string_view rule) {
  CutFault fault;
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    const size_t colon = rule.find(':', start);
    parts.push_back(rule.substr(start, colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2) Fail("regra de corte inválida: " + std::string(rule));
  if (parts[0] == "up")
    fault.direction = Direction::kUp;
  else if (parts[0] == "down")
    fault.direction = Direction::kDown;
  else
    Fail("sentido inválido: " + std::string(parts[0]));
  for (size_t i = 1; i < parts.size(); ++i) {
    const size_t equals = parts[i].find('=');
    if (equals == std::string_view::npos) Fail("regra de corte inválida: " + std::string(rule));
    const std::string_view key = parts[i].substr(0, equals), value = parts[i].substr(equals + 1);
    if (i == 1 && key == "bytes") {
      fault.trigger = CutFault::Trigger::kBytes;
      fault.count = ParseCount(value, "bytes");
    } else if (i == 1 && key == "frames") {
      fault.trigger = CutFault::Trigger::kFrames;
      fault.count = ParseCount(value, "frames");
    } else if (i == 1 && key == "method" && !value.empty()) {
      fault.trigger = CutFault::Trigger::kMethod;
      fault.method = std::string(value);
    } else if (i > 1 && key == "skip") {
      fault.skip_connections = ParseCount(value, "skip");
    } else if (i > 1 && key == "connections") {
      fault.connections = ParseCount(value, "connections");
    } else {
      Fail("regra de corte inválida: " + std::string(rule));
    }
  }
  return fault;
}

void WriteStats(const std::vector<std::unique_ptr<LinkRelay>>& relays, const std::string& file) {
  RelayStats total;
  for (const auto& relay : relays) total += relay->Stats();
  if (file.empty()) {
    std::cout << total.ToJson() << std::endl;
    return;
  }
  // Readers never see a half-written line.
  const std::string temporary = file + ".tmp";
  std::ofstream(temporary) << total.ToJson() << '\n';
  std::rename(temporary.c_str(), file.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  RelayOptions options;
  std::vector<std::pair<std::string, uint16_t>> targets;
  std::string port_file, stats_file;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (i + 1 >= args.size()) Fail("falta o valor de " + option + "\n" + kUsage);
    const std::string& value = args[++i];
    if (option == "--target") {
      const size_t colon = value.rfind(':');
      if (colon == std::string::npos || colon == 0) Fail("destino inválido: " + value);
      const uint64_t port = ParseCount(std::string_view(value).substr(colon + 1), option);
      if (port == 0 || port > 65535) Fail("porta inválida: " + value);
      targets.emplace_back(value.substr(0, colon), static_cast<uint16_t>(port));
    } else if (option == "--listen-port") {
      const uint64_t port = ParseCount(value, option);
      if (port > 65535) Fail("porta inválida: " + value);
      options.listen_port = static_cast<uint16_t>(port);
    } else if (option == "--port-file") {
      port_file = value;
    } else if (option == "--stats-file") {
      stats_file = value;
    } else if (option == "--delay-ms") {
      options.up.delay = options.down.delay = ParseDelay(value, option);
    } else if (option == "--up-delay-ms") {
      options.up.delay = ParseDelay(value, option);
    } else if (option == "--down-delay-ms") {
      options.down.delay = ParseDelay(value, option);
    } else if (option == "--rate") {
      options.up.rate_bps = options.down.rate_bps = ParseRate(value, option);
    } else if (option == "--up-rate") {
      options.up.rate_bps = ParseRate(value, option);
    } else if (option == "--down-rate") {
      options.down.rate_bps = ParseRate(value, option);
    } else if (option == "--queue-margin") {
      options.up.queue_margin = options.down.queue_margin = ParseCount(value, option);
    } else if (option == "--cut") {
      options.faults.push_back(ParseCut(value));
    } else if (option == "--cut-style") {
      if (value == "reset")
        options.cut_style = CutStyle::kReset;
      else if (value == "close")
        options.cut_style = CutStyle::kClose;
      else if (value == "stall")
        options.cut_style = CutStyle::kStall;
      else
        Fail("estilo de corte inválido: " + value);
    } else {
      Fail("opção desconhecida: " + option + "\n" + kUsage);
    }
  }
  if (targets.empty()) Fail("falta --target\n" + std::string(kUsage));
  if (targets.size() > 1 && options.listen_port != 0) Fail("--listen-port pede um só destino");

  // Blocked before any thread starts, so that only sigwait below receives them.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int s : {SIGUSR1, SIGUSR2, SIGINT, SIGTERM}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  std::vector<std::unique_ptr<LinkRelay>> relays;
  std::string ports;
  try {
    for (const auto& [host, port] : targets) {
      RelayOptions one = options;
      one.target_host = host;
      one.target_port = port;
      relays.push_back(std::make_unique<LinkRelay>(std::move(one)));
      ports += std::to_string(relays.back()->port()) + "\n";
    }
  } catch (const std::exception& e) {
    Fail(std::string("não foi possível escutar: ") + e.what());
  }
  if (!port_file.empty()) {
    const std::string temporary = port_file + ".tmp";
    std::ofstream(temporary) << ports;
    std::rename(temporary.c_str(), port_file.c_str());
  } else {
    std::cout << ports << std::flush;
  }

  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (received == SIGUSR1) {
      WriteStats(relays, stats_file);
    } else if (received == SIGUSR2) {
      for (const auto& relay : relays) relay->CutNow();
    } else {
      break;
    }
  }
  for (const auto& relay : relays) relay->Stop();
  WriteStats(relays, stats_file);
  return 0;
}

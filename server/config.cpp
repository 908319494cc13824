#include "server/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <asio/ip/address.hpp>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <sstream>

#include "common/messages.h"
#include "common/text.h"

namespace vorncom::server {

namespace {

constexpr off_t kMaxConfigSize = 1 << 20;

// The configuration file may have been written with CR LF line ends.
std::string Trim(std::string_view s) { return std::string(TrimBlanks(s, kLineBlanks)); }

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(sep, start);
    parts.push_back(Trim(s.substr(start, at - start)));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

[[noreturn]] void FailLine(int line, const std::string& what) {
  throw EServerConfigError(msg::Format(msg::kSrvConfigLineInvalid, {std::to_string(line), what}));
}

// One `key = value` line; every failure names the line, the key and the value.
class LineParser {
 public:
  LineParser(int line, std::string key, std::string value)
      : line_(line), key_(std::move(key)), value_(std::move(value)) {}

  [[noreturn]] void Fail(const std::string& what) const {
    throw EServerConfigError(
        msg::Format(msg::kSrvConfigValueInvalid, {std::to_string(line_), key_, value_, what}));
  }
  int64_t Integer(const std::string& v, int64_t min, int64_t max) const {
    int64_t n = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (ec != std::errc() || end != v.data() + v.size() || n < min || n > max)
      Fail(msg::Format(msg::kSrvConfigIntegerExpected, {std::to_string(min), std::to_string(max)}));
    return n;
  }
  bool Boolean(const std::string& v) const {
    if (v == "true" || v == "yes" || v == "1") return true;
    if (v == "false" || v == "no" || v == "0") return false;
    Fail(std::string(msg::kSrvConfigBooleanExpected));
  }
  std::optional<int32_t> OptionalStatus(const std::string& v) const {
    if (v.empty()) return std::nullopt;
    return static_cast<int32_t>(Integer(v, 0, 255));
  }
  std::string Address(const std::string& v) const {
    std::error_code ec;
    asio::ip::make_address(v, ec);
    if (ec) Fail(std::string(msg::kSrvConfigAddressExpected));
    return v;
  }
  std::string NonEmpty(const std::string& v) const {
    if (v.empty()) Fail(std::string(msg::kSrvConfigValueEmpty));
    return v;
  }
  int line() const { return line_; }

 private:
  int line_;
  std::string key_;
  std::string value_;
};

// "\n" in a message stands for a line break, stored as CR LF; "\\" for a backslash.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char c = s[++i];
      if (c == 'n') {
        out += "\r\n";
      } else {
        out += c;
      }
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

std::optional<std::pair<std::string, uint16_t>> SplitHostPort(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  const std::string_view port = text.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return std::nullopt;  // an IPv6 address needs its brackets
  }
  uint16_t number = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size()) return std::nullopt;
  std::error_code bad;
  asio::ip::make_address(std::string(host), bad);
  if (bad) return std::nullopt;
  return std::make_pair(std::string(host), number);
}

std::string ServerConfig::DownloadFolder() const {
  return download_folder.empty() ? data_folder + "/downloads" : download_folder;
}

std::string ServerConfig::IncomingFolder() const {
  return incoming_folder.empty() ? data_folder + "/incoming" : incoming_folder;
}

std::string ServerConfig::StoreFolder() const {
  return store_folder.empty() ? data_folder + "/store" : store_folder;
}

ServerConfig ParseServerConfig(const std::string& text) {
  ServerConfig c;
  std::istringstream in(text);
  std::string raw;
  int number = 0;
  // Where packet_size and max_frame were set, to name the line when they do not fit together.
  std::optional<LineParser> packet_size_line, max_frame_line;
  while (std::getline(in, raw)) {
    ++number;
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) FailLine(number, "falta \"=\" em \"" + line + "\"");
    const std::string key = Trim(line.substr(0, eq));
    const std::string v = Trim(line.substr(eq + 1));
    const LineParser p(number, key, v);

    if (key == "listen_address") {
      c.listen_address = p.Address(v);
    } else if (key == "listen_port") {
      c.listen_port = static_cast<uint16_t>(p.Integer(v, 0, 65535));
    } else if (key == "workers") {
      c.workers = static_cast<unsigned>(p.Integer(v, 1, 64));
    } else if (key == "data_folder") {
      c.data_folder = p.NonEmpty(v);
    } else if (key == "download_folder") {
      c.download_folder = v;
    } else if (key == "incoming_folder") {
      c.incoming_folder = v;
    } else if (key == "store_folder") {
      c.store_folder = v;
    } else if (key == "registry") {
      if (!v.starts_with("postgresql://") && !v.starts_with("postgres://") &&
          !v.starts_with("sqlite:"))
        p.Fail(msg::Format(msg::kSrvRegistryLocationInvalid, {v}));
      c.registry = v;
    } else if (key == "registry_connections") {
      c.registry_connections = static_cast<unsigned>(p.Integer(v, 1, 64));
    } else if (key == "packet_size") {
      c.packet_size = static_cast<int32_t>(p.Integer(v, 1, 16 << 20));
      packet_size_line = p;
    } else if (key == "max_frame") {
      c.max_frame = static_cast<size_t>(p.Integer(v, 1024, 256 << 20));
      max_frame_line = p;
    } else if (key == "max_upload") {
      c.max_upload = p.Integer(v, 0, INT32_MAX);
    } else if (key == "max_expansion") {
      c.max_expansion = static_cast<unsigned>(p.Integer(v, 1, 1'000'000));
    } else if (key == "max_sessions") {
      c.max_sessions = static_cast<unsigned>(p.Integer(v, 1, 1'000'000));
    } else if (key == "max_protocol_version") {
      c.max_protocol_version = static_cast<uint32_t>(p.Integer(v, 1, 2));
    } else if (key == "resume_hours") {
      c.resume_hours = std::chrono::hours(p.Integer(v, 1, 24 * 365));
    } else if (key == "resume_sync_bytes") {
      c.resume_sync_bytes = p.Integer(v, 4096, INT32_MAX);
    } else if (key == "dedup_days") {
      c.dedup_days = static_cast<unsigned>(p.Integer(v, 0, 3650));
    } else if (key == "idle_timeout_ms") {
      c.idle_timeout = std::chrono::milliseconds(p.Integer(v, 1, 86'400'000));
    } else if (key == "accepting") {
      c.accepting = p.Boolean(v);
    } else if (key == "busy_limit") {
      c.busy_limit = static_cast<unsigned>(p.Integer(v, 0, 1'000'000));
    } else if (key == "status_send") {
      c.status_send = static_cast<int32_t>(p.Integer(v, 0, 255));
    } else if (key == "status_receive") {
      c.status_receive = static_cast<int32_t>(p.Integer(v, 0, 255));
    } else if (key == "status_query") {
      c.status_query = static_cast<int32_t>(p.Integer(v, 0, 255));
    } else if (key == "form_status") {
      c.form_status = static_cast<int32_t>(p.Integer(v, 0, 255));
    } else if (key == "default_message") {
      c.default_message = Unescape(v);
    } else if (key == "form") {
      // form = TYPE | VERSION | server status | form status (either may be left empty)
      const auto f = Split(v, '|');
      if (f.size() != 4) p.Fail(std::string(msg::kSrvConfigFormSyntax));
      FormRule& rule = c.forms[{f[0], f[1]}];
      rule.server_status = p.OptionalStatus(f[2]);
      rule.form_status = p.OptionalStatus(f[3]);
    } else if (key == "message") {
      // message = TYPE | VERSION | text
      const size_t a = v.find('|');
      const size_t b = a == std::string::npos ? a : v.find('|', a + 1);
      if (b == std::string::npos) p.Fail(std::string(msg::kSrvConfigMessageSyntax));
      c.forms[{Trim(v.substr(0, a)), Trim(v.substr(a + 1, b - a - 1))}].message =
          Unescape(Trim(v.substr(b + 1)));
    } else if (key == "server") {
      // server = NAME [| PORT [| disabled]]
      const auto f = Split(v, '|');
      rpc::ServerItem item;
      item.computer_name = f[0];
      if (f.size() > 1 && !f[1].empty())
        item.port = static_cast<int32_t>(p.Integer(f[1], 1, 65535));
      if (f.size() > 2) item.enabled = f[2] != "disabled";
      if (f.size() > 3 || item.computer_name.empty())
        p.Fail(std::string(msg::kSrvConfigServerSyntax));
      c.servers.push_back(item);
    } else if (key == "server_address") {
      c.server_address = v;
    } else if (key == "protocol_prefix") {
      c.protocol_prefix = v;
    } else if (key == "log_sessions") {
      c.log_sessions = p.Boolean(v);
    } else if (key == "log_format") {
      if (v != "text" && v != "json") p.Fail(std::string(msg::kSrvLogFormat));
      c.log_format = v == "json" ? ServerConfig::LogFormat::kJson : ServerConfig::LogFormat::kText;
    } else if (key == "metrics_address") {
      if (!v.empty() && !SplitHostPort(v)) p.Fail(std::string(msg::kSrvHostPortExpected));
      c.metrics_address = v;
    } else if (key == "tls_certificate") {
      c.tls_certificate = p.NonEmpty(v);
    } else if (key == "tls_private_key") {
      c.tls_private_key = p.NonEmpty(v);
    } else if (key == "tls_client_ca") {
      c.tls_client_ca = p.NonEmpty(v);
    } else if (key == "tls_max_version") {
      if (v != "1.2" && v != "1.3") p.Fail(std::string(msg::kSrvTlsVersion));
      c.tls_max_version = v == "1.2" ? 0x0303 : 0x0304;
    } else if (key == "tls_handshake_timeout_ms") {
      c.tls_handshake_timeout = std::chrono::milliseconds(p.Integer(v, 1, 600'000));
    } else if (key == "fault_refuse") {
      c.fault_refuse = p.Boolean(v);
    } else if (key == "fault_stall") {
      c.fault_stall = p.Boolean(v);
    } else if (key == "fault_drop_after_packets") {
      c.fault_drop_after_packets = static_cast<unsigned>(p.Integer(v, 0, 1'000'000'000));
    } else if (key == "fault_check_delay_ms") {
      c.fault_check_delay = std::chrono::milliseconds(p.Integer(v, 0, 600'000));
    } else {
      FailLine(number, msg::Format(msg::kSrvConfigUnknownKey, {key}));
    }
  }
  if (c.tls_certificate.empty() != c.tls_private_key.empty())
    throw EServerConfigError(msg::Format(msg::kSrvConfigInvalid, {msg::kSrvTlsKeysTogether}));
  if (!c.tls_client_ca.empty() && c.tls_certificate.empty())
    throw EServerConfigError(msg::Format(msg::kSrvConfigInvalid, {msg::kSrvTlsClientCaAlone}));
  // A packet travels inside one frame together with its call's other values.
  if (static_cast<size_t>(c.packet_size) + 1024 > c.max_frame) {
    const std::string why =
        msg::Format(msg::kSrvConfigPacketOverFrame,
                    {std::to_string(c.packet_size), std::to_string(c.max_frame)});
    if (packet_size_line) packet_size_line->Fail(why);
    if (max_frame_line) max_frame_line->Fail(why);
    throw EServerConfigError(msg::Format(msg::kSrvConfigInvalid, {why}));
  }
  return c;
}

ServerConfig LoadServerConfig(const std::string& path) {
  // A folder opens and reads as empty, which would silently start the server on defaults.
  auto fail = [&](const std::string& why) -> void {
    throw EServerConfigError(msg::Format(msg::kSrvConfigUnreadable, {path, why}));
  };
  struct Descriptor {
    int fd;
    ~Descriptor() {
      if (fd >= 0) ::close(fd);
    }
  } file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  const int fd = file.fd;
  if (fd < 0) fail(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) fail(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) fail(std::string(msg::kSrvConfigNotAFile));
  if (st.st_size > kMaxConfigSize) fail(std::string(msg::kSrvConfigTooLarge));
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(std::strerror(errno));
    }
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > static_cast<size_t>(kMaxConfigSize))
      fail(std::string(msg::kSrvConfigTooLarge));
  }
  return ParseServerConfig(text);
}

}  // namespace vorncom::server

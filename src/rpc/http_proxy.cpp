#include "rpc/http_proxy.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <utility>

#include "common/messages.h"
#include "common/registry.h"
#include "common/text.h"
#include "rpc/transport.h"
#include "rpc/transport_policy.h"

namespace vorncom::rpc {

namespace {

using Clock = std::chrono::steady_clock;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCase(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

bool IsHostChar(char c, bool bracketed) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_' || (bracketed && c == ':');
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> PercentDecode(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return std::nullopt;
    const int high = HexDigit(s[i + 1]);
    const int low = HexDigit(s[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::string Base64(std::string_view in) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 3 <= in.size(); i += 3) {
    const uint32_t v = (uint32_t{static_cast<uint8_t>(in[i])} << 16) |
                       (uint32_t{static_cast<uint8_t>(in[i + 1])} << 8) |
                       static_cast<uint8_t>(in[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kDigits[(v >> shift) & 63];
  }
  if (const size_t rest = in.size() - i; rest > 0) {
    uint32_t v = uint32_t{static_cast<uint8_t>(in[i])} << 16;
    if (rest == 2) v |= uint32_t{static_cast<uint8_t>(in[i + 1])} << 8;
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// "host:port", with brackets around an IPv6 address.
std::string HostPort(const std::string& host, int32_t port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// An IPv4 or IPv6 address in network order; `size` 4 or 16, 0 when `text` is no address.
struct IpAddress {
  std::array<uint8_t, 16> bytes{};
  size_t size = 0;
};

IpAddress ParseIp(const std::string& text) {
  IpAddress ip;
  if (::inet_pton(AF_INET, text.c_str(), ip.bytes.data()) == 1) {
    ip.size = 4;
  } else if (::inet_pton(AF_INET6, text.c_str(), ip.bytes.data()) == 1) {
    ip.size = 16;
  }
  return ip;
}

bool SameNetwork(const IpAddress& a, const IpAddress& b, size_t bits) {
  for (size_t i = 0; i < a.size && bits > 0; ++i) {
    const size_t take = std::min<size_t>(bits, 8);
    const auto mask = static_cast<uint8_t>(0xff << (8 - take));
    if ((a.bytes[i] & mask) != (b.bytes[i] & mask)) return false;
    bits -= take;
  }
  return true;
}

// Lower case, without brackets and without a final dot.
std::string NormalHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  while (!host.empty() && host.back() == '.') host.remove_suffix(1);
  return LowerCase(host);
}

bool EntryMatches(std::string_view entry, const std::string& host, const IpAddress& host_ip) {
  if (entry == "*") return true;
  if (const size_t slash = entry.find('/'); slash != std::string_view::npos) {
    const IpAddress network = ParseIp(NormalHost(entry.substr(0, slash)));
    const std::string_view bits_text = entry.substr(slash + 1);
    if (network.size == 0 || network.size != host_ip.size || bits_text.empty() ||
        bits_text.size() > 3 || !std::all_of(bits_text.begin(), bits_text.end(), [](char c) {
          return c >= '0' && c <= '9';
        }))
      return false;
    const size_t bits = static_cast<size_t>(std::atoi(std::string(bits_text).c_str()));
    return bits <= network.size * 8 && SameNetwork(network, host_ip, bits);
  }
  const std::string name = NormalHost(entry);
  if (const IpAddress ip = ParseIp(name); ip.size != 0) {
    return ip.size == host_ip.size &&
           std::equal(ip.bytes.begin(), ip.bytes.begin() + ip.size, host_ip.bytes.begin());
  }
  std::string_view domain = name;
  while (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  if (domain.empty() || host_ip.size != 0) return false;
  if (host == domain) return true;
  return host.size() > domain.size() && host.ends_with(domain) &&
         host[host.size() - domain.size() - 1] == '.';
}

// The first of `names` set to a non-empty value: {name, value}, or {nullptr, nullptr}.
std::pair<const char*, const char*> Env(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return {name, value};
  }
  return {nullptr, nullptr};
}

[[noreturn]] void InvalidSetting(std::string_view where) {
  throw EProxyError(msg::Format(msg::kProxyInvalidSetting, {where}));
}

std::optional<Registry::Value> RegistryValue(const Registry& registry, std::string_view name) {
  return registry.ReadValue(std::string(kSecurityKey), std::string(name));
}

// A credential stored as anything but text is no credential.
std::string RegistryText(const Registry& registry, std::string_view name) {
  const auto value = RegistryValue(registry, name);
  const auto* text = value ? std::get_if<std::string>(&*value) : nullptr;
  return text != nullptr ? *text : std::string();
}

class SocketGuard {
 public:
  explicit SocketGuard(int fd) : fd_(fd) {}
  ~SocketGuard() {
    if (fd_ >= 0) ::close(fd_);
  }
  SocketGuard(const SocketGuard&) = delete;
  SocketGuard& operator=(const SocketGuard&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// A non-blocking TCP socket connected to the proxy, trying each of its addresses in turn.
int ConnectToProxy(const ProxySettings& proxy, const std::string& name,
                   Clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = ParseIp(proxy.host).size != 0 ? AI_NUMERICHOST : AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(proxy.port);
  if (::getaddrinfo(proxy.host.c_str(), service.c_str(), &hints, &found) != 0)
    throw EProxyError(msg::Format(msg::kProxyNotFound, {name}));
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, ::freeaddrinfo);

  for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    SocketGuard fd(
        ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol));
    if (fd.get() < 0) continue;
    int err = 0;
    if (::connect(fd.get(), ai->ai_addr, ai->ai_addrlen) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        if (!WaitForSocket(fd.get(), Transport::Wait::kWrite, deadline))
          throw EProxyError(msg::Format(msg::kProxyTimeout, {name}));
        socklen_t len = sizeof err;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      }
    }
    if (err != 0) continue;
    int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd.release();
  }
  throw EProxyError(msg::Format(msg::kProxyUnreachable, {name}));
}

void SendAll(int fd, std::string_view data, const std::string& name, Clock::time_point deadline) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      data.remove_prefix(static_cast<size_t>(n));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitForSocket(fd, Transport::Wait::kWrite, deadline))
        throw EProxyError(msg::Format(msg::kProxyTimeout, {name}));
    } else if (errno != EINTR) {
      throw EProxyError(msg::Format(msg::kProxyClosed, {name}));
    }
  }
}

// The status code of an answer's first line ("HTTP/1.1 200 Connection established"), or -1.
int StatusCode(std::string_view line) {
  if (line.size() < 12 || !line.starts_with("HTTP/1.") || line[7] < '0' || line[7] > '9' ||
      line[8] != ' ')
    return -1;
  int code = 0;
  for (size_t i = 9; i < 12; ++i) {
    if (line[i] < '0' || line[i] > '9') return -1;
    code = code * 10 + (line[i] - '0');
  }
  if (line.size() > 12 && line[12] != ' ') return -1;
  return code < 100 ? -1 : code;
}

// How many bytes of "\r\n\r\n" the end of `s` already holds.
size_t TerminatorHeld(std::string_view s) {
  static constexpr std::string_view kEnd = "\r\n\r\n";
  for (size_t k = std::min(s.size(), size_t{3}); k > 0; --k) {
    if (s.ends_with(kEnd.substr(0, k))) return k;
  }
  return 0;
}

}  // namespace

std::optional<ProxySettings> ParseProxyUrl(std::string_view text) {
  text = TrimBlanks(text);
  if (const size_t scheme = text.find("://"); scheme != std::string_view::npos) {
    if (LowerCase(text.substr(0, scheme)) != "http") return std::nullopt;
    text.remove_prefix(scheme + 3);
    if (text.ends_with('/')) text.remove_suffix(1);
  }
  ProxySettings proxy;
  if (const size_t at = text.rfind('@'); at != std::string_view::npos) {
    const std::string_view userinfo = text.substr(0, at);
    const size_t colon = userinfo.find(':');
    auto user = PercentDecode(userinfo.substr(0, colon));
    auto password = colon == std::string_view::npos ? std::optional<std::string>("")
                                                    : PercentDecode(userinfo.substr(colon + 1));
    if (!user || !password) return std::nullopt;
    proxy.user = std::move(*user);
    proxy.password = std::move(*password);
    text.remove_prefix(at + 1);
  }
  std::string_view host;
  std::string_view port;
  bool bracketed = false;
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || text.substr(close + 1, 1) != ":") return std::nullopt;
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
    bracketed = true;
  } else {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  if (host.empty() ||
      !std::all_of(host.begin(), host.end(), [&](char c) { return IsHostChar(c, bracketed); }))
    return std::nullopt;
  if (bracketed && ParseIp(std::string(host)).size != 16) return std::nullopt;
  if (port.empty() || port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  proxy.port = std::atoi(std::string(port).c_str());
  if (proxy.port < 1 || proxy.port > 65535) return std::nullopt;
  proxy.host = host;
  return proxy;
}

bool NoProxyMatches(std::string_view list, std::string_view host) {
  const std::string name = NormalHost(host);
  const IpAddress ip = ParseIp(name);
  while (!list.empty()) {
    const size_t end = list.find_first_of(", \t");
    const std::string_view entry = list.substr(0, end);
    if (!entry.empty() && EntryMatches(entry, name, ip)) return true;
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return false;
}

std::optional<ProxySettings> ProxyFor(const std::string& host) {
  const Registry registry = Registry::Default();
  if (const auto setting = RegistryValue(registry, kProxyValue)) {
    const auto* text = std::get_if<std::string>(&*setting);
    if (text == nullptr || !TrimBlanks(*text).empty()) {
      std::optional<ProxySettings> proxy = text ? ParseProxyUrl(*text) : std::nullopt;
      if (!proxy) InvalidSetting(std::string(kSecurityKey) + "\\" + std::string(kProxyValue));
      if (std::string user = RegistryText(registry, kProxyUserValue); !user.empty())
        proxy->user = std::move(user);
      if (std::string password = RegistryText(registry, kProxyPasswordValue); !password.empty())
        proxy->password = std::move(password);
      return proxy;
    }
  }
  const auto [name, setting] = Env({"https_proxy", "HTTPS_PROXY"});
  if (setting == nullptr) return std::nullopt;
  if (const char* bypass = Env({"no_proxy", "NO_PROXY"}).second;
      bypass != nullptr && NoProxyMatches(bypass, host))
    return std::nullopt;
  std::optional<ProxySettings> proxy = ParseProxyUrl(setting);
  if (!proxy) InvalidSetting(name);
  return proxy;
}

int OpenProxyTunnel(const ProxySettings& proxy, const std::string& target_host, int32_t target_port,
                    Clock::time_point deadline) {
  // The name goes into the request line: a server list could otherwise smuggle in headers.
  if (target_host.empty() || !std::all_of(target_host.begin(), target_host.end(),
                                          [](char c) { return IsHostChar(c, true); }))
    throw EProxyError(std::string(msg::kProxyBadTarget));
  const std::string name = HostPort(proxy.host, proxy.port);
  const std::string target = HostPort(target_host, target_port);
  SocketGuard fd(ConnectToProxy(proxy, name, deadline));

  std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
  if (!proxy.user.empty() || !proxy.password.empty())
    request += "Proxy-Authorization: Basic " + Base64(proxy.user + ":" + proxy.password) + "\r\n";
  request += "\r\n";
  SendAll(fd.get(), request, name, deadline);

  // Reads never reach past the blank line that ends the answer: whatever follows it is the
  // target's and belongs to the caller.
  std::string answer;
  bool status_checked = false;
  for (;;) {
    if (answer.ends_with("\r\n\r\n")) break;
    const size_t held = TerminatorHeld(answer);
    if (answer.size() >= kMaxProxyAnswer)
      throw EProxyError(msg::Format(msg::kProxyAnswerTooLarge, {name}));
    const size_t want = std::min(4 - held, kMaxProxyAnswer - answer.size());
    char buffer[4];
    const ssize_t n = ::recv(fd.get(), buffer, want, 0);
    if (n > 0) {
      answer.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      throw EProxyError(
          msg::Format(answer.empty() ? msg::kProxyClosed : msg::kProxyInvalidAnswer, {name}));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitForSocket(fd.get(), Transport::Wait::kRead, deadline))
        throw EProxyError(msg::Format(msg::kProxyTimeout, {name}));
      continue;
    } else if (errno != EINTR) {
      throw EProxyError(msg::Format(msg::kProxyClosed, {name}));
    } else {
      continue;
    }
    if (status_checked) continue;
    const size_t line_end = answer.find("\r\n");
    if (line_end == std::string::npos) continue;
    status_checked = true;
    // A refusal is known from its first line; its body is of no use here.
    const int code = StatusCode(std::string_view(answer).substr(0, line_end));
    if (code < 0) throw EProxyError(msg::Format(msg::kProxyInvalidAnswer, {name}));
    if (code >= 200 && code <= 299) continue;
    const std::string code_text = std::to_string(code);
    if (code == 407 || code == 401) {
      const bool sent = !proxy.user.empty() || !proxy.password.empty();
      throw EProxyError(
          msg::Format(sent ? msg::kProxyAuthRefused : msg::kProxyAuthRequired, {code_text}));
    }
    throw EProxyError(msg::Format(msg::kProxyRefused, {target, code_text}));
  }
  return fd.release();
}

}  // namespace vorncom::rpc

#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "rpc/errors.h"

namespace vorncom::rpc {

// The proxy setting or the proxy itself gave no tunnel: a broken setting, a proxy that cannot be
// reached, refuses, answers garbage or not in time. The message is the reason alone, in words
// for the user.
class EProxyError : public EConnectionError {
 public:
  using EConnectionError::EConnectionError;
};

// An HTTP proxy that tunnels connections with CONNECT.
struct ProxySettings {
  std::string host;  // name or address; an IPv6 address without brackets
  int32_t port = 0;
  // Basic authentication is sent when either is not empty.
  std::string user;
  std::string password;
};

// The proxy settings' value names under the registry-layer key kSecurityKey
// (rpc/transport_policy.h).
inline constexpr std::string_view kProxyValue = "Proxy";
inline constexpr std::string_view kProxyUserValue = "ProxyUsuario";
inline constexpr std::string_view kProxyPasswordValue = "ProxySenha";

// The proxy a connection to `host` (the name or numeric address as dialled) must cross, if any.
// The registry-layer value Proxy ("host:port") with ProxyUsuario and ProxySenha wins, for every
// host: it is what an administrator set. Otherwise https_proxy (or HTTPS_PROXY), unless
// no_proxy (or NO_PROXY) names the host. Empty values count as unset. Throws EProxyError
// when the setting in force cannot be read as a proxy: going direct instead would bypass it.
std::optional<ProxySettings> ProxyFor(const std::string& host);

// Reads "host:port" or "http://[user:password@]host:port[/]" (user and password
// percent-encoded; an IPv6 host in brackets). nullopt for anything else, including other schemes
// and a missing or out-of-range port.
std::optional<ProxySettings> ParseProxyUrl(std::string_view text);

// Whether the no_proxy list `list` names `host`: entries separated by commas or blanks; "*"
// names every host; an entry names the host itself and, with or without a leading dot, every
// name under it ("vorn.example" and ".vorn.example" both name "recepcao.vorn.example"); an IP
// address names itself, and "address/bits" a network. Letter case and a final dot are ignored.
bool NoProxyMatches(std::string_view list, std::string_view host);

// Connects to `proxy` and asks it with CONNECT for a tunnel to target_host:target_port, all
// before `deadline`. Returns the tunnel's socket, non-blocking with TCP_NODELAY, owned by the
// caller; every byte read from it afterwards is the target's. Reads at most kMaxProxyAnswer
// bytes of answer, and none past its end. Throws EProxyError, with a text naming the reason,
// when the proxy cannot be reached, does not open the tunnel or the deadline passes first.
int OpenProxyTunnel(const ProxySettings& proxy, const std::string& target_host, int32_t target_port,
                    std::chrono::steady_clock::time_point deadline);

inline constexpr size_t kMaxProxyAnswer = 16 << 10;

}  // namespace vorncom::rpc

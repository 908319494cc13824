#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/exception.h"
#include "rpc/server_list.h"

namespace vorncom::server {

VORNCOM_EXCEPTION(EServerConfigError);

// Statuses and message of one form, keyed by form type and version.
struct FormRule {
  std::optional<int32_t> server_status;  // CheckServerStatus answer for this form
  std::optional<int32_t> form_status;    // CheckFormStatus answer
  std::optional<std::string> message;    // Protocolate's element 14, lines joined by CR LF
};

// Everything vorncom-server is told by its configuration file. The file holds `key = value`
// lines; '#' starts a comment; `form`, `message` and `server` may repeat. docs/wire-protocol.md
// ("Reference server") lists every key.
struct ServerConfig {
  std::string listen_address = "127.0.0.1";
  uint16_t listen_port = 211;  // 0: any free port
  unsigned workers = 2;

  std::string data_folder = "vorncom-data";  // incoming/, store/, registry.db
  std::string download_folder;               // empty: data_folder + "/downloads"
  // Where uploads in progress and protocolated uploads go; empty: data_folder + "/incoming" and
  // "/store". Servers sharing a registry may share these folders too.
  std::string incoming_folder;
  std::string store_folder;
  // "postgresql://USER@HOST:PORT/DB" or "sqlite:PATH"; empty: data_folder + "/registry.db".
  std::string registry;
  // The most connections a PostgreSQL registry opens; registry calls beyond that wait for one.
  // Registry calls run on the check pool (`workers` threads), so more than `workers` are never
  // all in use. A SQLite registry has one connection whatever this is.
  unsigned registry_connections = 4;

  // Large enough that a long link is not held back by per-call round trips; a frame of the
  // default max_frame still holds a packet call.
  int32_t packet_size = 256 << 10;
  size_t max_frame = 1u << 20;     // largest frame body accepted, bytes
  int64_t max_upload = 256 << 20;  // largest upload accepted, bytes
  // An upload whose entries claim to expand to more than max_upload × this is refused unexpanded.
  unsigned max_expansion = 200;
  // Bounds the time from the end of a reply (or the connection's start) to the end of the next
  // frame, and the time to send a reply.
  std::chrono::milliseconds idle_timeout{60'000};
  unsigned max_sessions = 1024;  // connections beyond this are refused
  // The highest protocol version a hello is answered with; 1 refuses a hello offering more.
  uint32_t max_protocol_version = 2;
  // A resumable upload not moved for this long expires and its bytes are deleted.
  std::chrono::hours resume_hours{24};
  // An unfinished resumable upload is flushed to disk and its count recorded at least this often.
  int64_t resume_sync_bytes = 16 << 20;
  // A Protocolate of a package registered this recently (same SHA-256, size and name) answers
  // with that registration; 0 turns the check off.
  unsigned dedup_days = 30;

  bool accepting = true;
  unsigned busy_limit = 256;  // sessions above this answer busy
  int32_t status_send = 5;
  int32_t status_receive = 6;
  int32_t status_query = 9;
  int32_t form_status = 1;  // CheckFormStatus for forms without a rule
  std::string default_message;
  std::map<std::pair<std::string, std::string>, FormRule> forms;

  std::vector<rpc::ServerItem> servers;  // what ReplicateClientCfgFile hands out; none: false
  std::string server_address;            // element 2 of Protocolate; empty: the local address
  std::string protocol_prefix;

  bool log_sessions = true;
  enum class LogFormat { kText, kJson } log_format = LogFormat::kText;

  // HOST:PORT of the monitoring listener (/metrics, /health); empty: none.
  std::string metrics_address;

  // TLS: with a certificate and its key (PEM files) the port speaks TLS only; with a client CA
  // every client must present a certificate it signed. No certificate: plain TCP.
  std::string tls_certificate;
  std::string tls_private_key;
  std::string tls_client_ca;
  int tls_max_version = 0x0304;  // TLS1_3_VERSION; 0x0303 keeps sessions to TLS 1.2
  // A handshake not done within this is dropped, so no client holds a session by stalling it.
  std::chrono::milliseconds tls_handshake_timeout{10'000};

  // Fault injection for tests.
  bool fault_refuse = false;              // close each connection right after accepting it
  bool fault_stall = false;               // never answer a call after the hello
  unsigned fault_drop_after_packets = 0;  // close the connection at data packet N+1 (0: never)
  std::chrono::milliseconds fault_check_delay{0};  // ValidFile waits this long before checking

  std::string DownloadFolder() const;
  std::string IncomingFolder() const;
  std::string StoreFolder() const;
  // The most an upload may expand to while it is checked.
  uint64_t MaxExpandedBytes() const { return static_cast<uint64_t>(max_upload) * max_expansion; }
};

// "HOST:PORT" with HOST an IP address ("[v6]:PORT" for IPv6); nullopt when it is not one.
std::optional<std::pair<std::string, uint16_t>> SplitHostPort(std::string_view text);

// Throws EServerConfigError naming the line, the key and the value of a bad setting.
ServerConfig ParseServerConfig(const std::string& text);
// Also throws EServerConfigError when `path` is not a readable regular file.
ServerConfig LoadServerConfig(const std::string& path);

}  // namespace vorncom::server

#include "server/server_context.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>

#include "server/tls_context.h"

namespace vorncom::server {

namespace {

constexpr char kResumablePrefix[] = "resume-";
constexpr char kPartSuffix[] = ".part";

int64_t Seconds() { return static_cast<int64_t>(std::time(nullptr)); }

std::unique_ptr<Registry> OpenRegistry(const ServerConfig& config) {
  namespace fs = std::filesystem;
  fs::create_directories(config.data_folder);
  fs::create_directories(config.IncomingFolder());
  fs::create_directories(config.StoreFolder());
  fs::create_directories(config.DownloadFolder());
  return Registry::Open(config.registry, (fs::path(config.data_folder) / "registry.db").string(),
                        config.protocol_prefix, config.registry_connections);
}

// Host name, process id and a random part: no two servers sharing a folder ever have the same.
std::string InstanceName() {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  std::string name;
  for (const char* c = host; *c != '\0'; ++c)
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  std::random_device random;
  return name + "-" + std::to_string(::getpid()) + "-" + std::to_string(random() % 1000000);
}

}  // namespace

namespace {

// Length of the well-formed UTF-8 sequence at `s`, or 0.
size_t Utf8Sequence(std::string_view s) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  char32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07;
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF.
  if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
      (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  return length;
}

}  // namespace

std::string JsonLogLine(std::time_t when, uint64_t session, std::string_view event) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string out = std::string("{\"time\":\"") + stamp +
                    "\",\"session\":" + std::to_string(session) + ",\"event\":\"";
  while (!event.empty()) {
    const char c = event[0];
    const size_t length = Utf8Sequence(event);
    if (length == 0) {
      out += "\\ufffd";
      event.remove_prefix(1);
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      out += escaped;
    } else {
      out.append(event.substr(0, length));
    }
    event.remove_prefix(length);
  }
  return out + "\"}";
}

void Logger::Write(uint64_t session, const std::string& text) {
  if (!enabled_) return;
  const std::time_t now = std::time(nullptr);
  if (format_ == ServerConfig::LogFormat::kJson) {
    const std::string line = JsonLogLine(now, session, text);
    std::lock_guard lock(mutex_);
    std::cerr << line << '\n';
    return;
  }
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::lock_guard lock(mutex_);
  std::cerr << stamp << " #" << session << ' ' << text << '\n';
}

ServerContext::ServerContext(ServerConfig c)
    : config(std::move(c)),
      incoming_folder(config.IncomingFolder()),
      store_folder(config.StoreFolder()),
      download_folder(config.DownloadFolder()),
      owned_registry(
          std::make_unique<MeasuredRegistry>(OpenRegistry(config), metrics.registry_latency)),
      registry(*owned_registry),
      instance(InstanceName()),
      log(config.log_sessions, config.log_format),
      tls_(LoadServerTls(config)) {
  metrics.registry.AddGaugeFunction("vorncom_server_sessions_open", "Sessions open now.",
                                    [this] { return static_cast<int64_t>(sessions.load()); });
  metrics.registry.AddCounterFunction("vorncom_server_sessions_accepted_total",
                                      "Connections accepted as sessions.",
                                      [this] { return next_session.load() - 1; });
  ClearIncoming();
  ClearStore();
}

bool ServerContext::Settled(const std::filesystem::path& path) const {
  if (!registry.Shared()) return true;
  std::error_code ec;
  const auto changed = std::filesystem::last_write_time(path, ec);
  if (ec) return false;
  return std::filesystem::file_time_type::clock::now() - changed > kSharedGrace;
}

// A crash between moving an upload into the store and committing its record leaves a stored
// file without a protocol number; it was never protocolated, so it goes.
void ServerContext::ClearStore() {
  namespace fs = std::filesystem;
  for (const auto& entry : fs::directory_iterator(store_folder)) {
    const std::string name = entry.path().filename().string();
    if (!Settled(entry.path()) || registry.HasStoredName(name)) continue;
    log.Write(0, "removido do armazenamento sem registro: " + name);
    std::error_code ignored;
    fs::remove(entry.path(), ignored);
  }
}

std::string ServerContext::ResumablePath(const std::string& id) const {
  return incoming_folder + "/" + kResumablePrefix + id + kPartSuffix;
}

// Leftovers of a crash before ValidFile and Protocolate are incomplete uploads, never stored;
// only those that can still be resumed stay, cut back to what was recorded as flushed (bytes
// after it may be torn).
void ServerContext::ClearIncoming() {
  namespace fs = std::filesystem;
  const int64_t cutoff = Seconds() - std::chrono::seconds(config.resume_hours).count();
  for (const UploadRecord& upload : registry.OpenUploads(cutoff)) registry.ExpireUpload(upload.id);
  std::map<std::string, UploadRecord> kept;
  for (UploadRecord& upload : registry.OpenUploads(INT64_MAX))
    kept.emplace(ResumablePath(upload.id), std::move(upload));
  for (const auto& entry : fs::directory_iterator(incoming_folder)) {
    const std::string path = entry.path().string();
    const auto it = kept.find(path);
    std::error_code ec;
    if (!Settled(entry.path())) {
      if (it != kept.end()) kept.erase(it);
      continue;
    }
    if (it == kept.end() || !entry.is_regular_file(ec)) {
      fs::remove_all(entry.path(), ec);
      continue;
    }
    const UploadRecord& upload = it->second;
    const auto size = static_cast<int64_t>(fs::file_size(entry.path(), ec));
    if (ec) continue;
    if (size > upload.held) {
      fs::resize_file(entry.path(), static_cast<uintmax_t>(upload.held), ec);
      if (ec) {
        fs::remove(entry.path(), ec);
        continue;
      }
    } else if (size < upload.held) {
      // The disk kept less than it confirmed: what is there is all that is held.
      registry.RecordHeld(upload.id, size, upload.moved);
    }
    kept.erase(it);
  }
  // In a shared registry an upload's bytes may be in another server's incoming folder.
  if (registry.Shared()) return;
  for (const auto& [path, upload] : kept) {
    log.Write(0, "envio " + upload.id + " sem arquivo: expirado");
    registry.ExpireUpload(upload.id);
  }
}

void ServerContext::ExpireUploads() {
  const int64_t cutoff = Seconds() - std::chrono::seconds(config.resume_hours).count();
  for (const UploadRecord& upload : registry.OpenUploads(cutoff)) {
    // Taken for the moment of its removal, so that no session resumes it meanwhile.
    if (!leases.TakeIfFree(upload.id)) continue;
    registry.ExpireUpload(upload.id);
    std::error_code ignored;
    std::filesystem::remove(ResumablePath(upload.id), ignored);
    leases.Give(upload.id);
    log.Write(0, "envio " + upload.id + " expirado");
  }
}

std::shared_ptr<ssl_ctx_st> ServerContext::Tls() const {
  std::lock_guard lock(tls_mutex_);
  return tls_;
}

void ServerContext::ReloadTls() {
  auto fresh = LoadServerTls(config);
  std::lock_guard lock(tls_mutex_);
  tls_ = std::move(fresh);
}

}  // namespace vorncom::server

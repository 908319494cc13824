#include "server/registry.h"

#include <string_view>

#include "common/messages.h"
#include "server/postgres_registry.h"
#include "server/sqlite_registry.h"

namespace vorncom::server {

namespace {

constexpr std::string_view kSqliteScheme = "sqlite:";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::unique_ptr<Registry> Registry::Open(const std::string& location,
                                         const std::string& default_sqlite_path,
                                         std::string protocol_prefix, unsigned connections) {
  if (location.empty())
    return std::make_unique<SqliteRegistry>(default_sqlite_path, std::move(protocol_prefix));
  if (StartsWith(location, kSqliteScheme))
    return std::make_unique<SqliteRegistry>(location.substr(kSqliteScheme.size()),
                                            std::move(protocol_prefix));
  if (StartsWith(location, "postgresql://") || StartsWith(location, "postgres://"))
    return std::make_unique<PostgresRegistry>(location, std::move(protocol_prefix), connections);
  throw ERegistryError(msg::Format(msg::kSrvRegistryLocationInvalid, {location}));
}

std::string HexText(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::vector<uint8_t> UnhexText(const std::string& text) {
  auto value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::vector<uint8_t> bytes;
  if (text.size() % 2 != 0) return bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = value(text[i]), low = value(text[i + 1]);
    if (high < 0 || low < 0) return {};
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return bytes;
}

}  // namespace vorncom::server

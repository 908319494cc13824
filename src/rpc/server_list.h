#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/exception.h"

namespace vorncom::rpc {

// One reception server of the broker's list.
struct ServerItem {
  std::string computer_name;  // host name or numeric address, UTF-8
  int32_t port = 211;
  bool enabled = true;
  friend bool operator==(const ServerItem&, const ServerItem&) = default;
};

// Raised when server-list bytes cannot be read: truncated input, an unknown tag or property name,
// or a value of the wrong kind for its property.
VORNCOM_EXCEPTION(EServerListError);

// The server list's byte layout (the client configuration file and the replicated list): a
// property stream of a collection. Tags: 14 collection start, 1 item start, 0 end of item or of
// collection, 2/3/4 signed integers of 1/2/4 little-endian bytes, 6 short string (1-byte length),
// 12 long string (4-byte length), 8 false, 9 true. Property names are "ComputerName", "Port" and
// "Enabled"; computer names are Windows-1252 on the wire.
//
// Writing stores, per item and in that order, only the properties that differ from their defaults
// and the smallest integer tag that holds the port.
std::vector<uint8_t> EncodeServerList(const std::vector<ServerItem>& servers);

// Accepts properties in any order and an integer before an item (skipped). Throws EServerListError;
// never reads past `bytes`. Bytes after the closing tag are ignored. With `max_servers`, a list
// of more items is refused as soon as the first item beyond it begins.
std::vector<ServerItem> DecodeServerList(std::span<const uint8_t> bytes,
                                         size_t max_servers = SIZE_MAX);

// The largest list a server may hand out for replication, in items and in bytes: a client keeps
// its old list rather than take a larger one, which no agency needs and which would make every
// later call try servers without end.
inline constexpr size_t kMaxReplicatedServers = 1024;
inline constexpr size_t kMaxReplicatedListBytes = 1u << 20;

}  // namespace vorncom::rpc

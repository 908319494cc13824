#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "rpc/errors.h"
#include "rpc/server_list.h"

namespace vorncom::rpc {

// The load-balanced list of reception servers a connection draws from. Not thread-safe.
class Broker {
 public:
  Broker();

  void Clear() { servers_.clear(); }
  void SetServers(std::vector<ServerItem> servers) { servers_ = std::move(servers); }
  const std::vector<ServerItem>& Servers() const { return servers_; }
  size_t Count() const { return servers_.size(); }

  // The whole list as server-list bytes, and back. LoadServerData throws EServerListError and
  // leaves the list unchanged on bad bytes.
  std::vector<uint8_t> ServerData() const { return EncodeServerList(servers_); }
  void LoadServerData(std::span<const uint8_t> bytes) { servers_ = DecodeServerList(bytes); }

  // One enabled server, chosen at random so that clients spread over the servers. Throws
  // ENoServerAvailable when none is enabled.
  ServerItem ChooseServer();

  // Disables every entry with this computer name (exact text) and port; returns how many.
  size_t DisableServer(const std::string& computer_name, int32_t port);

 private:
  std::vector<ServerItem> servers_;
  std::mt19937 random_;
};

}  // namespace vorncom::rpc

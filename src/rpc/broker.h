#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "rpc/errors.h"
#include "rpc/server_list.h"

namespace vorncom::rpc {

// The load-balanced list of reception servers a connection draws from. Not thread-safe.
//
// A connection falls back through the whole list one server at a time, choosing and disabling
// as it goes; both take constant time (after one pass that indexes a new list), so that even a
// long list is tried through in time linear in its length.
class Broker {
 public:
  Broker();

  void Clear() { SetServers({}); }
  void SetServers(std::vector<ServerItem> servers);
  const std::vector<ServerItem>& Servers() const { return servers_; }
  size_t Count() const { return servers_.size(); }

  // The whole list as server-list bytes, and back. LoadServerData throws EServerListError and
  // leaves the list unchanged on bad bytes.
  std::vector<uint8_t> ServerData() const { return EncodeServerList(servers_); }
  void LoadServerData(std::span<const uint8_t> bytes) { SetServers(DecodeServerList(bytes)); }
  // A list a server handed out for replication: also refused, the list unchanged, above
  // kMaxReplicatedListBytes or kMaxReplicatedServers.
  void LoadReplicatedServerData(std::span<const uint8_t> bytes);

  // One enabled server, chosen at random so that clients spread over the servers. Throws
  // ENoServerAvailable when none is enabled.
  ServerItem ChooseServer();

  // Disables every entry with this computer name (exact text) and port; returns how many.
  size_t DisableServer(const std::string& computer_name, int32_t port);

 private:
  static constexpr size_t kNotEnabled = SIZE_MAX;
  void Index();

  std::vector<ServerItem> servers_;
  std::mt19937 random_;
  // Built by Index() when the list changes: the enabled entries, each entry's place among them
  // (kNotEnabled when disabled), and the entries by name and port.
  bool indexed_ = false;
  std::vector<size_t> enabled_;
  std::vector<size_t> slot_;
  std::unordered_map<std::string, std::vector<size_t>> by_endpoint_;
};

}  // namespace vorncom::rpc

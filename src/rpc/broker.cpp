#include "rpc/broker.h"

#include <string>

#include "common/messages.h"

namespace vorncom::rpc {
namespace {

std::string EndpointKey(const std::string& computer_name, int32_t port) {
  return std::to_string(port) + ' ' + computer_name;
}

}  // namespace

Broker::Broker() : random_(std::random_device{}()) {}

void Broker::SetServers(std::vector<ServerItem> servers) {
  servers_ = std::move(servers);
  indexed_ = false;
}

void Broker::LoadReplicatedServerData(std::span<const uint8_t> bytes) {
  if (bytes.size() > kMaxReplicatedListBytes) {
    throw EServerListError(
        msg::Format(msg::kServerListTooManyBytes, {std::to_string(kMaxReplicatedListBytes)}));
  }
  SetServers(DecodeServerList(bytes, kMaxReplicatedServers));
}

void Broker::Index() {
  if (indexed_) return;
  enabled_.clear();
  slot_.assign(servers_.size(), kNotEnabled);
  by_endpoint_.clear();
  for (size_t i = 0; i < servers_.size(); ++i) {
    if (servers_[i].enabled) {
      slot_[i] = enabled_.size();
      enabled_.push_back(i);
    }
    by_endpoint_[EndpointKey(servers_[i].computer_name, servers_[i].port)].push_back(i);
  }
  indexed_ = true;
}

ServerItem Broker::ChooseServer() {
  Index();
  if (enabled_.empty()) throw ENoServerAvailable(std::string(msg::kNoServerAvailable));
  std::uniform_int_distribution<size_t> pick(0, enabled_.size() - 1);
  return servers_[enabled_[pick(random_)]];
}

size_t Broker::DisableServer(const std::string& computer_name, int32_t port) {
  Index();
  const auto found = by_endpoint_.find(EndpointKey(computer_name, port));
  if (found == by_endpoint_.end()) return 0;
  for (const size_t i : found->second) {
    servers_[i].enabled = false;
    const size_t slot = slot_[i];
    if (slot == kNotEnabled) continue;
    // The last enabled entry takes the place of the one leaving.
    const size_t moved = enabled_.back();
    enabled_[slot] = moved;
    slot_[moved] = slot;
    enabled_.pop_back();
    slot_[i] = kNotEnabled;
  }
  return found->second.size();
}

}  // namespace vorncom::rpc

#include "rpc/broker.h"

namespace vorncom::rpc {

Broker::Broker() : random_(std::random_device{}()) {}

ServerItem Broker::ChooseServer() {
  std::vector<size_t> enabled;
  for (size_t i = 0; i < servers_.size(); ++i)
    if (servers_[i].enabled) enabled.push_back(i);
  if (enabled.empty())
    throw ENoServerAvailable("Nenhum servidor de recepção disponível para a conexão.");
  std::uniform_int_distribution<size_t> pick(0, enabled.size() - 1);
  return servers_[enabled[pick(random_)]];
}

size_t Broker::DisableServer(const std::string& computer_name, int32_t port) {
  size_t count = 0;
  for (ServerItem& server : servers_) {
    if (server.computer_name == computer_name && server.port == port) {
      server.enabled = false;
      ++count;
    }
  }
  return count;
}

}  // namespace vorncom::rpc

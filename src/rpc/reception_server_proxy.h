#pragma once

#include <initializer_list>
#include <vector>

#include "rpc/connection.h"
#include "rpc/methods.h"
#include "rpc/reception_server.h"

namespace vorncom::rpc {

// A ReceptionServer whose calls go over a Connection. The connection must be open and outlive the
// proxy. Transport failures raise the connection's exceptions; a result of the wrong kind raises
// EWireError.
class ReceptionServerProxy : public ReceptionServer {
 public:
  explicit ReceptionServerProxy(Connection& connection) : connection_(connection) {}

  bool AcceptingConnections(Variant& busy) override;
  void SendControlPacket(const Variant& packet) override;
  int32_t CheckServerStatus(Variant& packet_size) override;
  bool ReplicateClientCfgFile(Variant& server_list) override;
  void SendFile(const Variant& file_name) override;
  void SendDataPacket(Variant& packet, Variant& byte_count) override;
  bool ValidFile(const Variant& zero) override;
  void Protocolate(Variant& protocol_data) override;
  int32_t GetFile(Variant& file_name, Variant& client_info) override;
  int32_t GetDataPacket(Variant& packet) override;
  void EraseFile(Variant& file_name) override;
  int32_t CheckFormStatus() override;

 private:
  // By-reference arguments are moved into the call and back (also when it fails), so a data
  // packet is not copied on its way.
  Variant Invoke(Method method, std::initializer_list<Variant*> by_ref);
  Variant InvokeByValue(Method method, std::vector<Variant> args);
  Connection& connection_;
};

}  // namespace vorncom::rpc

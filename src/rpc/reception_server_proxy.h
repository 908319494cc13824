#pragma once

#include <deque>
#include <initializer_list>
#include <vector>

#include "rpc/connection.h"
#include "rpc/methods.h"
#include "rpc/reception_server.h"

namespace vorncom::rpc {

// A ReceptionServer whose calls go over a Connection. The connection must be open and outlive the
// proxy. Transport failures raise the connection's exceptions; a result of the wrong kind raises
// EWireError. Over a version-2 connection the packet calls are pipelined; other calls need the
// pipeline collected first (std::logic_error otherwise). Over version 1 the version-2 calls fail
// as unknown methods without a round trip.
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

  int ProtocolVersion() const override { return static_cast<int>(connection_.ProtocolVersion()); }
  std::chrono::nanoseconds RoundTrip() const override { return connection_.RoundTrip(); }
  std::string StartUpload(const std::string& file_name, double size,
                          const std::string& sha256) override;
  double ResumeUpload(const std::string& upload_id) override;
  std::optional<Variant> FindRegistration(const std::string& upload_id, const std::string& sha256,
                                          double size, const std::string& file_name) override;
  void ResumeDownload(double offset) override;

  void PostDataPacket(const Variant& packet, int32_t byte_count) override;
  void CollectDataPacket() override;
  void PostGetDataPacket(int32_t packet_size) override;
  int32_t CollectGetDataPacket(Variant& packet) override;
  size_t Posted() const override { return ReceptionServer::Posted() + pipeline_.size(); }

 private:
  // A packet call posted on the connection and not collected.
  struct InFlight {
    Method method;
    uint32_t seq;
    int32_t packet_size;  // GetDataPacket: the size of the buffer sent
  };
  bool Pipelined() const { return connection_.ProtocolVersion() >= 2; }
  // The oldest call in flight, which must be a `method` one.
  InFlight TakeOldest(Method method);

  // By-reference arguments are moved into the call and back (also when it fails), so a data
  // packet is not copied on its way.
  Variant Invoke(Method method, std::initializer_list<Variant*> by_ref);
  Variant InvokeByValue(Method method, std::vector<Variant> args);
  Connection& connection_;
  std::deque<InFlight> pipeline_;
  // The zeros every GetDataPacket request carries, sent from here each time.
  Variant empty_packet_;
};

}  // namespace vorncom::rpc

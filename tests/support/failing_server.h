#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "rpc/connection.h"
#include "rpc/errors.h"
#include "rpc/methods.h"
#include "rpc/reception_server_proxy.h"
#include "transfer/server_connector.h"

namespace vorncom::testing {

// Where a link breaks: the `call`-th call (from 1) of `method` on a connection. A pipelined
// packet counts as a call when it is posted (kBeforeCall) or when its reply is collected
// (kLoseReply).
struct LinkFault {
  enum class Kind {
    kBeforeCall,  // the request never reaches the server
    kLoseReply,   // the server runs the call, then the link drops before its reply is read
  };
  rpc::Method method = rpc::Method::kSendDataPacket;
  int call = 1;
  Kind kind = Kind::kBeforeCall;
};

// The real remote server over a connection, breaking the link once as `fault` says. Every break
// closes the connection, as a real broken link does.
class FailingServer : public rpc::ReceptionServer {
 public:
  FailingServer(rpc::Connection& connection, LinkFault fault)
      : connection_(connection), real_(connection), fault_(fault) {}

  bool AcceptingConnections(Variant& busy) override {
    return Run(rpc::Method::kAcceptingConnections,
               [&] { return real_.AcceptingConnections(busy); });
  }
  void SendControlPacket(const Variant& packet) override {
    Run(rpc::Method::kSendControlPacket, [&] { return (real_.SendControlPacket(packet), 0); });
  }
  int32_t CheckServerStatus(Variant& packet_size) override {
    return Run(rpc::Method::kCheckServerStatus,
               [&] { return real_.CheckServerStatus(packet_size); });
  }
  bool ReplicateClientCfgFile(Variant& list) override {
    return Run(rpc::Method::kReplicateClientCfgFile,
               [&] { return real_.ReplicateClientCfgFile(list); });
  }
  void SendFile(const Variant& name) override {
    Run(rpc::Method::kSendFile, [&] { return (real_.SendFile(name), 0); });
  }
  void SendDataPacket(Variant& packet, Variant& count) override {
    Run(rpc::Method::kSendDataPacket, [&] { return (real_.SendDataPacket(packet, count), 0); });
  }
  bool ValidFile(const Variant& zero) override {
    return Run(rpc::Method::kValidFile, [&] { return real_.ValidFile(zero); });
  }
  void Protocolate(Variant& data) override {
    Run(rpc::Method::kProtocolate, [&] { return (real_.Protocolate(data), 0); });
  }
  int32_t GetFile(Variant& name, Variant& info) override {
    return Run(rpc::Method::kGetFile, [&] { return real_.GetFile(name, info); });
  }
  int32_t GetDataPacket(Variant& packet) override {
    return Run(rpc::Method::kGetDataPacket, [&] { return real_.GetDataPacket(packet); });
  }
  void EraseFile(Variant& name) override {
    Run(rpc::Method::kEraseFile, [&] { return (real_.EraseFile(name), 0); });
  }
  int32_t CheckFormStatus() override {
    return Run(rpc::Method::kCheckFormStatus, [&] { return real_.CheckFormStatus(); });
  }

  int ProtocolVersion() const override { return real_.ProtocolVersion(); }
  std::chrono::nanoseconds RoundTrip() const override { return real_.RoundTrip(); }
  std::string StartUpload(const std::string& name, double size, const std::string& sha) override {
    return Run(rpc::Method::kStartUpload, [&] { return real_.StartUpload(name, size, sha); });
  }
  double ResumeUpload(const std::string& id) override {
    return Run(rpc::Method::kResumeUpload, [&] { return real_.ResumeUpload(id); });
  }
  std::optional<Variant> FindRegistration(const std::string& id, const std::string& sha,
                                          double size, const std::string& name) override {
    return Run(rpc::Method::kFindRegistration,
               [&] { return real_.FindRegistration(id, sha, size, name); });
  }
  void ResumeDownload(double offset) override {
    Run(rpc::Method::kResumeDownload, [&] { return (real_.ResumeDownload(offset), 0); });
  }

  void PostDataPacket(const Variant& packet, int32_t count) override {
    Posting(rpc::Method::kSendDataPacket);
    real_.PostDataPacket(packet, count);
  }
  void CollectDataPacket() override {
    Collecting(rpc::Method::kSendDataPacket, [&] { real_.CollectDataPacket(); });
    real_.CollectDataPacket();
  }
  void PostGetDataPacket(int32_t packet_size) override {
    Posting(rpc::Method::kGetDataPacket);
    real_.PostGetDataPacket(packet_size);
  }
  int32_t CollectGetDataPacket(Variant& packet) override {
    Collecting(rpc::Method::kGetDataPacket, [&] { real_.CollectGetDataPacket(packet); });
    return real_.CollectGetDataPacket(packet);
  }
  size_t Posted() const override { return real_.Posted(); }

  // A factory whose servers break as `fault` says, each connection counting its own calls.
  static transfer::ServerFactory Factory(LinkFault fault) {
    return [fault](rpc::Connection& connection) -> std::unique_ptr<rpc::ReceptionServer> {
      return std::make_unique<FailingServer>(connection, fault);
    };
  }

 private:
  template <typename Call>
  auto Run(rpc::Method method, Call call) -> decltype(call()) {
    const bool breaks = method == fault_.method && ++calls_ == fault_.call;
    if (breaks && fault_.kind == LinkFault::Kind::kBeforeCall) Break();
    auto result = call();
    if (breaks) Break();
    return result;
  }
  void Posting(rpc::Method method) {
    if (fault_.kind == LinkFault::Kind::kBeforeCall && method == fault_.method &&
        ++calls_ == fault_.call)
      Break();
  }
  // A lost reply: the link drops before the reply is read; the call then leaves the pipeline
  // as the real one fails on the closed connection.
  template <typename Collect>
  void Collecting(rpc::Method method, Collect collect) {
    if (fault_.kind != LinkFault::Kind::kLoseReply || method != fault_.method ||
        ++calls_ != fault_.call)
      return;
    connection_.Close();
    try {
      collect();
    } catch (const rpc::ERemoteCallError&) {
    }
    Break();
  }
  [[noreturn]] void Break() {
    connection_.Close();
    throw rpc::EConnectionError("Falha na comunicação com o servidor: conexão interrompida.");
  }

  rpc::Connection& connection_;
  rpc::ReceptionServerProxy real_;
  LinkFault fault_;
  int calls_ = 0;
};

}  // namespace vorncom::testing

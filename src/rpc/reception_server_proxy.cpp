#include "rpc/reception_server_proxy.h"

#include "common/messages.h"

namespace vorncom::rpc {

namespace {

bool ResultAsBoolean(const Variant& result, std::string_view method) {
  if (result.type() != Variant::Type::kBoolean)
    throw EWireError(msg::Format(msg::kReplyNotBoolean, {method}));
  return result.ToBoolean();
}

int32_t ResultAsInteger(const Variant& result, std::string_view method) {
  try {
    if (result.type() == Variant::Type::kInteger || result.type() == Variant::Type::kDouble)
      return result.ToInteger();
  } catch (const EVariantError&) {
  }
  throw EWireError(msg::Format(msg::kReplyNotInteger, {method}));
}

}  // namespace

Variant ReceptionServerProxy::Invoke(Method method, std::initializer_list<Variant*> by_ref) {
  std::vector<Variant> args;
  args.reserve(by_ref.size());
  for (Variant* arg : by_ref) args.push_back(std::move(*arg));
  struct Restore {
    std::vector<Variant>& args;
    std::initializer_list<Variant*> targets;
    ~Restore() {
      size_t i = 0;
      for (Variant* target : targets) *target = std::move(args[i++]);
    }
  } restore{args, by_ref};
  return connection_.Call(InfoOf(method).name, args);
}

Variant ReceptionServerProxy::InvokeByValue(Method method, std::vector<Variant> args) {
  return connection_.Call(InfoOf(method).name, args);
}

bool ReceptionServerProxy::AcceptingConnections(Variant& busy) {
  return ResultAsBoolean(Invoke(Method::kAcceptingConnections, {&busy}), "AcceptingConnections");
}

void ReceptionServerProxy::SendControlPacket(const Variant& packet) {
  InvokeByValue(Method::kSendControlPacket, {packet});
}

int32_t ReceptionServerProxy::CheckServerStatus(Variant& packet_size) {
  return ResultAsInteger(Invoke(Method::kCheckServerStatus, {&packet_size}), "CheckServerStatus");
}

bool ReceptionServerProxy::ReplicateClientCfgFile(Variant& server_list) {
  return ResultAsBoolean(Invoke(Method::kReplicateClientCfgFile, {&server_list}),
                         "ReplicateClientCfgFile");
}

void ReceptionServerProxy::SendFile(const Variant& file_name) {
  InvokeByValue(Method::kSendFile, {file_name});
}

void ReceptionServerProxy::SendDataPacket(Variant& packet, Variant& byte_count) {
  Invoke(Method::kSendDataPacket, {&packet, &byte_count});
}

bool ReceptionServerProxy::ValidFile(const Variant& zero) {
  return ResultAsBoolean(InvokeByValue(Method::kValidFile, {zero}), "ValidFile");
}

void ReceptionServerProxy::Protocolate(Variant& protocol_data) {
  Invoke(Method::kProtocolate, {&protocol_data});
}

int32_t ReceptionServerProxy::GetFile(Variant& file_name, Variant& client_info) {
  return ResultAsInteger(Invoke(Method::kGetFile, {&file_name, &client_info}), "GetFile");
}

int32_t ReceptionServerProxy::GetDataPacket(Variant& packet) {
  return ResultAsInteger(Invoke(Method::kGetDataPacket, {&packet}), "GetDataPacket");
}

void ReceptionServerProxy::EraseFile(Variant& file_name) {
  Invoke(Method::kEraseFile, {&file_name});
}

int32_t ReceptionServerProxy::CheckFormStatus() {
  return ResultAsInteger(InvokeByValue(Method::kCheckFormStatus, {}), "CheckFormStatus");
}

}  // namespace vorncom::rpc

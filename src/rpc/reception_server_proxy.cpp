#include "rpc/reception_server_proxy.h"

#include <cmath>
#include <stdexcept>

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

std::string ResultAsText(const Variant& result, std::string_view method) {
  if (result.type() != Variant::Type::kString)
    throw EWireError(msg::Format(msg::kReplyNotText, {method}));
  return result.AsString();
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

std::string ReceptionServerProxy::StartUpload(const std::string& file_name, double size,
                                              const std::string& sha256) {
  if (!Pipelined()) return ReceptionServer::StartUpload(file_name, size, sha256);
  return ResultAsText(InvokeByValue(Method::kStartUpload, {file_name, size, sha256}),
                      "StartUpload");
}

double ReceptionServerProxy::ResumeUpload(const std::string& upload_id) {
  if (!Pipelined()) return ReceptionServer::ResumeUpload(upload_id);
  const Variant held = InvokeByValue(Method::kResumeUpload, {upload_id});
  if (held.type() == Variant::Type::kDouble || held.type() == Variant::Type::kInteger) {
    const double bytes = held.ToDouble();
    if (std::isfinite(bytes) && bytes >= 0) return bytes;
  }
  throw EWireError(msg::Format(msg::kReplyNotByteCount, {"ResumeUpload"}));
}

std::optional<Variant> ReceptionServerProxy::FindRegistration(const std::string& upload_id,
                                                              const std::string& sha256,
                                                              double size,
                                                              const std::string& file_name) {
  if (!Pipelined()) return ReceptionServer::FindRegistration(upload_id, sha256, size, file_name);
  Variant found = InvokeByValue(Method::kFindRegistration, {upload_id, sha256, size, file_name});
  if (found.IsEmpty()) return std::nullopt;
  if (found.type() != Variant::Type::kArray || found.LowerBound() != 1 || found.UpperBound() != 14)
    throw EWireError(msg::Format(msg::kReplyNotProtocolData, {"FindRegistration"}));
  return found;
}

void ReceptionServerProxy::ResumeDownload(double offset) {
  if (!Pipelined()) return ReceptionServer::ResumeDownload(offset);
  InvokeByValue(Method::kResumeDownload, {offset});
}

ReceptionServerProxy::InFlight ReceptionServerProxy::TakeOldest(Method method) {
  if (pipeline_.front().method != method)
    throw std::logic_error("packet replies collected out of the order posted");
  const InFlight oldest = pipeline_.front();
  pipeline_.pop_front();
  return oldest;
}

void ReceptionServerProxy::PostDataPacket(const Variant& packet, int32_t byte_count) {
  if (!Pipelined()) return ReceptionServer::PostDataPacket(packet, byte_count);
  // The packet goes from the caller's variant to the socket; no copy of it is made.
  const Variant count(byte_count);
  const Variant* const args[] = {&packet, &count};
  const uint32_t seq = connection_.Post(InfoOf(Method::kSendDataPacket).name, args);
  pipeline_.push_back({Method::kSendDataPacket, seq, 0});
}

void ReceptionServerProxy::CollectDataPacket() {
  if (pipeline_.empty()) return ReceptionServer::CollectDataPacket();
  const InFlight call = TakeOldest(Method::kSendDataPacket);
  // Values written back are the server's business alone: the packet is never sent back and the
  // count is the caller's.
  std::vector<Variant> args(2);
  connection_.Collect(call.seq, args);
}

void ReceptionServerProxy::PostGetDataPacket(int32_t packet_size) {
  if (!Pipelined()) return ReceptionServer::PostGetDataPacket(packet_size);
  const auto size = static_cast<size_t>(packet_size > 0 ? packet_size : 0);
  if (!empty_packet_.IsBytes() || empty_packet_.AsBytes().bytes.size() != size)
    empty_packet_ = Variant(ByteArray{1, std::vector<uint8_t>(size)});
  const Variant* const args[] = {&empty_packet_};
  const uint32_t seq = connection_.Post(InfoOf(Method::kGetDataPacket).name, args);
  pipeline_.push_back({Method::kGetDataPacket, seq, static_cast<int32_t>(size)});
}

int32_t ReceptionServerProxy::CollectGetDataPacket(Variant& packet) {
  if (pipeline_.empty()) return ReceptionServer::CollectGetDataPacket(packet);
  const InFlight call = TakeOldest(Method::kGetDataPacket);
  std::vector<Variant> args(1);
  const int32_t count = ResultAsInteger(connection_.Collect(call.seq, args), "GetDataPacket");
  // A packet the server left as sent (all zeros) does not come back.
  if (args[0].IsEmpty())
    packet = Variant(ByteArray{1, std::vector<uint8_t>(static_cast<size_t>(call.packet_size))});
  else
    packet = std::move(args[0]);
  return count;
}

}  // namespace vorncom::rpc

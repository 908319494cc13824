#include "rpc/methods.h"

#include "common/cp1252.h"
#include "common/messages.h"
#include "rpc/errors.h"

namespace vorncom::rpc {

const std::vector<MethodInfo>& Methods() {
  static const std::vector<MethodInfo> table = {
      {Method::kAcceptingConnections, "AcceptingConnections", 1, 0b1},
      {Method::kSendControlPacket, "SendControlPacket", 1, 0b0},
      {Method::kCheckServerStatus, "CheckServerStatus", 1, 0b1},
      {Method::kReplicateClientCfgFile, "ReplicateClientCfgFile", 1, 0b1},
      {Method::kSendFile, "SendFile", 1, 0b0},
      {Method::kSendDataPacket, "SendDataPacket", 2, 0b11},
      {Method::kValidFile, "ValidFile", 1, 0b0},
      {Method::kProtocolate, "Protocolate", 1, 0b1},
      {Method::kGetFile, "GetFile", 2, 0b11},
      {Method::kGetDataPacket, "GetDataPacket", 1, 0b1},
      {Method::kEraseFile, "EraseFile", 1, 0b1},
      {Method::kCheckFormStatus, "CheckFormStatus", 0, 0b0},
      {Method::kStartUpload, "StartUpload", 3, 0b0, 2},
      {Method::kResumeUpload, "ResumeUpload", 1, 0b0, 2},
      {Method::kFindRegistration, "FindRegistration", 4, 0b0, 2},
      {Method::kResumeDownload, "ResumeDownload", 1, 0b0, 2},
  };
  return table;
}

std::optional<MethodInfo> FindMethod(std::string_view name) {
  // Exact spelling first: it is what clients send, and it costs no case folding per call.
  for (const MethodInfo& info : Methods())
    if (info.name == name) return info;
  for (const MethodInfo& info : Methods())
    if (EqualsIgnoreCase(info.name, name)) return info;
  return std::nullopt;
}

const MethodInfo& InfoOf(Method method) { return Methods()[static_cast<size_t>(method)]; }

namespace {

// The version 2 calls take plain values; one of the wrong kind fails the call, not the session.
std::string TextArgument(const Variant& v) {
  if (v.type() != Variant::Type::kString) throw EServerError(std::string(msg::kArgumentNotText));
  return v.ToString();
}

double NumberArgument(const Variant& v) {
  if (v.type() != Variant::Type::kDouble && v.type() != Variant::Type::kInteger)
    throw EServerError(std::string(msg::kArgumentNotNumber));
  return v.ToDouble();
}

}  // namespace

wire::Reply Dispatch(ReceptionServer& server, wire::Request& request, int version) {
  const std::optional<MethodInfo> info = FindMethod(request.method);
  if (!info || info->version > version)
    throw EServerError(msg::Format(msg::kUnknownMethod, {request.method}));
  std::vector<Variant>& a = request.args;
  if (a.size() != info->arg_count)
    throw EServerError(msg::Format(msg::kWrongArgumentCount, {info->name}));

  // Only changed by-reference values travel back: echoing a data packet would double the upload.
  // An upload's packet is only read, so it is neither copied nor compared (the one large
  // argument of the busiest call).
  uint32_t compared_mask = info->by_ref_mask;
  if (info->method == Method::kSendDataPacket) compared_mask &= ~1u;
  std::vector<Variant> before;
  for (uint32_t i = 0; i < a.size(); ++i)
    if (compared_mask & (1u << i)) before.push_back(a[i]);

  Variant result;
  switch (info->method) {
    case Method::kAcceptingConnections:
      result = server.AcceptingConnections(a[0]);
      break;
    case Method::kSendControlPacket:
      server.SendControlPacket(a[0]);
      break;
    case Method::kCheckServerStatus:
      result = server.CheckServerStatus(a[0]);
      break;
    case Method::kReplicateClientCfgFile:
      result = server.ReplicateClientCfgFile(a[0]);
      break;
    case Method::kSendFile:
      server.SendFile(a[0]);
      break;
    case Method::kSendDataPacket:
      server.SendDataPacket(a[0], a[1]);
      break;
    case Method::kValidFile:
      result = server.ValidFile(a[0]);
      break;
    case Method::kProtocolate:
      server.Protocolate(a[0]);
      break;
    case Method::kGetFile:
      result = server.GetFile(a[0], a[1]);
      break;
    case Method::kGetDataPacket:
      result = server.GetDataPacket(a[0]);
      break;
    case Method::kEraseFile:
      server.EraseFile(a[0]);
      break;
    case Method::kCheckFormStatus:
      result = server.CheckFormStatus();
      break;
    case Method::kStartUpload:
      result = server.StartUpload(TextArgument(a[0]), NumberArgument(a[1]), TextArgument(a[2]));
      break;
    case Method::kResumeUpload:
      result = server.ResumeUpload(TextArgument(a[0]));
      break;
    case Method::kFindRegistration: {
      std::optional<Variant> found = server.FindRegistration(
          TextArgument(a[0]), TextArgument(a[1]), NumberArgument(a[2]), TextArgument(a[3]));
      if (found) result = std::move(*found);
      break;
    }
    case Method::kResumeDownload:
      server.ResumeDownload(NumberArgument(a[0]));
      break;
  }

  wire::Reply reply{request.seq, std::move(result), {}};
  size_t k = 0;
  for (uint32_t i = 0; i < a.size(); ++i) {
    if (!(compared_mask & (1u << i))) continue;
    if (!(a[i] == before[k++])) reply.by_ref.emplace_back(i, std::move(a[i]));
  }
  return reply;
}

}  // namespace vorncom::rpc

#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/variant.h"
#include "rpc/reception_server.h"
#include "rpc/wire.h"

namespace vorncom::rpc {

enum class Method : uint8_t {
  kAcceptingConnections,
  kSendControlPacket,
  kCheckServerStatus,
  kReplicateClientCfgFile,
  kSendFile,
  kSendDataPacket,
  kValidFile,
  kProtocolate,
  kGetFile,
  kGetDataPacket,
  kEraseFile,
  kCheckFormStatus,
  // Version 2.
  kStartUpload,
  kResumeUpload,
  kFindRegistration,
  kResumeDownload,
};

// How a method is called: its name on the wire, how many arguments it takes, which of them
// (bit i for argument i) are by reference and written back in the reply, and the protocol
// version that brought it.
struct MethodInfo {
  Method method;
  std::string_view name;
  uint8_t arg_count;
  uint8_t by_ref_mask;
  uint8_t version = 1;
};

const std::vector<MethodInfo>& Methods();
// Method names match without regard to letter case, as late-bound dispatch does.
std::optional<MethodInfo> FindMethod(std::string_view name);
const MethodInfo& InfoOf(Method method);

// Runs one request against `server` and builds the reply: the result and every by-reference
// argument whose value the call changed (unchanged ones are left out of the reply).
// Throws EServerError for an unknown method, one of a version above the session's `version`, or
// a wrong argument count, and lets the server's own exceptions through (the caller turns them
// into error frames).
wire::Reply Dispatch(ReceptionServer& server, wire::Request& request, int version = 1);

}  // namespace vorncom::rpc

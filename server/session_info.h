#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "common/exception.h"
#include "common/variant.h"
#include "server/server_context.h"

namespace vorncom::server {

// A call refused; its message goes to the client.
VORNCOM_EXCEPTION(ESessionError);

// Thrown by a handler to make the network layer misbehave on purpose (fault injection).
struct SessionFault {
  enum Kind { kDrop, kStall } kind;
};

// What the control packet of a session said.
struct ControlData {
  bool received = false;
  std::string form_type, form_version, file_name, client_address;
  double size = 0;
  int32_t operation = -1;
};

// What the calls of one session share: the server, the session's number and addresses, its
// control packet, and where slow work that must stay off the event loop goes.
struct SessionInfo {
  // Runs work given to it off the event loop (at once when nobody set another way).
  using OffLoop = std::function<void(std::function<void()> work)>;

  SessionInfo(ServerContext& server, uint64_t number, std::string local, std::string peer)
      : context(server),
        id(number),
        local_address(std::move(local)),
        peer_address(std::move(peer)) {}

  ServerContext& context;
  uint64_t id;
  std::string local_address;  // the address the client reached
  std::string peer_address;   // the client's, for logs and records
  ControlData control;
  OffLoop off_loop = [](std::function<void()> work) { work(); };

  // The configured rule of the control packet's form; null when there is none.
  const FormRule* Rule() const;
  // Element 2 of the protocol data: the configured address, or the one the client reached.
  std::string ServerAddress() const;
  // The client's address as its control packet gave it, or else as the socket saw it.
  std::string ClientAddress() const;
  void Log(const std::string& text) const { context.log.Write(id, text); }
  // Throws ESessionError unless a control packet came first.
  void RequireControl() const;
};

int64_t NowSeconds();
// A byte count given as a double: whole, not negative, within `limit`.
std::optional<int64_t> WholeBytes(double value, int64_t limit);
// A file name the client sent, as text. Throws ESessionError unless it is a bare name, so it
// never reaches outside the server's folders.
std::string BareFileName(const Variant& name);
// Throws ESessionError unless `name` is a bare file name.
void RequireBareFileName(const std::string& name);

}  // namespace vorncom::server

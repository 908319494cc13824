#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "rpc/reception_server.h"
#include "server/download_sender.h"
#include "server/server_context.h"
#include "server/session_info.h"
#include "server/upload_receiver.h"

namespace vorncom::server {

// The reception-server calls of one session, with real files and the registry: the control
// packet and the status calls here, uploads in an UploadReceiver, downloads in a DownloadSender.
// Used by one thread at a time: the session's worker, or a thread of the check pool for the slow
// calls. Failures are exceptions whose message goes to the client. Client file names are
// accepted only as bare names, so they never reach outside the server's folders.
class SessionHandler : public rpc::ReceptionServer {
 public:
  // `local_address`: the address the client reached (element 2 of the protocol data unless the
  // configuration names one). `peer_address`: the client's, for logs and records.
  SessionHandler(ServerContext& context, uint64_t id, std::string local_address,
                 std::string peer_address);
  ~SessionHandler() override;

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
  std::string StartUpload(const std::string& file_name, double size,
                          const std::string& sha256) override;
  double ResumeUpload(const std::string& upload_id) override;
  std::optional<Variant> FindRegistration(const std::string& upload_id, const std::string& sha256,
                                          double size, const std::string& file_name) override;
  void ResumeDownload(double offset) override;

  // How the session gives up the resumable upload when another session wants it: called on any
  // thread, it must only ask the session to close.
  void SetLetGo(std::function<void()> let_go) { upload_.SetLetGo(std::move(let_go)); }
  // Where registry work that a call on the event loop gives rise to is run instead (by default
  // at once, which is right for a handler that never runs on an event loop).
  void SetOffLoop(SessionInfo::OffLoop off_loop) { session_.off_loop = std::move(off_loop); }
  // Whether the next SendDataPacket flushes the resumable upload to disk (a slow call that
  // belongs off the event loop).
  bool SyncDue() const { return upload_.SyncDue(); }
  // Whether destroying the handler, or a SendFile, flushes a resumable upload to disk and
  // records its count.
  bool HoldsUnflushedUpload() const { return upload_.HoldsUnflushedUpload(); }
  // See UploadReceiver::WritePending.
  void WritePending() { upload_.WritePending(); }

  uint64_t id() const { return session_.id; }

 private:
  SessionInfo session_;  // before the halves, which use it until they are gone
  UploadReceiver upload_{session_};
  DownloadSender download_{session_};
};

}  // namespace vorncom::server

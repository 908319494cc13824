#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "rpc/reception_server.h"
#include "server/package_check.h"
#include "server/server_context.h"

namespace vorncom::server {

// Thrown by a handler to make the network layer misbehave on purpose (fault injection).
struct SessionFault {
  enum Kind { kDrop, kStall } kind;
};

// The reception-server calls of one session, with real files and the registry. Used by one
// thread at a time: the session's worker, or a thread of the check pool for the slow calls.
// Failures are exceptions whose message goes to the client.
//
// An upload lives in the incoming folder under a name of the server's own; only ValidFile
// followed by Protocolate moves it into the store. Client file names are accepted only as bare
// names, so they never reach outside the server's folders. A resumable upload (StartUpload,
// ResumeUpload) is held by one session at a time; when the session ends unfinished, its bytes are
// flushed and their count recorded, so that a later session goes on from there.
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
  void SetLetGo(std::function<void()> let_go) { let_go_ = std::move(let_go); }
  // Whether the next SendDataPacket flushes the resumable upload to disk (a slow call that
  // belongs off the event loop).
  bool SyncDue() const;
  // Whether destroying the handler flushes a resumable upload to disk.
  bool HoldsUnflushedUpload() const { return !upload_id_.empty() && upload_ != nullptr; }

  // Appends the packet the last SendDataPacket accepted to the upload file. The session calls it
  // once that call's reply is on its way, so the file write overlaps the client's turnaround
  // instead of delaying the reply. A failed write discards the upload at once; the failure is
  // kept and reported by the next SendDataPacket, ValidFile or Protocolate, so an upload with a
  // lost byte is never validated or stored. A new SendFile forgets it.
  void WritePending();

  uint64_t id() const { return id_; }

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  using File = std::unique_ptr<std::FILE, FileCloser>;

  const FormRule* Rule() const;
  // Drops the upload and its bytes for good (a resumable one expires).
  void DiscardUpload();
  // Ends this session's part in the upload: a resumable one is flushed, its count recorded and
  // its lease given back; any other is discarded.
  void LeaveUpload();
  // Flushes the resumable upload's bytes and records their count. Throws ESessionError.
  void SyncUpload();
  // Opens the upload file at `path` for writing after its first `held` bytes.
  void OpenUploadFile(const std::string& path, int flags, int64_t held);
  void ReleaseLease();
  // Takes the lease of the resumable upload `id` in this server and, through an flock on its
  // file, across the servers sharing the incoming folder. False when another session holds it
  // (one of this server is asked to let go).
  bool TakeLease(const std::string& id);
  bool LockUploadFile();
  // Puts the upload at `stored`, by rename or, when the store is on another file system, by a
  // flushed copy renamed into place (`copied`; the upload then stays to be removed). Throws
  // EFileReplaceError.
  void StoreUpload(const std::string& stored, bool& copied);
  // Takes back what StoreUpload did.
  void UnstoreUpload(const std::string& stored, bool copied);
  Variant UploadProtocolData(const std::string& number, OleDate finished) const;
  // Throws the kept write failure, once.
  void ReportWriteFailure();
  void ProtocolateUpload(Variant& data);
  void ProtocolateDownload(Variant& data);
  std::string ServerAddress() const;
  void Log(const std::string& text) const;

  ServerContext& context_;
  uint64_t id_;
  std::string local_address_;
  std::string peer_address_;

  bool has_control_ = false;
  std::string form_type_, form_version_, control_file_name_, client_address_;
  double control_size_ = 0;
  int32_t operation_ = -1;

  // Upload: open file, its temporary path, bytes so far (those still pending included);
  // validated and header after ValidFile.
  File upload_;
  std::string upload_path_;
  std::string upload_name_;
  int64_t upload_size_ = 0;
  std::string upload_id_;     // the resumable upload's; empty for SendFile's
  std::string expected_sha_;  // what StartUpload said the bytes hash to
  std::string upload_sha_;    // what ValidFile found they hash to
  int64_t synced_ = 0;        // bytes flushed and recorded as held
  std::function<void()> let_go_;
  int upload_lock_ = -1;          // the flock on the resumable upload's file, held with the lease
  std::vector<uint8_t> pending_;  // the accepted packet not yet in the file
  size_t pending_count_ = 0;      // how many of its bytes belong to the upload
  bool write_failed_ = false;
  unsigned packets_ = 0;
  bool upload_valid_ = false;
  PackageHeader header_;
  OleDate started_{};

  // Download.
  File download_;
  std::string download_name_;
  int64_t download_size_ = 0;
  Variant client_info_;
  bool download_started_ = false;
  bool download_read_ = false;  // a GetDataPacket came after GetFile
};

}  // namespace vorncom::server

#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "server/package_check.h"
#include "server/session_info.h"

namespace vorncom::server {

// The upload half of a session: SendFile or StartUpload/ResumeUpload, the packets, ValidFile
// and the Protocolate of a valid upload. Used by one thread at a time, like its session.
//
// An upload lives in the incoming folder under a name of the server's own; only Validate
// followed by Protocolate moves it into the store. A resumable upload is held by one session at a
// time; when the session ends unfinished, its bytes are flushed and their count recorded, so that
// a later session goes on from there. Failures are ESessionError, whose message goes to the
// client.
class UploadReceiver {
 public:
  // `session` must outlive the receiver.
  explicit UploadReceiver(SessionInfo& session) : session_(session) {}
  ~UploadReceiver() { Leave(); }
  UploadReceiver(const UploadReceiver&) = delete;
  UploadReceiver& operator=(const UploadReceiver&) = delete;

  // SendFile: a new upload under the client's bare file name `name`.
  void Start(const std::string& name);
  // StartUpload: a new resumable upload; returns its id.
  std::string StartResumable(const std::string& file_name, double size, const std::string& sha256);
  // ResumeUpload: goes on with the resumable upload `upload_id`; returns the bytes held.
  double Resume(const std::string& upload_id);
  // SendDataPacket: takes the packet's first `byte_count` bytes; WritePending writes them.
  void AcceptPacket(Variant& packet, Variant& byte_count);
  // ValidFile: whether the upload is complete, of the announced digest and a sound package.
  bool Validate();
  // Whether Protocolate would register this upload (Validate said yes).
  bool Valid() const { return valid_; }
  // Protocolate of a valid upload: registers and stores it, fills the protocol data.
  void Protocolate(Variant& data);

  // Appends the packet the last AcceptPacket took to the upload file. The session calls it once
  // that call's reply is on its way, so the file write overlaps the client's turnaround instead
  // of delaying the reply. A failed write discards the upload at once; the failure is kept and
  // reported by the next AcceptPacket, Validate or Protocolate (ReportWriteFailure), so an upload
  // with a lost byte is never validated or stored. A new upload forgets it.
  void WritePending();
  // Throws the kept write failure, once.
  void ReportWriteFailure();

  // How the session gives up the resumable upload when another session wants it: called on any
  // thread, it must only ask the session to close.
  void SetLetGo(std::function<void()> let_go) { let_go_ = std::move(let_go); }
  // Whether the next AcceptPacket flushes the resumable upload to disk (a slow call that
  // belongs off the event loop).
  bool SyncDue() const;
  // Whether Leave (and so destroying the receiver) flushes a resumable upload to disk.
  bool HoldsUnflushedUpload() const { return lease_.held() && file_ != nullptr; }

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  using File = std::unique_ptr<std::FILE, FileCloser>;

  // Drops the upload and its bytes for good; a resumable one expires, off the event loop.
  void Discard();
  // Ends this session's part in the upload: a resumable one is flushed, its count recorded and
  // its lease given back; any other is discarded. Never throws.
  void Leave();
  // Flushes the resumable upload's bytes and records their count. Throws ESessionError.
  void Sync();
  // Opens the upload file at `path` for writing after its first `held` bytes.
  void OpenFile(const std::string& path, int flags, int64_t held);
  Variant ProtocolData(const std::string& number, OleDate finished) const;

  SessionInfo& session_;
  ServerContext& context_ = session_.context;

  // The open file, its temporary path, bytes so far (those still pending included); validated
  // and header after Validate.
  File file_;
  std::string path_;
  std::string name_;
  int64_t size_ = 0;
  std::string expected_sha_;  // what StartUpload said the bytes hash to
  std::string sha_;           // what Validate found they hash to
  int64_t synced_ = 0;        // bytes flushed and recorded as held
  std::function<void()> let_go_;
  UploadLease lease_{context_.leases};  // the resumable upload's; none for SendFile's
  std::vector<uint8_t> pending_;        // the accepted packet not yet in the file
  size_t pending_count_ = 0;            // how many of its bytes belong to the upload
  bool write_failed_ = false;
  unsigned packets_ = 0;
  bool valid_ = false;
  PackageHeader header_;
  OleDate started_{};
};

}  // namespace vorncom::server

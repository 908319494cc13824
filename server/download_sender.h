#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "common/date_time.h"
#include "server/session_info.h"

namespace vorncom::server {

// The download half of a session: GetFile, the packets, ResumeDownload, EraseFile and the
// Protocolate of a download. Files come from the download folder, named by bare names only.
// Used by one thread at a time, like its session. Failures are ESessionError.
class DownloadSender {
 public:
  // `session` must outlive the sender.
  explicit DownloadSender(SessionInfo& session) : session_(session) {}

  // GetFile: opens `name` and keeps the client information for the record; returns its size, 0
  // when there is no such file.
  int32_t Open(const std::string& name, const Variant& client_info);
  // GetDataPacket: the next packet into `packet`; returns its byte count.
  int32_t NextPacket(Variant& packet);
  // ResumeDownload: the next packet starts at `offset`; only before the first one was read.
  void Resume(double offset);
  // EraseFile.
  void Erase(const std::string& name);
  // Whether Protocolate would register this download (GetFile opened a file with bytes).
  bool Started() const { return started_; }
  // Protocolate of a download: registers it and fills the protocol elements of `data`.
  void Protocolate(Variant& data);

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  SessionInfo& session_;
  ServerContext& context_ = session_.context;
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::string name_;
  int64_t size_ = 0;
  Variant client_info_;
  OleDate opened_{};
  bool started_ = false;
  bool read_ = false;  // a packet was read after Open
};

}  // namespace vorncom::server

#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/exception.h"
#include "common/sqlite/database.h"

namespace vorncom::server {

VORNCOM_EXCEPTION(ERegistryError);

// What is recorded about one protocolated transmission.
struct Registration {
  int operation = 1;        // 1 upload, 0 download
  std::string file_name;    // the client's
  std::string stored_path;  // where the upload was stored; empty for a download
  std::string stored_name;  // its file name there
  int64_t size = 0;
  std::string form_type, form_name, form_version;
  std::string requester_id, requester_name, agency_id;
  std::string client_address;
  std::string started, finished;  // "dd/mm/yyyy hh:nn:ss"
  // Uploads only: the SHA-256 of the bytes (lowercase hex), the resumable upload's id (empty for
  // SendFile's), and the protocol data exactly as Protocolate answered it (variant encoding of
  // the wire protocol), which commit_files sets once the number is known.
  std::string sha256;
  std::string upload_id;
  std::vector<uint8_t> protocol_data;
};

// A registration found again instead of making a new one.
struct EarlierRegistration {
  std::string number;
  std::vector<uint8_t> protocol_data;  // as Protocolate answered it
};

// A resumable upload, from StartUpload until it is registered or expires.
struct UploadRecord {
  enum class State { kOpen, kRegistered, kExpired };
  std::string id;
  std::string file_name;
  int64_t size = 0;
  std::string sha256;
  std::string form_type, form_version, client_address;
  std::string started;  // "dd/mm/yyyy hh:nn:ss"
  int64_t held = 0;     // bytes on disk, flushed
  State state = State::kOpen;
  int64_t moved = 0;   // seconds since the epoch: when it was started, resumed or last synced
  std::string number;  // the registration it ended in
};

// The server's SQLite database of registrations and resumable uploads. Protocol numbers come from
// an AUTOINCREMENT key, so they are never reused, also across restarts and after deletions.
// Thread-safe: one connection, serialised by a mutex. The SQL keeps to plain types (TEXT,
// INTEGER) and statements other engines share, so that servers can one day share another one.
class Registry {
 public:
  // Opens or creates the database file, bringing one of an earlier layout up to date. Throws
  // ERegistryError.
  explicit Registry(const std::string& path, std::string protocol_prefix = {});
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Records `entry` under a new protocol number and returns the number. `commit_files` runs inside
  // the transaction with the number and its serial, the ten digits that no other registration
  // ever gets, whatever the prefix (it moves the upload into place and sets the entry's stored
  // path and name); when it throws, nothing is recorded and the exception passes on. When the
  // commit itself fails, `undo_files` runs.
  std::string Record(
      Registration& entry,
      const std::function<void(const std::string& number, const std::string& serial)>& commit_files,
      const std::function<void()>& undo_files);

  // As Record, for an upload that may have been registered already: when the resumable upload
  // `entry.upload_id` ended in a registration, or one of the same SHA-256, size and file name was
  // made at or after `dedup_since` (seconds since the epoch; 0: no such check), nothing is
  // recorded and that registration is returned. Either way the resumable upload is marked
  // registered in the same transaction. Empty when a new registration was made: its number is in
  // `number`.
  std::optional<EarlierRegistration> RecordUpload(
      Registration& entry, int64_t dedup_since, std::string& number,
      const std::function<void(const std::string& number, const std::string& serial)>& commit_files,
      const std::function<void()>& undo_files);
  // The registration of the resumable upload `upload_id` (may be empty); failing that the newest
  // one of an upload of this SHA-256, size and name made at or after `since` (0: none looked for).
  std::optional<EarlierRegistration> FindRegistration(const std::string& upload_id,
                                                      const std::string& sha256, int64_t size,
                                                      const std::string& file_name, int64_t since);

  // Resumable uploads. Throw ERegistryError.
  void CreateUpload(const UploadRecord& upload);
  std::optional<UploadRecord> FindUpload(const std::string& id);
  // `held` bytes of the upload are on disk; it moved at `now`.
  void RecordHeld(const std::string& id, int64_t held, int64_t now);
  void ExpireUpload(const std::string& id);
  // Open uploads that last moved before `moved_before` (every open one for INT64_MAX).
  std::vector<UploadRecord> OpenUploads(int64_t moved_before);

  int64_t Count();
  // Whether a committed registration stored its upload under this file name.
  bool HasStoredName(const std::string& name);

 private:
  bool HasColumn(const char* table, const char* column);
  void Migrate();
  // The body of Record; the caller holds the mutex and the transaction.
  std::string RecordLocked(
      Registration& entry, sqlite::Transaction& transaction,
      const std::function<void(const std::string& number, const std::string& serial)>& commit_files,
      const std::function<void()>& undo_files);
  std::optional<EarlierRegistration> FindLocked(const std::string& upload_id,
                                                const std::string& sha256, int64_t size,
                                                const std::string& file_name, int64_t since);
  void MarkRegistered(const std::string& upload_id, const std::string& number);

  std::mutex mutex_;
  sqlite::Database db_;
  std::string prefix_;
};

}  // namespace vorncom::server

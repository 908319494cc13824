#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

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
};

// The server's SQLite database of registrations. Protocol numbers come from an AUTOINCREMENT key,
// so they are never reused, also across restarts and after deletions. Thread-safe: one
// connection, serialised by a mutex.
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

  int64_t Count();
  // Whether a committed registration stored its upload under this file name.
  bool HasStoredName(const std::string& name);

 private:
  bool HasColumn(const char* table, const char* column);
  void Migrate();

  std::mutex mutex_;
  sqlite::Database db_;
  std::string prefix_;
};

}  // namespace vorncom::server

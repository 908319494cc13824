#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "common/exception.h"

struct sqlite3;

namespace vorncom::server {

VORNCOM_EXCEPTION(ERegistryError);

// What is recorded about one protocolated transmission.
struct Registration {
  int operation = 1;  // 1 upload, 0 download
  std::string file_name;
  std::string stored_path;
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
  // Opens or creates the database file. Throws ERegistryError.
  explicit Registry(const std::string& path, std::string protocol_prefix = {});
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Records `entry` under a new protocol number and returns the number. `commit_files` runs inside
  // the transaction with the number (it moves the upload into place); when it throws, nothing is
  // recorded and the exception passes on. When the commit itself fails, `undo_files` runs.
  std::string Record(Registration& entry,
                     const std::function<void(const std::string&)>& commit_files,
                     const std::function<void()>& undo_files);

  int64_t Count();
  // Whether a committed registration holds this protocol number.
  bool HasNumber(const std::string& number);

 private:
  void Exec(const char* sql);
  [[noreturn]] void Fail(const std::string& what);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::string prefix_;
};

}  // namespace vorncom::server

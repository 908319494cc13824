#pragma once

#include <mutex>
#include <string>

#include "common/sqlite/database.h"
#include "server/registry.h"

namespace vorncom::server {

// The registry of one server in a SQLite file. Protocol numbers come from an AUTOINCREMENT key.
// One connection, serialised by a mutex.
class SqliteRegistry final : public Registry {
 public:
  // Opens or creates the database file, bringing one of an earlier layout up to date. Throws
  // ERegistryError.
  explicit SqliteRegistry(const std::string& path, std::string protocol_prefix = {});
  ~SqliteRegistry() override;

  std::string Record(Registration& entry, const CommitFiles& commit_files,
                     const UndoFiles& undo_files) override;
  std::optional<EarlierRegistration> RecordUpload(Registration& entry, int64_t dedup_since,
                                                  std::string& number,
                                                  const CommitFiles& commit_files,
                                                  const UndoFiles& undo_files) override;
  std::optional<EarlierRegistration> FindRegistration(const std::string& upload_id,
                                                      const std::string& sha256, int64_t size,
                                                      const std::string& file_name,
                                                      int64_t since) override;
  void CreateUpload(const UploadRecord& upload) override;
  std::optional<UploadRecord> FindUpload(const std::string& id) override;
  void RecordHeld(const std::string& id, int64_t held, int64_t now) override;
  void ExpireUpload(const std::string& id) override;
  std::vector<UploadRecord> OpenUploads(int64_t moved_before) override;
  int64_t Count() override;
  bool HasStoredName(const std::string& name) override;
  bool Shared() const override { return false; }
  std::optional<std::string> CheckReachable() override;

 private:
  bool HasColumn(const char* table, const char* column);
  void Migrate();
  // The body of Record; the caller holds the mutex and the transaction.
  std::string RecordLocked(Registration& entry, sqlite::Transaction& transaction,
                           const CommitFiles& commit_files, const UndoFiles& undo_files);
  std::optional<EarlierRegistration> FindLocked(const std::string& upload_id,
                                                const std::string& sha256, int64_t size,
                                                const std::string& file_name, int64_t since);
  void MarkRegistered(const std::string& upload_id, const std::string& number);

  std::mutex mutex_;
  sqlite::Database db_;
  std::string prefix_;
};

}  // namespace vorncom::server

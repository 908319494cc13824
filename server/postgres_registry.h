#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/postgres/connection.h"
#include "server/postgres/transaction.h"
#include "server/registry.h"

namespace vorncom::server {

// The registry several servers share in one PostgreSQL database. Protocol numbers come from one
// SEQUENCE, so they are unique across servers and never reused (a rolled back registration leaves
// a gap). Registrations of the same SHA-256, size and name are serialised across servers by a
// transaction-scoped advisory lock on that triple, so that two servers receiving the same package
// at once make one registration. A pool of `connections` connections serves the calls (one more
// answers CheckReachable); a connection found lost fails its call and is made again by the next
// call that takes it.
class PostgresRegistry final : public Registry {
 public:
  // Connects and creates or migrates the schema (versioned, under an advisory lock, so servers
  // starting together are safe). Throws ERegistryError.
  explicit PostgresRegistry(std::string url, std::string protocol_prefix = {},
                            unsigned connections = 4);
  ~PostgresRegistry() override;

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
  bool Shared() const override { return true; }
  std::optional<std::string> CheckReachable() override;

  // The schema version this build creates.
  static int SchemaVersion();

 private:
  class Lease;
  friend class Lease;

  // A connection of the pool, connected again when it was lost. Throws ERegistryError.
  postgres::Connection& Acquire(size_t& slot);
  void Release(size_t slot);
  void Migrate(postgres::Connection& db);
  // Runs `body` on a pooled connection, raising its database failure as "<what>: <message>.".
  template <typename Body>
  auto Run(std::string_view what, Body&& body);
  std::string RecordOn(postgres::Connection& db, postgres::Transaction& transaction,
                       Registration& entry, std::string_view& what, const CommitFiles& commit_files,
                       const UndoFiles& undo_files);
  // Whether registration `id` is committed, asked on a fresh connection after a commit whose
  // answer was lost; nullopt when that cannot be told.
  std::optional<bool> Committed(int64_t id);

  const std::string url_;
  const std::string prefix_;
  std::mutex mutex_;
  std::condition_variable free_;
  std::vector<std::unique_ptr<postgres::Connection>> pool_;  // null: to be connected
  std::vector<bool> busy_;
  std::mutex health_mutex_;
  std::unique_ptr<postgres::Connection> health_;
};

}  // namespace vorncom::server

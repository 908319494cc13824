#pragma once

#include "server/postgres/connection.h"

namespace vorncom::postgres {

enum class Isolation { kReadCommitted, kRepeatableRead, kSerializable };

// BEGIN on construction; ROLLBACK when it goes without Commit (also while an exception unwinds).
// A connection lost meanwhile has rolled back on the server already.
class Transaction {
 public:
  explicit Transaction(Connection& connection, Isolation isolation = Isolation::kReadCommitted);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Throws EPostgresError when the server refuses the commit (nothing is then committed).
  void Commit();

 private:
  Connection& connection_;
  bool open_ = true;
};

}  // namespace vorncom::postgres

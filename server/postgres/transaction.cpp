#include "server/postgres/transaction.h"

namespace vorncom::postgres {

namespace {

const char* BeginStatement(Isolation isolation) {
  switch (isolation) {
    case Isolation::kRepeatableRead:
      return "BEGIN ISOLATION LEVEL REPEATABLE READ";
    case Isolation::kSerializable:
      return "BEGIN ISOLATION LEVEL SERIALIZABLE";
    case Isolation::kReadCommitted:
      break;
  }
  return "BEGIN ISOLATION LEVEL READ COMMITTED";
}

}  // namespace

Transaction::Transaction(Connection& connection, Isolation isolation) : connection_(connection) {
  connection_.Execute(BeginStatement(isolation));
}

Transaction::~Transaction() {
  if (!open_ || connection_.IsLost()) return;
  try {
    connection_.Execute("ROLLBACK");
  } catch (const EPostgresError&) {
    // The server rolls back an aborted transaction by itself when the connection goes.
  }
}

void Transaction::Commit() {
  open_ = false;
  // COMMIT of a transaction that met an error succeeds as a ROLLBACK: nothing was kept.
  if (connection_.Execute("COMMIT").CommandTag() == "ROLLBACK")
    throw EPostgresError(std::string(kInFailedTransaction),
                         "a transação falhou antes do COMMIT; nada foi gravado", false);
}

}  // namespace vorncom::postgres

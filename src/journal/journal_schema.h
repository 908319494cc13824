#pragma once

#include "common/sqlite/database.h"

namespace vorncom::journal {

// The schema this build writes (PRAGMA user_version).
inline constexpr int kJournalSchemaVersion = 1;

// Readies a freshly opened connection: WAL, full synchronisation, an untrusted schema; creates the
// tables in an empty database and checks that the ones found are a journal's. Throws
// EJournalError (naming no path) for a database of a newer schema or none of ours, and
// sqlite::ESqliteError for the engine's failures; neither writes to such a file.
void PrepareJournal(sqlite::Database& db);

}  // namespace vorncom::journal

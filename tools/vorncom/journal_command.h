#pragma once

#include <ostream>
#include <string>

namespace vorncom::tool {

// Prints the journal at `path` (sends, attempts, the chain's verdict) to `out`, its failures to
// `err`. Returns 0 when the chain is intact or there is no journal, 1 when it was altered, 125
// when the journal cannot be read. A missing file is reported, never created.
int PrintJournal(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace vorncom::tool

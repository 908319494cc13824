#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "journal/send_journal.h"

namespace vorncom::journal {

// The previous hash of the first row.
inline constexpr std::string_view kChainStart =
    "0000000000000000000000000000000000000000000000000000000000000000";

// Row `id`'s hash: SHA-256 over `previous_hash`, the id and the attempt's fields, each framed so
// that no two rows encode alike (a text as its 8-byte length and bytes, a number as 8 bytes).
std::string AttemptRowHash(std::string_view previous_hash, int64_t id, const Attempt& attempt);

}  // namespace vorncom::journal

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorncom::server {

// The SHA-256 of the file's bytes as 64 lowercase hex digits; nothing when it cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path);

// Whether `text` is a SHA-256 as the protocol writes it: 64 lowercase hex digits.
bool IsSha256Text(std::string_view text);

// A fresh upload id: 32 hex digits from the system's random source, so that ids are never
// issued twice and cannot be guessed. Throws std::runtime_error when no randomness is available.
std::string NewUploadId();

// Whether `id` is one an upload id may be: 1 to 64 of A-Z a-z 0-9 and '-'. Ids are part of file
// names, so nothing else ever reaches a path.
bool IsUploadIdText(std::string_view id);

}  // namespace vorncom::server

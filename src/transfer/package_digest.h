#pragma once

#include <string>

namespace vorncom::transfer {

// The SHA-256 of the file's bytes as 64 lowercase hex digits, the identity a resumable upload and
// a registration lookup give the server. Throws vorncom::Exception when the file cannot be read.
std::string FileSha256(const std::string& path);

}  // namespace vorncom::transfer

#pragma once

#include <string>

namespace vorncom::server {

// Puts the upload at `upload` into the store at `stored`, by rename or, when the store is on
// another file system, by a flushed copy renamed into place (`copied` is then set: the upload
// stays where it was, to be removed by the caller). Throws EFileReplaceError; after one of step
// kFlushFolder the file is in place but maybe not durable, and `copied` says how it got there.
void MoveIntoStore(const std::string& upload, const std::string& stored, bool& copied);

// Takes back what MoveIntoStore did: removes the copy, or renames the file back to `upload`.
void TakeOutOfStore(const std::string& upload, const std::string& stored, bool copied);

}  // namespace vorncom::server

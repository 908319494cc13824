#pragma once

#include <cstdint>
#include <string>

#include "common/exception.h"
#include "common/variant.h"

namespace vorncom::package {

// Failures of loading or saving the client configuration file, with the user-facing text.
VORNCOM_EXCEPTION(EConfigurationError);

// The default name of the client configuration file, in the configuration folder.
inline constexpr const char* kClientConfigFileName = "zedidodad-Vorn.cfg";

// A server-list file larger than this is refused as unreadable; the largest list a server may
// hand out is far smaller (rpc::kMaxReplicatedListBytes).
inline constexpr uintmax_t kMaxServerListFileSize = 16u << 20;

// Moves the client configuration file (the serialized server list) in and out of memory. The
// bytes are not interpreted here; the server-list codec reads and writes them.
class TConfigurationManager {
 public:
  // Null, or after a successful load the file's bytes with bounds 1..N.
  const Variant& server_data() const { return server_data_; }

  // Sets the server data to null, then loads the file. Throws EConfigurationError when the file
  // does not exist, is larger than kMaxServerListFileSize or its bytes cannot be read,
  // EBinaryFileError when it cannot be opened; the
  // server data then stays null.
  void LoadServerList(const std::string& file_name);

  // Replaces the file with the bytes of `data` (a byte array, written as TBinaryFile::WriteData
  // writes). The old file stays intact until the new one is complete. Throws EConfigurationError
  // when the file cannot be created or written.
  void SaveServerList(const std::string& file_name, const Variant& data);

 private:
  Variant server_data_ = Variant::Null();
};

}  // namespace vorncom::package

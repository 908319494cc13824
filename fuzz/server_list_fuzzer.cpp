// Server-list bytes from a configuration file or a server: any input either fails with
// EServerListError or gives a list that survives a write and read unchanged.
#include <cstddef>
#include <cstdint>
#include <span>

#include "rpc/server_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorncom::rpc;
  std::vector<ServerItem> servers;
  try {
    servers = DecodeServerList(std::span(data, size));
  } catch (const EServerListError&) {
    return 0;
  }
  const std::vector<uint8_t> bytes = EncodeServerList(servers);
  const std::vector<ServerItem> again = DecodeServerList(bytes);
  // Names may change through Windows-1252 (characters it lacks become '?'), and only once.
  if (EncodeServerList(again) != bytes) __builtin_trap();
  return 0;
}

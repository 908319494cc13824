// Reads, changes and writes back INI-layout text (header.cfg, protocolo.rec) built from
// arbitrary bytes.
#include "ini_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vorncom::package::fuzz::CheckIniBytes(data, size);
  return 0;
}

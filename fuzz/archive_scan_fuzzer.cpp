// Lists archives built from arbitrary bytes.
#include "archive_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vorncom::archive::fuzz::ScanBytes(data, size);
  return 0;
}

// Expands every entry of archives built from arbitrary bytes, with every method's decoder.
#include "archive_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vorncom::archive::fuzz::ExpandBytes(data, size);
  return 0;
}

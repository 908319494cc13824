#include "coder_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vorncom::fuzz::DecodeInput(vorncom::fuzz::Method::kLh5, data, size);
  return 0;
}

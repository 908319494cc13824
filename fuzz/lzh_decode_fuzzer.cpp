#include "coder_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vorncom::fuzz::DecodeInput(vorncom::fuzz::Method::kLzh, data, size);
  return 0;
}

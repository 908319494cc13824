// The exhaustive LH5 encoder with its chain finder must code every input exactly as with the
// trie, and both its stream and EncodeLh5's (the bounded finder) must decode back to the input.
#include <cstdlib>
#include <sstream>
#include <string>

#include "archive/byte_layer.h"
#include "archive/coders.h"
#include "archive/lh5/lh5_encoder.h"

namespace {

using namespace vorncom::archive;

template <class Coder>
std::string Run(const std::string& input, Coder coder, int64_t count = 0) {
  std::istringstream in(input);
  std::ostringstream out;
  ByteLayer::Options options;
  options.input_size = static_cast<int64_t>(input.size());
  ByteLayer io(in, out, options);
  coder(io, count);
  io.Flush();
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // With an odd first byte the rest is stretched to up to 32 KiB by repeating its suffixes,
  // so that long matches, runs, matches across the window's edge and slides are common.
  std::string input(reinterpret_cast<const char*>(data), size);
  if (size >= 2 && (data[0] & 1) != 0) {
    const std::string body = input.substr(1);
    const size_t target = 256 + size_t{data[0]} * 128;
    input.clear();
    for (size_t i = 0; input.size() < target; ++i) input += body.substr(i % body.size());
  }
  const std::string by_chain =
      Run(input, [](ByteLayer& io, int64_t) { lh5::EncodeLh5Exhaustive(io); });
  const std::string by_trie =
      Run(input, [](ByteLayer& io, int64_t) { lh5::EncodeLh5WithTrie(io); });
  if (by_chain != by_trie) std::abort();
  const std::string bounded = Run(input, [](ByteLayer& io, int64_t) { EncodeLh5(io); });
  for (const std::string* packed : {&by_chain, &bounded}) {
    const std::string back = Run(
        *packed, [](ByteLayer& io, int64_t n) { DecodeLh5(io, n); },
        static_cast<int64_t>(input.size()));
    if (back.substr(0, input.size()) != input) std::abort();
  }
  return 0;
}

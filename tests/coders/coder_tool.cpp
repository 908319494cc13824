// Command-line access to the LZ coders for peer comparisons:
//   coder_tool lh5|lh5-exhaustive|lh5-trie|lzh encode IN OUT
//       (lh5-exhaustive: the longest matches, lh5-trie: the same from the reference trie finder;
//        lh5:DEPTH:NICE:LAZY_STOP[:GOOD]: the lazy parse with another search effort)
//   coder_tool lh5|lzh decode IN OUT SIZE   (OUT "-": keep only the byte sum, print it)
//   coder_tool wrap -lh5-|-lh1- PACKED ORIGINAL OUT.lzh
//   coder_tool unwrap ARCHIVE.lzh PACKED   (prints the method and original size)
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "archive/coders.h"
#include "archive/lh5/lh5_encoder.h"
#include "lha_container.h"

using namespace vorncom::archive;

namespace {

// Swallows what it is given, so a decode can be timed without the cost of storing its output.
class NullBuf : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

int Run(const std::string& method, bool encode, const char* in_path, const char* out_path,
        int64_t size) {
  std::ifstream in(in_path, std::ios::binary);
  const bool sum_only = std::strcmp(out_path, "-") == 0;
  NullBuf discard;
  std::ofstream file;
  if (!sum_only) file.open(out_path, std::ios::binary | std::ios::trunc);
  std::ostream out(sum_only ? static_cast<std::streambuf*>(&discard) : file.rdbuf());
  in.seekg(0, std::ios::end);
  ByteLayer::Options options;
  options.input_size = in.tellg();
  in.seekg(0);
  ByteLayer io(in, out, options);
  if (method == "lh5") {
    encode ? EncodeLh5(io) : DecodeLh5(io, size);
  } else if (method == "lh5-exhaustive") {
    encode ? lh5::EncodeLh5Exhaustive(io) : DecodeLh5(io, size);
  } else if (lh5::SearchEffort e{}; std::sscanf(method.c_str(), "lh5:%u:%u:%u:%u", &e.depth,
                                                &e.nice, &e.lazy_stop, &e.good) >= 3) {
    encode ? lh5::EncodeLh5WithEffort(io, e) : DecodeLh5(io, size);
  } else if (method == "lh5-trie") {
    encode ? lh5::EncodeLh5WithTrie(io) : DecodeLh5(io, size);
  } else {
    encode ? EncodeLzh(io) : DecodeLzh(io, size);
  }
  io.Flush();
  if (sum_only)
    std::printf("%lld bytes, sum %08x\n", static_cast<long long>(io.bytes_written()),
                io.write_sum());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && (std::strcmp(argv[2], "encode") == 0)) {
    return Run(argv[1], true, argv[3], argv[4], 0);
  }
  if (argc == 6 && std::strcmp(argv[2], "decode") == 0) {
    return Run(argv[1], false, argv[3], argv[4], std::stoll(argv[5]));
  }
  if (argc == 6 && std::strcmp(argv[1], "wrap") == 0) {
    testing::WriteFile(argv[5], testing::WrapLevel0(argv[2], testing::ReadFile(argv[3]),
                                                    testing::ReadFile(argv[4]), "data.bin"));
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "unwrap") == 0) {
    auto member = testing::UnwrapFirst(testing::ReadFile(argv[2]));
    if (!member) return 1;
    testing::WriteFile(argv[3], member->packed);
    std::printf("%s %u\n", member->method.c_str(), member->original_size);
    return 0;
  }
  std::cerr << "usage: coder_tool lh5|lh5-exhaustive|lh5-trie|lh5:D:N:L[:G]|lzh encode IN OUT | "
               "lh5|lzh decode IN OUT SIZE |\n"
               "       wrap METHOD PACKED ORIGINAL OUT | unwrap ARCHIVE PACKED\n";
  return 2;
}

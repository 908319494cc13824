#pragma once

// Shared by the decoder fuzz targets and the test that replays their findings: the first two
// bytes of an input are the count to decode (little-endian), the rest is the stored data.

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <streambuf>

#include "archive/byte_layer.h"
#include "archive/coder_errors.h"
#include "archive/coders.h"

namespace vorncom::fuzz {

class NullBuf : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

class MemoryBuf : public std::streambuf {
 public:
  MemoryBuf(const uint8_t* data, size_t size) {
    char* p = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
    setg(p, p, p + size);
  }
};

enum class Method { kLzh, kLh5 };

// Decodes one input; a corrupt LH5 table and codes that run past the stored data are expected
// outcomes, anything else escapes.
inline void DecodeInput(Method method, const uint8_t* data, size_t size) {
  if (size < 2) return;
  const int64_t count = data[0] | (data[1] << 8);
  MemoryBuf in_buf(data + 2, size - 2);
  NullBuf out_buf;
  std::istream in(&in_buf);
  std::ostream out(&out_buf);
  archive::ByteLayer::Options options;
  options.input_size = static_cast<int64_t>(size - 2);
  archive::ByteLayer io(in, out, options);
  try {
    if (method == Method::kLzh) {
      archive::DecodeLzh(io, count);
    } else {
      archive::DecodeLh5(io, count);
    }
  } catch (const archive::ELZHBadDecodeTable&) {
  } catch (const archive::ESizeMismatch&) {
  }
  io.Flush();
}

}  // namespace vorncom::fuzz

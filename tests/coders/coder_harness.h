#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "archive/byte_layer.h"

namespace vorncom::archive::testing {

using Bytes = std::vector<uint8_t>;

// A stream buffer that hands out at most `chunk` bytes per underflow, so decoders meet every
// buffer edge.
class ChunkedBuf : public std::streambuf {
 public:
  ChunkedBuf(const Bytes& data, size_t chunk) : data_(data), chunk_(chunk) {}

 protected:
  int_type underflow() override {
    if (pos_ >= data_.size()) return traits_type::eof();
    const size_t n = std::min(chunk_, data_.size() - pos_);
    char* base = reinterpret_cast<char*>(const_cast<uint8_t*>(data_.data() + pos_));
    setg(base, base, base + n);
    pos_ += n;
    return traits_type::to_int_type(*gptr());
  }

 private:
  const Bytes& data_;
  size_t chunk_;
  size_t pos_ = 0;
};

// Runs `coder(io)` over `input` and returns what it wrote.
template <class Coder>
Bytes RunCoder(const Bytes& input, Coder coder, size_t chunk = 1 << 20) {
  ChunkedBuf buf(input, chunk);
  std::istream in(&buf);
  std::ostringstream out;
  ByteLayer::Options options;
  options.input_size = static_cast<int64_t>(input.size());
  ByteLayer io(in, out, options);
  coder(io);
  io.Flush();
  const std::string s = out.str();
  return Bytes(s.begin(), s.end());
}

}  // namespace vorncom::archive::testing

#pragma once

#include <cstdint>
#include <random>
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
Bytes RunCoder(const Bytes& input, Coder coder, size_t chunk = 1 << 20,
               int64_t budget = INT32_MAX) {
  ChunkedBuf buf(input, chunk);
  std::istream in(&buf);
  std::ostringstream out;
  ByteLayer::Options options;
  options.input_size = static_cast<int64_t>(input.size());
  options.budget = budget;
  ByteLayer io(in, out, options);
  coder(io);
  io.Flush();
  const std::string s = out.str();
  return Bytes(s.begin(), s.end());
}

// Test inputs by kind: "random" bytes, "text" (words from a small vocabulary), "runs" of
// repeated bytes, "binary" (structured records with small integers and zero padding).
inline Bytes MakeData(const std::string& kind, size_t size, unsigned seed = 1) {
  std::mt19937 rng(seed);
  Bytes data;
  data.reserve(size + 64);
  if (kind == "random") {
    while (data.size() < size) data.push_back(static_cast<uint8_t>(rng()));
  } else if (kind == "text") {
    static const char* kWords[] = {"formul\xC3\xA1rio",
                                   "recibo",
                                   "protocolo",
                                   "servidor",
                                   "envio",
                                   "de",
                                   "o",
                                   "a",
                                   "para",
                                   "pacote",
                                   "\n",
                                   "data",
                                   "2026",
                                   "Vorn"};
    while (data.size() < size) {
      const std::string w = kWords[rng() % 14];
      data.insert(data.end(), w.begin(), w.end());
      data.push_back(' ');
    }
  } else if (kind == "runs") {
    while (data.size() < size)
      data.insert(data.end(), 1 + rng() % 400, static_cast<uint8_t>(rng() % 3));
  } else {
    while (data.size() < size) {
      const uint32_t v = rng() % 5000;
      for (int k = 0; k < 4; ++k) data.push_back(static_cast<uint8_t>(v >> (8 * k)));
      data.insert(data.end(), rng() % 24, 0);
    }
  }
  data.resize(size);
  return data;
}

}  // namespace vorncom::archive::testing

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "archive/byte_layer.h"

namespace vorncom::archive {

// The byte layer in bulk for coders that look at one byte at a time: bytes come from the layer
// and go to it a buffer at a time, so the layer's per-byte checks run once per buffer.
class BulkInput {
 public:
  explicit BulkInput(ByteLayer& io) : io_(io) {}

  // The next byte; false once the layer's input is exhausted (or the run was cancelled).
  bool Next(uint8_t& byte) {
    if (pos_ == end_ && !Refill()) return false;
    byte = bytes_[pos_++];
    return true;
  }

 private:
  bool Refill() {
    end_ = io_.ReadBytes(bytes_.data(), bytes_.size());
    pos_ = 0;
    return end_ != 0;
  }

  ByteLayer& io_;
  std::array<uint8_t, ByteLayer::kBufferSize> bytes_;
  size_t pos_ = 0, end_ = 0;
};

// Output collected for the layer. The budget is checked as each buffer goes out, so a coder
// whose output passes it fails at most a buffer later, with the same error; Flush() at the end.
class BulkOutput {
 public:
  explicit BulkOutput(ByteLayer& io) : io_(io) {}

  void Put(uint8_t byte) {
    if (used_ == bytes_.size()) Flush();
    bytes_[used_++] = byte;
  }

  void Flush() {
    io_.WriteBytes(bytes_.data(), used_);
    used_ = 0;
  }

 private:
  ByteLayer& io_;
  std::array<uint8_t, ByteLayer::kBufferSize> bytes_;
  size_t used_ = 0;
};

}  // namespace vorncom::archive

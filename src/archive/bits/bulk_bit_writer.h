#pragma once

#include <array>
#include <cstdint>

#include "archive/byte_layer.h"

namespace vorncom::archive {

// Packs codes most significant bit first and hands them to the byte layer in bulk, four bytes
// at a time into a buffer of its own. Finish() pads the last partial byte with zero bits and
// writes everything out; the layer's budget is therefore checked at each bulk write.
class BulkBitWriter {
 public:
  explicit BulkBitWriter(ByteLayer& io) : io_(io) {}

  // Appends the low `count` bits of `value` (count 0..32; higher bits of value must be 0).
  void Put(unsigned count, uint32_t value) {
    acc_ = (acc_ << count) | value;  // fill_ < 32 before, so nothing pending is shifted out
    fill_ += count;
    if (fill_ >= 32) {
      fill_ -= 32;
      const auto word = static_cast<uint32_t>(acc_ >> fill_);
      bytes_[used_] = static_cast<uint8_t>(word >> 24);
      bytes_[used_ + 1] = static_cast<uint8_t>(word >> 16);
      bytes_[used_ + 2] = static_cast<uint8_t>(word >> 8);
      bytes_[used_ + 3] = static_cast<uint8_t>(word);
      used_ += 4;
      if (used_ == kBufferSize) Flush();
    }
  }

  // Writes the pending bits, padded with zero bits to a whole byte, and everything buffered.
  void Finish() {
    while (fill_ >= 8) {
      fill_ -= 8;
      bytes_[used_++] = static_cast<uint8_t>(acc_ >> fill_);
    }
    if (fill_ > 0) bytes_[used_++] = static_cast<uint8_t>(acc_ << (8 - fill_));
    fill_ = 0;
    Flush();
  }

 private:
  static constexpr size_t kBufferSize = 8192;  // a multiple of 4, plus room for Finish

  void Flush() {
    io_.WriteBytes(bytes_.data(), used_);
    used_ = 0;
  }

  ByteLayer& io_;
  std::array<uint8_t, kBufferSize + 8> bytes_;
  size_t used_ = 0;
  uint64_t acc_ = 0;  // only the low `fill_` bits are pending
  unsigned fill_ = 0;
};

}  // namespace vorncom::archive

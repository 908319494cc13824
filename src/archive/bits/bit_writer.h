#pragma once

#include <cstdint>

namespace vorncom::archive {

// Packs codes most significant bit first into bytes handed to `Sink::WriteByte(uint8_t)`.
// The sink must outlive the writer; Finish() pads the last partial byte with zero bits.
template <class Sink>
class BitWriter {
 public:
  explicit BitWriter(Sink& sink) : sink_(sink) {}

  // Appends the low `count` bits of `value` (count 0..32; higher bits of value must be 0).
  void Put(unsigned count, uint32_t value) {
    acc_ = (acc_ << count) | value;
    fill_ += count;
    while (fill_ >= 8) {
      fill_ -= 8;
      sink_.WriteByte(static_cast<uint8_t>(acc_ >> fill_));
    }
  }

  // Writes the pending bits, if any, padded with zero bits to a whole byte.
  void Finish() {
    if (fill_ > 0) Put(8 - fill_, 0);
  }

 private:
  Sink& sink_;
  uint64_t acc_ = 0;  // only the low `fill_` bits are pending
  unsigned fill_ = 0;
};

}  // namespace vorncom::archive

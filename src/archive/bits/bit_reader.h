#pragma once

#include <cstdint>

namespace vorncom::archive {

// Reads codes most significant bit first from bytes supplied by `Source::ReadByte()`. At least
// 32 bits are always buffered ahead; once the source is exhausted it yields zero bytes, so a
// truncated stream reads as zero bits and never stops the caller; PastEnd() tells when it has.
// Copies share the source and each carry their own buffered bits, so a hot loop can work on a local
// copy and hand it back.
template <class Source>
class BitReader {
 public:
  explicit BitReader(Source& source) : source_(&source) { Refill(); }

  // The next `count` bits (1..32) without consuming them.
  uint32_t Peek(unsigned count) const { return static_cast<uint32_t>(buf_ >> (64 - count)); }

  // True once bits beyond the source's real bytes have been consumed (the source counts the zero
  // bytes it made up in `overread()`). Only those are buffered after the last real byte.
  bool PastEnd() const { return static_cast<uint64_t>(source_->overread()) * 8 > fill_; }

  // Consumes `count` bits (0..32).
  void Skip(unsigned count) {
    buf_ <<= count;
    fill_ -= count;
    if (fill_ < 32) Refill();
  }

  // Consumes and returns `count` bits (0..32).
  uint32_t Read(unsigned count) {
    if (count == 0) return 0;
    const uint32_t value = Peek(count);
    Skip(count);
    return value;
  }

 private:
  void Refill() {
    while (fill_ <= 56) {
      buf_ |= static_cast<uint64_t>(source_->ReadByte()) << (56 - fill_);
      fill_ += 8;
    }
  }

  Source* source_;
  uint64_t buf_ = 0;  // left-aligned: the next bit is bit 63
  unsigned fill_ = 0;
};

}  // namespace vorncom::archive

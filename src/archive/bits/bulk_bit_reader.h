#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "archive/byte_layer.h"

namespace vorncom::archive {

// Reads codes most significant bit first from a byte layer, taking its bytes in bulk into a
// buffer of its own and refilling the bit buffer eight bytes at a time. After Refill() at least
// 56 bits are buffered. Past the layer's last byte it yields zero bytes, so a truncated stream
// reads as zero bits and never stops the caller; PastEnd() tells when those have been consumed.
// Copies share the bytes taken from the layer and each carry their own position and buffered
// bits, so a hot loop can keep a local copy in registers and hand it back.
class BulkBitReader {
  static constexpr size_t kBufferSize = 16384;

 public:
  // The bytes taken from the layer, ahead of the readers.
  struct Source {
    explicit Source(ByteLayer& layer) : io(layer) {}
    ByteLayer& io;
    std::array<uint8_t, kBufferSize> bytes;
    uint64_t made_up = 0;  // zero bytes handed out past the layer's end
    bool exhausted = false;
  };

  explicit BulkBitReader(Source& source)
      : source_(&source), next_(source.bytes.data()), end_(next_) {}

  // The next 64 bits, left-aligned; only the top `fill()` of them (>= 56 after Refill) are valid.
  uint64_t bits() const { return buf_; }
  unsigned fill() const { return fill_; }

  void Refill() {
    if (end_ - next_ >= 8) [[likely]] {
      // Loads eight bytes and keeps the whole ones that fit. Bits below the fill may hold part
      // of the next byte; the next refill ORs in that same byte at the same place.
      buf_ |= LoadBigEndian(next_) >> fill_;
      next_ += (63 - fill_) >> 3;
      fill_ |= 56;
      return;
    }
    // By value, so that a reader in a hot loop's local never has its address taken and can
    // stay in registers.
    *this = RefilledSlowly(*this);
  }

  // Consumes `count` bits (at most fill()).
  void Skip(unsigned count) {
    buf_ <<= count;
    fill_ -= count;
  }

  // Consumes and returns `count` bits (0..32), refilling first.
  uint32_t Read(unsigned count) {
    Refill();
    if (count == 0) return 0;
    const auto value = static_cast<uint32_t>(buf_ >> (64 - count));
    Skip(count);
    return value;
  }

  // True once bits made up past the layer's end have been consumed.
  bool PastEnd() const { return source_->made_up * 8 > fill_; }

 private:
  static uint64_t LoadBigEndian(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
  }

  [[gnu::noinline]] static BulkBitReader RefilledSlowly(BulkBitReader reader) {
    reader.RefillFromSource();
    return reader;
  }

  void RefillFromSource() {
    if (!source_->exhausted) {
      // Keep the unread tail and top the buffer up behind it.
      uint8_t* const bytes = source_->bytes.data();
      const size_t tail = static_cast<size_t>(end_ - next_);
      std::memmove(bytes, next_, tail);
      const size_t got = source_->io.ReadBytes(bytes + tail, kBufferSize - tail);
      if (got == 0) source_->exhausted = true;
      next_ = bytes;
      end_ = next_ + tail + got;
      if (end_ - next_ >= 8) return Refill();
    }
    while (fill_ <= 56) {
      uint8_t byte = 0;
      if (next_ < end_) {
        byte = *next_++;
      } else {
        ++source_->made_up;
      }
      buf_ |= uint64_t{byte} << (56 - fill_);
      fill_ += 8;
    }
  }

  Source* source_;
  const uint8_t* next_;
  const uint8_t* end_;
  uint64_t buf_ = 0;
  unsigned fill_ = 0;
};

}  // namespace vorncom::archive

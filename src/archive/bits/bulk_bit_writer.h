#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "archive/byte_layer.h"

namespace vorncom::archive {

// Packs codes most significant bit first and hands them to the byte layer in bulk, through a
// buffer of its own. Pending bits wait in a 64-bit accumulator and go out as every whole byte
// pending in one 8-byte write, so a hot loop (PutEach) appends a whole item and stores once.
// Finish() pads the last partial byte with zero bits and writes everything out; the layer's budget
// is therefore checked at each bulk write.
class BulkBitWriter {
 public:
  explicit BulkBitWriter(ByteLayer& io) : io_(io) {}

  // Appends the low `count` bits of `value` (count 0..32; higher bits of value must be 0).
  void Put(unsigned count, uint32_t value) {
    acc_ = (acc_ << count) | value;  // fill_ < 32 before, so nothing pending is shifted out
    fill_ += count;
    if (fill_ >= 32) Drain();
  }

  // Pending bits for a hot loop to append to, in registers.
  struct Pending {
    uint64_t acc;  // only the low `fill` bits are pending
    unsigned fill;
    // Appends the low `count` bits of `value` (higher bits must be 0).
    void Add(unsigned count, uint64_t value) {
      acc = (acc << count) | value;
      fill += count;
    }
  };

  // Calls `item(i, pending)` for each i below `count`, which appends up to 57 bits, and stores
  // them. The state stays in locals through the loop: a byte stored into the buffer could
  // alias the members and would make the compiler reload them at every item.
  template <class Item>
  void PutEach(unsigned count, Item item) {
    Pending pending{acc_, fill_};
    uint8_t* const bytes = bytes_.data();
    uint8_t* next = bytes + used_;
    for (unsigned i = 0; i < count; ++i) {
      item(i, pending);
      next = StoreWhole(next, pending);
      if (next >= bytes + kBufferSize) {
        used_ = static_cast<size_t>(next - bytes);
        Flush();
        next = bytes;
      }
    }
    acc_ = pending.acc;
    fill_ = pending.fill;
    used_ = static_cast<size_t>(next - bytes);
  }

  // Writes the pending bits, padded with zero bits to a whole byte, and everything buffered.
  void Finish() {
    Drain();
    if (fill_ > 0) bytes_[used_++] = static_cast<uint8_t>(acc_ << (8 - fill_));
    fill_ = 0;
    Flush();
  }

 private:
  static constexpr size_t kBufferSize = 8192;

  // Stores the whole bytes pending at `next` with one 8-byte write (the bytes past them are
  // rewritten by the next store); at most 7 bits stay pending. Returns the byte after them.
  static uint8_t* StoreWhole(uint8_t* next, Pending& pending) {
    // Left-aligned in two steps, as a shift by 64 is undefined.
    uint64_t word = pending.acc << (63 - pending.fill) << 1;
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    std::memcpy(next, &word, sizeof word);
    next += pending.fill >> 3;
    pending.fill &= 7;
    return next;
  }

  void Drain() {
    Pending pending{acc_, fill_};
    used_ = static_cast<size_t>(StoreWhole(bytes_.data() + used_, pending) - bytes_.data());
    fill_ = pending.fill;
    if (used_ >= kBufferSize) Flush();
  }

  void Flush() {
    io_.WriteBytes(bytes_.data(), used_);
    used_ = 0;
  }

  ByteLayer& io_;
  // Room past the buffer for a drain's 8-byte store and Finish's last byte.
  std::array<uint8_t, kBufferSize + 16> bytes_;
  size_t used_ = 0;
  uint64_t acc_ = 0;  // only the low `fill_` bits are pending
  unsigned fill_ = 0;
};

}  // namespace vorncom::archive

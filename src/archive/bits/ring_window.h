#pragma once

#include <array>
#include <cstdint>

namespace vorncom::archive {

// The history window of an LZ decoder: a ring of 2^Bits bytes holding the latest output. Every
// byte produced goes both to the ring and to `Sink::WriteByte(uint8_t)`.
template <unsigned Bits>
class RingWindow {
 public:
  static constexpr unsigned kSize = 1u << Bits;
  static constexpr unsigned kMask = kSize - 1;

  void Fill(uint8_t byte) { bytes_.fill(byte); }
  void SetPosition(unsigned position) { pos_ = position & kMask; }
  unsigned position() const { return pos_; }

  template <class Sink>
  void PutLiteral(uint8_t byte, Sink& sink) {
    bytes_[pos_] = byte;
    pos_ = (pos_ + 1) & kMask;
    sink.WriteByte(byte);
  }

  // Copies `length` bytes starting at ring position `from` (taken modulo the size), one at a
  // time, so a source that overlaps the bytes being written repeats them.
  template <class Sink>
  void CopyMatch(unsigned from, unsigned length, Sink& sink) {
    unsigned src = from & kMask;
    unsigned dst = pos_;
    for (unsigned k = 0; k < length; ++k) {
      const uint8_t byte = bytes_[src];
      bytes_[dst] = byte;
      src = (src + 1) & kMask;
      dst = (dst + 1) & kMask;
      sink.WriteByte(byte);
    }
    pos_ = dst;
  }

 private:
  std::array<uint8_t, kSize> bytes_{};
  unsigned pos_ = 0;
};

}  // namespace vorncom::archive

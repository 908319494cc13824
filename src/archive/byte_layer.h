#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iosfwd>

#include "common/exception.h"

namespace vorncom::archive {

// The store-instead signal: a coder's output reached the input's size.
VORNCOM_EXCEPTION(EUnableToCompress);

// Progress handler: receives a percentage (0..100); setting it to -1 asks to cancel.
using ProgressHandler = std::function<void(int& percent)>;

// The byte layer every coder reads and writes through: 8192-byte buffered input and output,
// checksums of the bytes read and written, the key lock (XOR with the four key bytes in turn,
// the index shared by reads and writes) and the output budget. One instance serves one run.
//
// Reading past the input's end yields 0 with AtEnd() true; overread() counts those made-up bytes,
// so a decoder can tell codes it read from the data from codes made of what the data lacks.
class ByteLayer {
 public:
  static constexpr size_t kBufferSize = 8192;

  struct Options {
    int64_t input_size = 0;      // bytes to read from `input`
    int64_t budget = INT32_MAX;  // bytes that may be written; EUnableToCompress beyond
    // Expanding: the budget is the entry's size, and passing it is ESizeMismatch.
    bool expanding = false;
    uint32_t key = 0;  // the component's key, little-endian bytes
    bool xor_on_read = false;
    bool xor_on_write = false;
    ProgressHandler progress;  // may be empty
  };

  // `input` and `output` must outlive the layer. Call Flush() before reading the output.
  ByteLayer(std::istream& input, std::ostream& output, Options options);

  // Returns the next byte (0..255), or 0 with AtEnd() set when the input is exhausted or the
  // progress handler cancelled.
  uint8_t ReadByte();
  // The same as ReadByte until `count` bytes are read or the input ends, in bulk; returns how
  // many bytes were read.
  size_t ReadBytes(uint8_t* into, size_t count);
  bool AtEnd() const { return at_end_; }

  // Throws EUnableToCompress (expanding: ESizeMismatch) when the budget is spent; stream failures
  // pass through as std::ios_base::failure.
  void WriteByte(uint8_t byte);
  // The same as WriteByte for each of `count` bytes, in bulk.
  void WriteBytes(const uint8_t* bytes, size_t count);
  void Flush();

  uint32_t read_sum() const { return read_sum_; }
  uint32_t write_sum() const { return write_sum_; }
  int64_t bytes_written() const { return bytes_written_; }
  int64_t bytes_remaining() const { return remaining_; }
  int64_t overread() const { return overread_; }
  bool cancelled() const { return cancelled_; }

 private:
  bool Refill();
  [[noreturn]] void BudgetSpent() const;
  void WriteFullBuffer();
  void WriteOut(size_t count);
  void WriteDirect(const uint8_t* bytes, size_t count);
  uint8_t NextKeyByte() {
    const uint8_t k = key_bytes_[key_index_];
    key_index_ = (key_index_ + 1) & 3;
    return k;
  }

  std::istream& input_;
  std::ostream& output_;
  Options options_;
  std::array<uint8_t, kBufferSize> in_{};
  std::array<uint8_t, kBufferSize> out_{};
  size_t in_pos_ = 0, in_end_ = 0, out_pos_ = 0;
  int64_t remaining_ = 0;
  int64_t bytes_read_ = 0;
  int64_t bytes_written_ = 0;
  int64_t overread_ = 0;
  uint32_t read_sum_ = 0, write_sum_ = 0;
  std::array<uint8_t, 4> key_bytes_{};
  unsigned key_index_ = 0;
  bool at_end_ = false;
  bool cancelled_ = false;
};

// The sum of `count` bytes, eight at a time: bulk reads and writes add up whole buffers.
inline uint32_t ByteSum(const uint8_t* bytes, size_t count) {
  constexpr uint64_t kLanes = 0x00FF00FF00FF00FFull;
  uint32_t sum = 0;
  while (count >= 8) {
    // Four 16-bit lanes take two bytes per word; 128 words stay below a lane's overflow.
    uint64_t lanes = 0;
    const size_t words = std::min<size_t>(count / 8, 128);
    for (size_t i = 0; i < words; ++i) {
      uint64_t word;
      std::memcpy(&word, bytes + 8 * i, 8);
      lanes += (word & kLanes) + ((word >> 8) & kLanes);
    }
    sum += static_cast<uint32_t>((lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) +
                                 ((lanes >> 32) & 0xFFFF) + (lanes >> 48));
    bytes += 8 * words;
    count -= 8 * words;
  }
  while (count-- > 0) sum += *bytes++;
  return sum;
}

// Inline: the coders call these once per byte.
inline uint8_t ByteLayer::ReadByte() {
  if (in_pos_ >= in_end_ && !Refill()) {
    ++overread_;
    return 0;
  }
  uint8_t b = in_[in_pos_++];
  read_sum_ += b;
  if (options_.xor_on_read) b ^= NextKeyByte();
  return b;
}

inline size_t ByteLayer::ReadBytes(uint8_t* into, size_t count) {
  size_t done = 0;
  while (done < count) {
    if (in_pos_ >= in_end_ && !Refill()) break;
    const size_t chunk = std::min(count - done, in_end_ - in_pos_);
    const uint8_t* from = in_.data() + in_pos_;
    const uint32_t sum = ByteSum(from, chunk);
    if (options_.xor_on_read) {
      for (size_t i = 0; i < chunk; ++i) into[done + i] = from[i] ^ NextKeyByte();
    } else {
      std::memcpy(into + done, from, chunk);
    }
    read_sum_ += sum;
    in_pos_ += chunk;
    done += chunk;
  }
  return done;
}

inline void ByteLayer::WriteByte(uint8_t byte) {
  if (options_.budget <= 0) BudgetSpent();
  --options_.budget;
  if (out_pos_ == kBufferSize) WriteFullBuffer();
  if (options_.xor_on_write) byte ^= NextKeyByte();
  out_[out_pos_++] = byte;
  write_sum_ += byte;
  ++bytes_written_;
}

inline void ByteLayer::WriteBytes(const uint8_t* bytes, size_t count) {
  if (options_.xor_on_write) {
    for (size_t i = 0; i < count; ++i) WriteByte(bytes[i]);
    return;
  }
  while (count > 0) {
    if (options_.budget <= 0) BudgetSpent();
    if (out_pos_ == kBufferSize) WriteFullBuffer();
    if (out_pos_ == 0 && count >= kBufferSize) {
      // A whole buffer or more goes out from where it is, in one write.
      const auto chunk =
          static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), options_.budget));
      WriteDirect(bytes, chunk);
      bytes += chunk;
      count -= chunk;
      continue;
    }
    size_t chunk = std::min(count, kBufferSize - out_pos_);
    chunk = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(chunk), options_.budget));
    const uint32_t sum = ByteSum(bytes, chunk);
    std::memcpy(out_.data() + out_pos_, bytes, chunk);
    write_sum_ += sum;
    out_pos_ += chunk;
    bytes_written_ += static_cast<int64_t>(chunk);
    options_.budget -= static_cast<int64_t>(chunk);
    bytes += chunk;
    count -= chunk;
  }
}

// Percentage of `part` in `whole` with the engine's integer arithmetic: part*100/whole for
// wholes up to 100000, else part/(whole/100), truncating toward zero.
int Percentage(int64_t part, int64_t whole);

}  // namespace vorncom::archive

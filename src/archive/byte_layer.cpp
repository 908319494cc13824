#include "archive/byte_layer.h"

#include <algorithm>
#include <ios>
#include <istream>
#include <ostream>

#include "archive/coder_errors.h"

namespace vorncom::archive {

int Percentage(int64_t part, int64_t whole) {
  if (whole == 0) return 0;
  if (whole <= 100000) return static_cast<int>(part * 100 / whole);
  return static_cast<int>(part / (whole / 100));
}

ByteLayer::ByteLayer(std::istream& input, std::ostream& output, Options options)
    : input_(input), output_(output), options_(std::move(options)) {
  remaining_ = options_.input_size;
  for (int i = 0; i < 4; ++i) key_bytes_[i] = static_cast<uint8_t>(options_.key >> (8 * i));
}

bool ByteLayer::Refill() {
  at_end_ = true;
  if (remaining_ <= 0 || cancelled_) return false;
  const auto chunk = static_cast<std::streamsize>(
      std::min<int64_t>(remaining_, static_cast<int64_t>(kBufferSize)));
  input_.read(reinterpret_cast<char*>(in_.data()), chunk);
  const auto got = static_cast<size_t>(input_.gcount());
  // A short read is the end of the data, not a fault: keep the stream seekable for the caller.
  if (got < static_cast<size_t>(chunk)) input_.clear(input_.rdstate() & std::ios::badbit);
  if (got == 0) {
    remaining_ = 0;
    return false;
  }
  remaining_ -= static_cast<int64_t>(got);
  in_pos_ = 0;
  in_end_ = got;
  if (options_.progress) {
    bytes_read_ += static_cast<int64_t>(got);
    int percent = Percentage(bytes_read_, bytes_read_ + remaining_);
    options_.progress(percent);
    if (percent == -1) {
      cancelled_ = true;
      in_end_ = 0;
      return false;
    }
  }
  at_end_ = false;
  return true;
}

void ByteLayer::BudgetSpent() const {
  if (options_.expanding) throw ESizeMismatch(kSizeMismatch);
  throw EUnableToCompress("Could not compress data, will store instead");
}

void ByteLayer::WriteFullBuffer() { WriteOut(kBufferSize); }

void ByteLayer::Flush() {
  if (out_pos_ > 0) WriteOut(out_pos_);
}

void ByteLayer::WriteDirect(const uint8_t* bytes, size_t count) {
  write_sum_ += ByteSum(bytes, count);
  bytes_written_ += static_cast<int64_t>(count);
  options_.budget -= static_cast<int64_t>(count);
  output_.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
  if (!output_) throw std::ios_base::failure("write error");
}

// Output streams without exceptions enabled fail silently; a lost write must not pass as stored.
void ByteLayer::WriteOut(size_t count) {
  output_.write(reinterpret_cast<const char*>(out_.data()), static_cast<std::streamsize>(count));
  out_pos_ = 0;
  if (!output_) throw std::ios_base::failure("write error");
}

}  // namespace vorncom::archive

#include "archive/coder_errors.h"
#include "archive/coders.h"

namespace vorncom::archive {
namespace {

constexpr uint8_t kMarker = 0x94;
constexpr unsigned kLongestRun = 255;

void WriteLiteral(ByteLayer& io, uint8_t b) {
  io.WriteByte(b);
  if (b == kMarker) io.WriteByte(0);  // a marker in the data is escaped, never a run start
}

// A run of `count` bytes has already had its first byte written as a literal. Short runs are
// cheaper as plain copies than as marker + count.
void EmitRun(ByteLayer& io, unsigned count, uint8_t b) {
  if (count == 1 || count == 2) {
    for (unsigned i = 1; i < count; ++i) io.WriteByte(b);
  } else {
    io.WriteByte(kMarker);
    io.WriteByte(static_cast<uint8_t>(count));
  }
}

}  // namespace

void EncodeRle(ByteLayer& io) {
  uint8_t last = 0;
  unsigned count = 0;
  bool in_run = false;
  bool first = true;
  for (;;) {
    const uint8_t x = io.ReadByte();
    if (io.AtEnd()) break;
    if (in_run) {
      if (x == last && count < kLongestRun) {
        ++count;
      } else {
        EmitRun(io, count, last);
        last = x;
        WriteLiteral(io, x);
        in_run = false;
      }
    } else {
      if (x == kMarker) {
        WriteLiteral(io, x);
      } else if (x != last || first) {
        io.WriteByte(x);
      } else {
        count = 2;
        in_run = true;
      }
      last = x;
    }
    first = false;
  }
  if (in_run) EmitRun(io, count, last);
}

void DecodeRle(ByteLayer& io) {
  uint8_t previous = 0;
  for (;;) {
    const uint8_t x = io.ReadByte();
    if (io.AtEnd()) return;
    if (x == kMarker) {
      const uint8_t n = io.ReadByte();
      // The coder never ends on a marker: the count was cut off.
      if (io.AtEnd()) {
        if (io.cancelled()) return;
        throw ESizeMismatch(kSizeMismatch);
      }
      if (n == 0) {
        io.WriteByte(kMarker);
      } else {
        for (unsigned i = 1; i < n; ++i) io.WriteByte(previous);
      }
    } else {
      io.WriteByte(x);
    }
    previous = x;
  }
}

}  // namespace vorncom::archive

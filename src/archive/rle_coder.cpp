#include "archive/bulk_io.h"
#include "archive/coder_errors.h"
#include "archive/coders.h"

namespace vorncom::archive {
namespace {

constexpr uint8_t kMarker = 0x94;
constexpr unsigned kLongestRun = 255;

void WriteLiteral(BulkOutput& out, uint8_t b) {
  out.Put(b);
  if (b == kMarker) out.Put(0);  // a marker in the data is escaped, never a run start
}

// A run of `count` bytes has already had its first byte written as a literal. Short runs are
// cheaper as plain copies than as marker + count.
void EmitRun(BulkOutput& out, unsigned count, uint8_t b) {
  if (count == 1 || count == 2) {
    for (unsigned i = 1; i < count; ++i) out.Put(b);
  } else {
    out.Put(kMarker);
    out.Put(static_cast<uint8_t>(count));
  }
}

}  // namespace

void EncodeRle(ByteLayer& io) {
  BulkInput in(io);
  BulkOutput out(io);
  uint8_t last = 0;
  unsigned count = 0;
  bool in_run = false;
  bool first = true;
  for (uint8_t x; in.Next(x);) {
    if (in_run) {
      if (x == last && count < kLongestRun) {
        ++count;
      } else {
        EmitRun(out, count, last);
        last = x;
        WriteLiteral(out, x);
        in_run = false;
      }
    } else {
      if (x == kMarker) {
        WriteLiteral(out, x);
      } else if (x != last || first) {
        out.Put(x);
      } else {
        count = 2;
        in_run = true;
      }
      last = x;
    }
    first = false;
  }
  if (in_run) EmitRun(out, count, last);
  out.Flush();
}

void DecodeRle(ByteLayer& io) {
  BulkInput in(io);
  BulkOutput out(io);
  uint8_t previous = 0;
  for (uint8_t x; in.Next(x);) {
    if (x == kMarker) {
      uint8_t n;
      // The coder never ends on a marker: the count was cut off.
      if (!in.Next(n)) {
        if (io.cancelled()) break;
        out.Flush();
        throw ESizeMismatch(kSizeMismatch);
      }
      if (n == 0) {
        out.Put(kMarker);
      } else {
        for (unsigned i = 1; i < n; ++i) out.Put(previous);
      }
    } else {
      out.Put(x);
    }
    previous = x;
  }
  out.Flush();
}

}  // namespace vorncom::archive

// Feeds arbitrary bytes to the frame reader as a receiver would: header limit check, then body
// decoding. Whatever decodes must encode again (whole and gathered, to the same bytes) and decode
// to a frame of the same kind.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "rpc/wire.h"

namespace wire = vorncom::rpc::wire;

static void DecodeAndReencode(std::span<const uint8_t> body) {
  wire::Frame frame;
  try {
    frame = wire::DecodeBody(body);
  } catch (const vorncom::rpc::EWireError&) {
    return;
  }
  const std::vector<uint8_t> again = wire::EncodeFrame(frame);
  const size_t n =
      wire::ParseHeader(std::span<const uint8_t, wire::kHeaderSize>(again.data(), 4), SIZE_MAX);
  if (n != again.size() - wire::kHeaderSize) __builtin_trap();
  const wire::Frame decoded = wire::DecodeBody(std::span(again).subspan(wire::kHeaderSize));
  if (decoded.index() != frame.index()) __builtin_trap();

  // A gathered write must put the very same bytes on the wire.
  wire::GatheredFrame gathered;
  wire::EncodeFrame(frame, gathered);
  std::vector<uint8_t> flat;
  size_t from = 0;
  for (const wire::GatheredFrame::Splice& splice : gathered.splices) {
    if (splice.at < from || splice.at > gathered.buffer.size()) __builtin_trap();
    flat.insert(flat.end(), gathered.buffer.begin() + static_cast<ptrdiff_t>(from),
                gathered.buffer.begin() + static_cast<ptrdiff_t>(splice.at));
    flat.insert(flat.end(), splice.bytes.begin(), splice.bytes.end());
    from = splice.at;
  }
  flat.insert(flat.end(), gathered.buffer.begin() + static_cast<ptrdiff_t>(from),
              gathered.buffer.end());
  if (flat != again || gathered.size != again.size()) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  // The input as the stream a session reads: frames one after another until one is refused.
  constexpr size_t kMaxFrame = 1 << 16;
  size_t pos = 0;
  while (size - pos >= wire::kHeaderSize) {
    size_t n;
    try {
      n = wire::ParseHeader(std::span<const uint8_t, wire::kHeaderSize>(data + pos, 4), kMaxFrame);
    } catch (const vorncom::rpc::EWireError&) {
      break;
    }
    pos += wire::kHeaderSize;
    if (size - pos < n) break;
    DecodeAndReencode(input.subspan(pos, n));
    pos += n;
  }
  // And the whole input as one body.
  DecodeAndReencode(input);
  return 0;
}

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/variant.h"
#include "rpc/errors.h"

// The frames of the remote-call protocol; docs/wire-protocol.md is the reference for every byte.
namespace vorncom::rpc::wire {

constexpr uint32_t kProtocolVersion = 1;
// The highest version this side speaks; a hello offers it and the answer names the one used.
constexpr uint32_t kHighestProtocolVersion = 2;
constexpr size_t kHeaderSize = 4;  // big-endian body length
constexpr size_t kDefaultMaxFrame = 16u << 20;
// Room for everything of a packet call but the packet's bytes: a packet size plus this must fit
// in a frame.
constexpr size_t kPacketCallOverhead = 1024;
// Containers nested deeper than this are rejected before they are built.
constexpr size_t kMaxNesting = 16;

// MessagePack extension types of the variant encoding.
constexpr int8_t kExtNull = 1;     // zero-length payload
constexpr int8_t kExtOleDate = 2;  // 8-byte big-endian IEEE double

enum class Kind : int32_t { kHello = 0, kRequest = 1, kReply = 2, kError = 3 };

struct Hello {
  uint32_t version = kProtocolVersion;
  std::string object_guid;
  std::string object_name;
};

struct Request {
  uint32_t seq = 0;
  std::string method;
  std::vector<Variant> args;
};

struct Reply {
  uint32_t seq = 0;
  Variant result;
  // Zero-based argument index and the value written back to it.
  std::vector<std::pair<uint32_t, Variant>> by_ref;
};

struct Error {
  uint32_t seq = 0;
  std::string message;
};

using Frame = std::variant<Hello, Request, Reply, Error>;

// The whole frame, header included, ready for one write.
std::vector<uint8_t> EncodeFrame(const Frame& frame);

// A frame for one gathered write: the bytes of `buffer` with each splice's bytes inserted at its
// offset (splices in ascending order of offset). Large byte arrays are spliced rather than
// copied, so they are read from the encoded variants when the frame is written: those variants
// must stay alive and unchanged until then. Reusing one object keeps its buffer's capacity.
struct GatheredFrame {
  struct Splice {
    size_t at;
    std::span<const uint8_t> bytes;
  };
  std::vector<uint8_t> buffer;  // the header and everything not spliced
  std::vector<Splice> splices;
  size_t size = 0;  // the whole frame, header included
};

// Byte arrays at least this long are spliced; below it, a copy costs less than a gather entry.
constexpr size_t kMinSplice = 1024;

// Encodes `frame` into `out`, replacing what it held; the bytes are those of EncodeFrame.
void EncodeFrame(const Frame& frame, GatheredFrame& out);
// Encodes the request [seq, method, args] into `out` without copying the arguments first.
void EncodeRequest(uint32_t seq, std::string_view method, std::span<const Variant> args,
                   GatheredFrame& out);
// The same for arguments that live apart from each other (a caller's packet and its count).
void EncodeRequest(uint32_t seq, std::string_view method, std::span<const Variant* const> args,
                   GatheredFrame& out);

// Body length from a frame header; throws EWireError when it is 0 or above `max_frame`, so the
// caller can refuse before allocating.
size_t ParseHeader(std::span<const uint8_t, kHeaderSize> header, size_t max_frame);

// Decodes one frame body (the bytes after the header). Throws EWireError on anything that is not
// exactly one well-formed frame; allocation stays proportional to the body's size.
Frame DecodeBody(std::span<const uint8_t> body);

// A variant alone, as it appears inside frames (tests and peers).
std::vector<uint8_t> EncodeVariant(const Variant& value);
Variant DecodeVariant(std::span<const uint8_t> bytes);

}  // namespace vorncom::rpc::wire

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "common/variant.h"
#include "rpc/errors.h"

// The frames of the remote-call protocol; docs/wire-protocol.md is the reference for every byte.
namespace vorncom::rpc::wire {

constexpr uint32_t kProtocolVersion = 1;
constexpr size_t kHeaderSize = 4;  // big-endian body length
constexpr size_t kDefaultMaxFrame = 16u << 20;
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

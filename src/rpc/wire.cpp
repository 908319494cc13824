#include "rpc/wire.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <type_traits>

#include <msgpack.hpp>

#include "common/messages.h"

namespace vorncom::rpc::wire {

namespace {

[[noreturn]] void Fail(std::string_view what) {
  throw EWireError(msg::Format(msg::kWireFault, {what}));
}

// Appends to a byte vector; the packer's output stream. With `splices`, large byte arrays are
// recorded there instead of appended.
struct Sink {
  std::vector<uint8_t>& out;
  std::vector<GatheredFrame::Splice>* splices = nullptr;
  size_t spliced = 0;  // bytes recorded in splices
  // Same element type on both sides, so the insert is one memmove, not a per-byte conversion.
  void write(const char* data, size_t size) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
  }
};
using Packer = msgpack::packer<Sink>;

void PutBigEndianDouble(Sink& sink, uint8_t lead, double value) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  sink.out.push_back(lead);
  for (int shift = 56; shift >= 0; shift -= 8)
    sink.out.push_back(static_cast<uint8_t>(bits >> shift));
}

void PackVariant(Packer& pk, Sink& sink, const Variant& value) {
  switch (value.type()) {
    case Variant::Type::kEmpty:
      pk.pack_nil();
      return;
    case Variant::Type::kNull:
      pk.pack_ext(0, kExtNull);
      return;
    case Variant::Type::kBoolean:
      value.ToBoolean() ? pk.pack_true() : pk.pack_false();
      return;
    case Variant::Type::kInteger:
      pk.pack_int32(value.ToInteger());
      return;
    case Variant::Type::kDouble:
      // Always float64: the packer would turn an integral double into an integer.
      PutBigEndianDouble(sink, 0xcb, value.ToDouble());
      return;
    case Variant::Type::kDate: {
      pk.pack_ext(8, kExtOleDate);  // fixext 8: lead byte and type written, payload follows
      uint64_t bits = std::bit_cast<uint64_t>(value.ToDate().value);
      for (int shift = 56; shift >= 0; shift -= 8)
        sink.out.push_back(static_cast<uint8_t>(bits >> shift));
      return;
    }
    case Variant::Type::kString: {
      const std::string& s = value.AsString();
      pk.pack_str(static_cast<uint32_t>(s.size()));
      pk.pack_str_body(s.data(), static_cast<uint32_t>(s.size()));
      return;
    }
    case Variant::Type::kBytes: {
      const ByteArray& b = value.AsBytes();
      pk.pack_array(2);
      pk.pack_int32(b.lower_bound);
      pk.pack_bin(static_cast<uint32_t>(b.bytes.size()));
      if (sink.splices != nullptr && b.bytes.size() >= kMinSplice) {
        sink.splices->push_back({sink.out.size(), b.bytes});
        sink.spliced += b.bytes.size();
        return;
      }
      pk.pack_bin_body(reinterpret_cast<const char*>(b.bytes.data()),
                       static_cast<uint32_t>(b.bytes.size()));
      return;
    }
    case Variant::Type::kArray: {
      const VariantArray& a = value.AsArray();
      pk.pack_array(2);
      pk.pack_int32(a.lower_bound);
      pk.pack_array(static_cast<uint32_t>(a.items.size()));
      for (const Variant& item : a.items) PackVariant(pk, sink, item);
      return;
    }
  }
}

void PackString(Packer& pk, std::string_view s) {
  pk.pack_str(static_cast<uint32_t>(s.size()));
  pk.pack_str_body(s.data(), static_cast<uint32_t>(s.size()));
}

struct FrameWriter {
  Packer& pk;
  Sink& sink;
  void operator()(const Hello& h) {
    pk.pack_array(4);
    pk.pack_int32(static_cast<int32_t>(Kind::kHello));
    pk.pack_uint32(h.version);
    PackString(pk, h.object_guid);
    PackString(pk, h.object_name);
  }
  void operator()(const Request& r) { PackRequest(r.seq, r.method, std::span(r.args)); }
  template <typename Arg>
  void PackRequest(uint32_t seq, std::string_view method, std::span<Arg> args) {
    pk.pack_array(4);
    pk.pack_int32(static_cast<int32_t>(Kind::kRequest));
    pk.pack_uint32(seq);
    PackString(pk, method);
    pk.pack_array(static_cast<uint32_t>(args.size()));
    for (const auto& arg : args) {
      if constexpr (std::is_pointer_v<Arg>) {
        PackVariant(pk, sink, *arg);
      } else {
        PackVariant(pk, sink, arg);
      }
    }
  }
  void operator()(const Reply& r) {
    pk.pack_array(4);
    pk.pack_int32(static_cast<int32_t>(Kind::kReply));
    pk.pack_uint32(r.seq);
    PackVariant(pk, sink, r.result);
    pk.pack_map(static_cast<uint32_t>(r.by_ref.size()));
    for (const auto& [index, value] : r.by_ref) {
      pk.pack_uint32(index);
      PackVariant(pk, sink, value);
    }
  }
  void operator()(const Error& e) {
    pk.pack_array(3);
    pk.pack_int32(static_cast<int32_t>(Kind::kError));
    pk.pack_uint32(e.seq);
    PackString(pk, e.message);
  }
};

bool ValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<uint8_t>(s[i]);
    size_t extra;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xe0) == 0xc0) {
      extra = 1, cp = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
      extra = 2, cp = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
      extra = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (s.size() - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<uint8_t>(s[i + k]);
      if ((cc & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3f);
    }
    const uint32_t min[] = {0, 0x80, 0x800, 0x10000};
    if (cp < min[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
    i += extra + 1;
  }
  return true;
}

int64_t AsInteger(const msgpack::object& o, std::string_view what) {
  if (o.type == msgpack::type::POSITIVE_INTEGER) {
    if (o.via.u64 > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) Fail(what);
    return static_cast<int64_t>(o.via.u64);
  }
  if (o.type == msgpack::type::NEGATIVE_INTEGER) return o.via.i64;
  Fail(what);
}

int32_t AsInt32(const msgpack::object& o, std::string_view what) {
  const int64_t v = AsInteger(o, what);
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    Fail(what);
  return static_cast<int32_t>(v);
}

uint32_t AsUint32(const msgpack::object& o, std::string_view what) {
  const int64_t v = AsInteger(o, what);
  if (v < 0 || v > std::numeric_limits<uint32_t>::max()) Fail(what);
  return static_cast<uint32_t>(v);
}

std::string AsString(const msgpack::object& o, std::string_view what) {
  if (o.type != msgpack::type::STR) Fail(what);
  std::string s(o.via.str.ptr, o.via.str.size);
  if (!ValidUtf8(s)) Fail(msg::kWireBadUtf8);
  return s;
}

Variant ToVariant(const msgpack::object& o) {
  switch (o.type) {
    case msgpack::type::NIL:
      return Variant();
    case msgpack::type::BOOLEAN:
      return Variant(o.via.boolean);
    case msgpack::type::POSITIVE_INTEGER:
    case msgpack::type::NEGATIVE_INTEGER:
      return Variant(AsInt32(o, msg::kWireIntegerRange));
    case msgpack::type::FLOAT32:
    case msgpack::type::FLOAT64:
      return Variant(o.via.f64);
    case msgpack::type::STR:
      return Variant(AsString(o, msg::kWireText));
    case msgpack::type::EXT: {
      if (o.via.ext.type() == kExtNull && o.via.ext.size == 0) return Variant::Null();
      if (o.via.ext.type() == kExtOleDate && o.via.ext.size == 8) {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits = (bits << 8) | static_cast<uint8_t>(o.via.ext.data()[i]);
        return Variant(OleDate{std::bit_cast<double>(bits)});
      }
      Fail(msg::kWireUnknownExtension);
    }
    case msgpack::type::ARRAY: {
      if (o.via.array.size != 2) Fail(msg::kWireBadVariantArray);
      const int32_t lower = AsInt32(o.via.array.ptr[0], msg::kWireBadLowerBound);
      const msgpack::object& body = o.via.array.ptr[1];
      if (body.type == msgpack::type::BIN) {
        ByteArray bytes;
        bytes.lower_bound = lower;
        const auto* p = reinterpret_cast<const uint8_t*>(body.via.bin.ptr);
        bytes.bytes.assign(p, p + body.via.bin.size);
        return Variant(std::move(bytes));
      }
      if (body.type == msgpack::type::ARRAY) {
        VariantArray array;
        array.lower_bound = lower;
        array.items.reserve(body.via.array.size);
        for (uint32_t i = 0; i < body.via.array.size; ++i)
          array.items.push_back(ToVariant(body.via.array.ptr[i]));
        return Variant(std::move(array));
      }
      Fail(msg::kWireBadVariantArray);
    }
    default:
      Fail(msg::kWireUnsupportedType);
  }
}

// Strings and binaries stay in the caller's buffer until copied into variants.
bool ReferenceInPlace(msgpack::type::object_type, size_t, void*) { return true; }

msgpack::object_handle Unpack(std::span<const uint8_t> bytes) {
  // Each element takes at least one byte, so no count may exceed the input's size; the nesting
  // limit bounds how many partly read containers can hold an allocation at once.
  const size_t n = bytes.size();
  msgpack::unpack_limit limits(n, n / 2, n, n, n, kMaxNesting);
  size_t offset = 0;
  msgpack::object_handle handle;
  try {
    handle = msgpack::unpack(reinterpret_cast<const char*>(bytes.data()), n, offset,
                             ReferenceInPlace, nullptr, limits);
  } catch (const std::bad_alloc&) {
    Fail(msg::kWireFrameTooLarge);
  } catch (const std::exception& e) {
    Fail(msg::Format(msg::kWireFrameInvalid, {e.what()}));
  }
  if (offset != n) Fail(msg::kWireTrailingData);
  return handle;
}

const msgpack::object* Fields(const msgpack::object& o, uint32_t count) {
  if (o.type != msgpack::type::ARRAY || o.via.array.size != count) Fail(msg::kWireMalformedFrame);
  return o.via.array.ptr;
}

// The body length goes in front once the body is known. A body above 4 GiB cannot be framed
// at all; its length is left for the sender's limit check to refuse, never truncated here.
void PutHeader(std::vector<uint8_t>& out, size_t body) {
  const auto size = static_cast<uint32_t>(std::min<size_t>(body, UINT32_MAX));
  out[0] = static_cast<uint8_t>(size >> 24);
  out[1] = static_cast<uint8_t>(size >> 16);
  out[2] = static_cast<uint8_t>(size >> 8);
  out[3] = static_cast<uint8_t>(size);
}

}  // namespace

std::vector<uint8_t> EncodeFrame(const Frame& frame) {
  std::vector<uint8_t> out(kHeaderSize);
  if (const auto* request = std::get_if<Request>(&frame)) {
    size_t hint = 64;
    for (const Variant& arg : request->args)
      if (arg.IsBytes()) hint += arg.AsBytes().bytes.size();
    out.reserve(hint);
  }
  Sink sink{out};
  Packer pk(sink);
  std::visit(FrameWriter{pk, sink}, frame);
  PutHeader(out, out.size() - kHeaderSize);
  return out;
}

namespace {

template <typename Write>
void EncodeGathered(GatheredFrame& out, Write write) {
  out.buffer.assign(kHeaderSize, 0);
  out.splices.clear();
  Sink sink{out.buffer, &out.splices};
  Packer pk(sink);
  write(FrameWriter{pk, sink});
  out.size = out.buffer.size() + sink.spliced;
  PutHeader(out.buffer, out.size - kHeaderSize);
}

}  // namespace

void EncodeFrame(const Frame& frame, GatheredFrame& out) {
  EncodeGathered(out, [&](FrameWriter writer) { std::visit(writer, frame); });
}

void EncodeRequest(uint32_t seq, std::string_view method, std::span<const Variant> args,
                   GatheredFrame& out) {
  EncodeGathered(out, [&](FrameWriter writer) { writer.PackRequest(seq, method, args); });
}

void EncodeRequest(uint32_t seq, std::string_view method, std::span<const Variant* const> args,
                   GatheredFrame& out) {
  EncodeGathered(out, [&](FrameWriter writer) { writer.PackRequest(seq, method, args); });
}

size_t ParseHeader(std::span<const uint8_t, kHeaderSize> header, size_t max_frame) {
  const size_t size = (static_cast<size_t>(header[0]) << 24) |
                      (static_cast<size_t>(header[1]) << 16) |
                      (static_cast<size_t>(header[2]) << 8) | header[3];
  if (size == 0) Fail(msg::kWireEmptyFrame);
  if (size > max_frame)
    Fail(msg::Format(msg::kWireFrameOverLimit, {std::to_string(size), std::to_string(max_frame)}));
  return size;
}

Frame DecodeBody(std::span<const uint8_t> body) {
  msgpack::object_handle handle = Unpack(body);
  const msgpack::object& root = handle.get();
  if (root.type != msgpack::type::ARRAY || root.via.array.size == 0) Fail(msg::kWireMalformedFrame);
  switch (AsInt32(root.via.array.ptr[0], msg::kWireBadFrameKind)) {
    case static_cast<int32_t>(Kind::kHello): {
      const msgpack::object* f = Fields(root, 4);
      return Hello{AsUint32(f[1], msg::kWireBadVersion), AsString(f[2], msg::kWireBadIdentifier),
                   AsString(f[3], msg::kWireBadObjectName)};
    }
    case static_cast<int32_t>(Kind::kRequest): {
      const msgpack::object* f = Fields(root, 4);
      Request r{AsUint32(f[1], msg::kWireBadSequence), AsString(f[2], msg::kWireBadMethodName), {}};
      if (f[3].type != msgpack::type::ARRAY) Fail(msg::kWireBadArguments);
      r.args.reserve(f[3].via.array.size);
      for (uint32_t i = 0; i < f[3].via.array.size; ++i)
        r.args.push_back(ToVariant(f[3].via.array.ptr[i]));
      return r;
    }
    case static_cast<int32_t>(Kind::kReply): {
      const msgpack::object* f = Fields(root, 4);
      Reply r{AsUint32(f[1], msg::kWireBadSequence), ToVariant(f[2]), {}};
      if (f[3].type != msgpack::type::MAP) Fail(msg::kWireBadReturnArguments);
      for (uint32_t i = 0; i < f[3].via.map.size; ++i) {
        const msgpack::object_kv& kv = f[3].via.map.ptr[i];
        r.by_ref.emplace_back(AsUint32(kv.key, msg::kWireBadArgumentIndex), ToVariant(kv.val));
      }
      return r;
    }
    case static_cast<int32_t>(Kind::kError): {
      const msgpack::object* f = Fields(root, 3);
      return Error{AsUint32(f[1], msg::kWireBadSequence), AsString(f[2], msg::kWireBadMessage)};
    }
  }
  Fail(msg::kWireUnknownFrameKind);
}

std::vector<uint8_t> EncodeVariant(const Variant& value) {
  std::vector<uint8_t> out;
  Sink sink{out};
  Packer pk(sink);
  PackVariant(pk, sink, value);
  return out;
}

Variant DecodeVariant(std::span<const uint8_t> bytes) {
  msgpack::object_handle handle = Unpack(bytes);
  return ToVariant(handle.get());
}

}  // namespace vorncom::rpc::wire

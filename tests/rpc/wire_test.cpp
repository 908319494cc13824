#include "rpc/wire.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vorncom::rpc::wire {
namespace {

std::vector<uint8_t> Hex(const std::string& text) {
  std::istringstream in(text);
  std::vector<uint8_t> out;
  unsigned v;
  while (in >> std::hex >> v) out.push_back(static_cast<uint8_t>(v));
  return out;
}

Variant Bytes(int32_t lower, std::vector<uint8_t> bytes) {
  return Variant(ByteArray{lower, std::move(bytes)});
}

Variant Array(int32_t lower, std::vector<Variant> items) {
  return Variant(VariantArray{lower, std::move(items)});
}

// The encodings the wire-protocol document gives.
TEST(WireTest, VariantEncodingsMatchTheDocument) {
  struct Row {
    Variant value;
    const char* bytes;
  };
  const Row rows[] = {
      {Variant(), "c0"},
      {Variant::Null(), "c7 00 01"},
      {Variant(true), "c3"},
      {Variant(false), "c2"},
      {Variant(int32_t{211}), "cc d3"},
      {Variant(int32_t{-1}), "ff"},
      {Variant(int32_t{100000}), "ce 00 01 86 a0"},
      {Variant(4096.0), "cb 40 b0 00 00 00 00 00 00"},
      {Variant(0.0), "cb 00 00 00 00 00 00 00 00"},
      {Variant(OleDate{46365.0}), "d7 02 40 e6 a3 a0 00 00 00 00"},
      {Variant("srv1"), "a4 73 72 76 31"},
      {Bytes(1, {0x0a, 0x0b, 0x0c}), "92 01 c4 03 0a 0b 0c"},
      {Array(1, {Variant("a"), Variant(int32_t{5})}), "92 01 92 a1 61 05"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(EncodeVariant(row.value), Hex(row.bytes)) << row.bytes;
    EXPECT_EQ(DecodeVariant(Hex(row.bytes)), row.value) << row.bytes;
  }
}

TEST(WireTest, EveryKindRoundTripsExactly) {
  Variant nested =
      Array(-3, {Variant(), Variant::Null(), Variant(1e300), Variant(-0.5), Variant(OleDate{-1.25}),
                 Variant(OleDate{45000.123456789}), Variant(std::string("ação\r\nfim")),
                 Bytes(0, {}), Array(1, {Array(7, {Variant(INT32_MIN), Variant(INT32_MAX)})})});
  EXPECT_EQ(DecodeVariant(EncodeVariant(nested)), nested);
}

TEST(WireTest, ReadersAcceptOtherIntegerAndFloatForms) {
  EXPECT_EQ(DecodeVariant(Hex("d3 00 00 00 00 00 00 00 05")), Variant(int32_t{5}));
  EXPECT_EQ(DecodeVariant(Hex("ca 3f c0 00 00")), Variant(1.5));
  EXPECT_EQ(DecodeVariant(Hex("d2 80 00 00 00")), Variant(INT32_MIN));
}

TEST(WireTest, RejectsValuesOutsideTheVariantSet) {
  const char* bad[] = {
      "ce 80 00 00 00",              // above int32
      "d3 ff ff ff ff 7f ff ff ff",  // below int32
      "a2 c3 28",                    // invalid UTF-8
      "a3 ed a0 80",                 // surrogate
      "c4 01 00",                    // bare bin
      "80",                          // map
      "93 01 c4 00 c0",              // array of 3
      "92 a1 61 c4 00",              // non-integer lower bound
      "92 01 c0",                    // second element neither bin nor array
      "d4 05 00",                    // unknown ext
      "c7 01 01 00",                 // null with payload
      "c0 c0",                       // trailing bytes
      "dc 00 10",                    // truncated array
  };
  for (const char* b : bad) EXPECT_THROW(DecodeVariant(Hex(b)), EWireError) << b;
}

TEST(WireTest, FramesRoundTrip) {
  const Request request{7, "SendDataPacket", {Bytes(1, {1, 2, 3}), Variant(int32_t{3})}};
  auto bytes = EncodeFrame(request);
  const size_t n = ParseHeader(std::span<const uint8_t, 4>(bytes.data(), 4), kDefaultMaxFrame);
  ASSERT_EQ(n, bytes.size() - 4);
  Frame decoded = DecodeBody(std::span(bytes).subspan(4));
  const auto& r = std::get<Request>(decoded);
  EXPECT_EQ(r.seq, 7u);
  EXPECT_EQ(r.method, "SendDataPacket");
  EXPECT_EQ(r.args, request.args);

  bytes = EncodeFrame(Reply{9, Variant(true), {{0, Variant(false)}, {3, Variant::Null()}}});
  Frame frame = DecodeBody(std::span(bytes).subspan(4));
  const auto& reply = std::get<Reply>(frame);
  EXPECT_EQ(reply.seq, 9u);
  EXPECT_EQ(reply.result, Variant(true));
  ASSERT_EQ(reply.by_ref.size(), 2u);
  EXPECT_EQ(reply.by_ref[1].first, 3u);

  bytes = EncodeFrame(Error{4, "falhou"});
  frame = DecodeBody(std::span(bytes).subspan(4));
  EXPECT_EQ(std::get<Error>(frame).message, "falhou");
  bytes = EncodeFrame(Hello{1, "{guid}", "obj"});
  frame = DecodeBody(std::span(bytes).subspan(4));
  EXPECT_EQ(std::get<Hello>(frame).object_name, "obj");
}

TEST(WireTest, DocumentedRequestBytes) {
  const auto bytes = EncodeFrame(Request{1, "AcceptingConnections", {Variant(false)}});
  EXPECT_EQ(bytes, Hex("00 00 00 1a 94 01 01 b4 41 63 63 65 70 74 69 6e 67 43 6f 6e 6e 65 63 74 "
                       "69 6f 6e 73 91 c2"));
  EXPECT_EQ(EncodeFrame(Reply{1, Variant(true), {{0, Variant(false)}}}),
            Hex("00 00 00 07 94 02 01 c3 81 00 c2"));
}

// The bytes a gathered write puts on the wire.
std::vector<uint8_t> Flatten(const GatheredFrame& frame) {
  std::vector<uint8_t> out;
  size_t from = 0;
  for (const GatheredFrame::Splice& splice : frame.splices) {
    EXPECT_GE(splice.at, from);
    out.insert(out.end(), frame.buffer.begin() + static_cast<ptrdiff_t>(from),
               frame.buffer.begin() + static_cast<ptrdiff_t>(splice.at));
    out.insert(out.end(), splice.bytes.begin(), splice.bytes.end());
    from = splice.at;
  }
  out.insert(out.end(), frame.buffer.begin() + static_cast<ptrdiff_t>(from), frame.buffer.end());
  EXPECT_EQ(out.size(), frame.size);
  return out;
}

TEST(WireTest, GatheredFramesHaveTheBytesOfWholeFrames) {
  std::vector<uint8_t> large(kMinSplice);
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7);
  const std::vector<uint8_t> small(kMinSplice - 1, 0xab);
  struct Row {
    const char* what;
    std::vector<Variant> args;
    size_t splices;
  };
  const Row rows[] = {
      {"no arguments", {}, 0},
      {"small packet", {Bytes(1, small), Variant(int32_t{5})}, 0},
      {"packet first", {Bytes(1, large), Variant(int32_t{5})}, 1},
      {"packet last", {Variant("x"), Bytes(0, large)}, 1},
      {"two packets side by side", {Bytes(1, large), Bytes(2, large)}, 2},
      {"packet nested in an array",
       {Array(1, {Variant(1.5), Bytes(1, large), Variant::Null(), Bytes(1, small)})},
       1},
      {"64 KiB packet", {Bytes(1, std::vector<uint8_t>(65536, 0x5a)), Variant(65536)}, 1},
  };
  GatheredFrame reused;  // one object for every row: nothing of a previous frame may remain
  for (const Row& row : rows) {
    EncodeRequest(41, "SendDataPacket", row.args, reused);
    EXPECT_EQ(reused.splices.size(), row.splices) << row.what;
    EXPECT_EQ(Flatten(reused), EncodeFrame(Request{41, "SendDataPacket", row.args})) << row.what;
  }
  for (const Frame& frame :
       {Frame(Hello{1, "{guid}", "obj"}), Frame(Reply{3, Bytes(1, large), {{0, Bytes(1, large)}}}),
        Frame(Error{2, "falhou"})}) {
    EncodeFrame(frame, reused);
    EXPECT_EQ(Flatten(reused), EncodeFrame(frame));
  }
}

TEST(WireTest, HeaderLimitsAreCheckedBeforeReading) {
  const uint8_t zero[4] = {0, 0, 0, 0};
  const uint8_t big[4] = {0x00, 0x10, 0x00, 0x01};
  const uint8_t max[4] = {0xff, 0xff, 0xff, 0xff};
  EXPECT_THROW(ParseHeader(std::span<const uint8_t, 4>(zero), 1 << 20), EWireError);
  EXPECT_THROW(ParseHeader(std::span<const uint8_t, 4>(big), 1 << 20), EWireError);
  EXPECT_EQ(ParseHeader(std::span<const uint8_t, 4>(big), (1 << 20) + 1), (1u << 20) + 1);
  EXPECT_THROW(ParseHeader(std::span<const uint8_t, 4>(max), kDefaultMaxFrame), EWireError);
}

TEST(WireTest, MalformedBodiesAreRejected) {
  const char* bad[] = {
      "c0",                 // not an array
      "90",                 // empty array
      "91 07",              // unknown kind
      "93 01 01 a1 61",     // request of 3
      "94 01 01 01 90",     // method not a string
      "94 01 01 a1 61 80",  // args not an array
      "94 02 01 c0 90",     // by-ref not a map
      "94 02 ff c0 80",     // negative sequence number
      "93 03 01 01",        // error message not a string
      "94 00 01 a0 a0 c0",  // trailing byte
  };
  for (const char* b : bad) EXPECT_THROW(DecodeBody(Hex(b)), EWireError) << b;
}

TEST(WireTest, CountsBeyondTheBodyAndDeepNestingAreRejected) {
  // An array header claiming four billion elements in a five-byte body.
  EXPECT_THROW(DecodeBody(Hex("dd ff ff ff ff")), EWireError);
  EXPECT_THROW(DecodeBody(Hex("c6 7f ff ff ff 00")), EWireError);
  std::vector<uint8_t> deep(100, 0x91);
  deep.push_back(0xc0);
  EXPECT_THROW(DecodeBody(deep), EWireError);
}

}  // namespace
}  // namespace vorncom::rpc::wire

#include "rpc/reception_server.h"

#include <gtest/gtest.h>

#include "rpc/methods.h"

namespace vorncom::rpc {
namespace {

TEST(ReceptionServerTest, ControlPacketHasSixElementsFromOne) {
  const Variant p =
      BuildControlPacket("IRPF", "2.0", "dados.zip", 4096, Operation::kSend, "10.0.0.5");
  EXPECT_EQ(p.LowerBound(), 1);
  EXPECT_EQ(p.UpperBound(), 6);
  EXPECT_EQ(p.At(3), Variant("dados.zip"));
  EXPECT_EQ(p.At(4).type(), Variant::Type::kDouble);
  EXPECT_EQ(p.At(5), Variant(int32_t{1}));
}

// Records what it was called with and changes the by-reference arguments.
class ScriptedServer : public ReceptionServer {
 public:
  bool AcceptingConnections(Variant& busy) override {
    busy = true;
    return true;
  }
  void SendControlPacket(const Variant& p) override { control = p; }
  int32_t CheckServerStatus(Variant& size) override {
    size = 8192;
    return 5;
  }
  bool ReplicateClientCfgFile(Variant&) override { return false; }
  void SendFile(const Variant& name) override { control = name; }
  void SendDataPacket(Variant&, Variant&) override {}
  bool ValidFile(const Variant&) override { return true; }
  void Protocolate(Variant& data) override { data.At(3) = "123"; }
  int32_t GetFile(Variant&, Variant&) override { return 0; }
  int32_t GetDataPacket(Variant&) override { return 0; }
  void EraseFile(Variant&) override { throw std::runtime_error("não apagado"); }
  int32_t CheckFormStatus() override { return 3; }
  Variant control;
};

TEST(DispatchTest, ResultsAndOnlyChangedByRefArgumentsGoBack) {
  ScriptedServer server;
  wire::Request r{5, "acceptingconnections", {Variant(false)}};
  wire::Reply reply = Dispatch(server, r);
  EXPECT_EQ(reply.seq, 5u);
  EXPECT_EQ(reply.result, Variant(true));
  ASSERT_EQ(reply.by_ref.size(), 1u);
  EXPECT_EQ(reply.by_ref[0].second, Variant(true));

  r = {6, "SendDataPacket", {Variant(ByteArray{1, std::vector<uint8_t>(4096, 7)}), Variant(4096)}};
  EXPECT_TRUE(Dispatch(server, r).by_ref.empty());

  r = {7, "Protocolate", {Variant::Array(1, 14)}};
  reply = Dispatch(server, r);
  ASSERT_EQ(reply.by_ref.size(), 1u);
  EXPECT_EQ(reply.by_ref[0].second.At(3), Variant("123"));
  EXPECT_TRUE(reply.result.IsEmpty());

  r = {8, "CheckFormStatus", {}};
  EXPECT_EQ(Dispatch(server, r).result, Variant(int32_t{3}));
}

TEST(DispatchTest, UnknownMethodsAndWrongArgumentCountsFail) {
  ScriptedServer server;
  wire::Request r{1, "FormatDisk", {}};
  EXPECT_THROW(Dispatch(server, r), EServerError);
  r = {1, "SendDataPacket", {Variant()}};
  EXPECT_THROW(Dispatch(server, r), EServerError);
  r = {1, "EraseFile", {Variant("x")}};
  EXPECT_THROW(Dispatch(server, r), std::runtime_error);
}

}  // namespace
}  // namespace vorncom::rpc

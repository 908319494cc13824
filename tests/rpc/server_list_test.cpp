#include "rpc/server_list.h"

#include <gtest/gtest.h>

#include <set>

#include "rpc/broker.h"

namespace vorncom::rpc {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  return std::vector<uint8_t>(values.begin(), values.end());
}

std::vector<uint8_t> Name(std::string_view name) {
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>(name.size()));
  for (const char c : name) out.push_back(static_cast<uint8_t>(c));
  return out;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(ServerListTest, OneDefaultServerStoresOnlyItsName) {
  const auto expected =
      Concat({Bytes({14, 1}), Name("ComputerName"), Bytes({6}), Name("srv1"), Bytes({0, 0})});
  EXPECT_EQ(EncodeServerList({{"srv1", 211, true}}), expected);
  EXPECT_EQ(DecodeServerList(expected), (std::vector<ServerItem>{{"srv1", 211, true}}));
}

TEST(ServerListTest, PortAndEnabledFollowTheNameWhenNotDefault) {
  const auto expected =
      Concat({Bytes({14, 1}), Name("ComputerName"), Bytes({6}), Name("srv2"), Name("Port"),
              Bytes({3, 4000 & 0xff, 4000 >> 8}), Name("Enabled"), Bytes({8, 0, 0})});
  EXPECT_EQ(EncodeServerList({{"srv2", 4000, false}}), expected);
  EXPECT_EQ(DecodeServerList(expected), (std::vector<ServerItem>{{"srv2", 4000, false}}));
}

TEST(ServerListTest, PortTakesTheSmallestIntegerTag) {
  struct Row {
    int32_t port;
    std::vector<uint8_t> value;
  };
  const Row rows[] = {
      {100, Bytes({2, 100})},
      {-1, Bytes({2, 0xff})},
      {128, Bytes({3, 128, 0})},
      {-32768, Bytes({3, 0x00, 0x80})},
      {32768, Bytes({4, 0, 0x80, 0, 0})},
      {-2147483647 - 1, Bytes({4, 0, 0, 0, 0x80})},
  };
  for (const Row& row : rows) {
    const auto bytes = EncodeServerList({{"", row.port, true}});
    EXPECT_EQ(bytes, Concat({Bytes({14, 1}), Name("Port"), row.value, Bytes({0, 0})})) << row.port;
    EXPECT_EQ(DecodeServerList(bytes).at(0).port, row.port);
  }
}

TEST(ServerListTest, EmptyListIsTwoBytes) {
  EXPECT_EQ(EncodeServerList({}), Bytes({14, 0}));
  EXPECT_TRUE(DecodeServerList(Bytes({14, 0})).empty());
}

TEST(ServerListTest, ReadingSkipsALeadingIntegerAndTakesAnyOrder) {
  const auto bytes = Concat({Bytes({14, 2, 7, 1}), Name("Enabled"), Bytes({8}), Name("port"),
                             Bytes({4, 0x10, 0x27, 0, 0}), Name("ComputerName"), Bytes({6}),
                             Name("10.0.0.1"), Bytes({0, 3, 1, 0, 1, 0, 0})});
  EXPECT_EQ(DecodeServerList(bytes),
            (std::vector<ServerItem>{{"10.0.0.1", 10000, false}, {"", 211, true}}));
}

TEST(ServerListTest, LongAndAccentedNamesRoundTrip) {
  const std::vector<ServerItem> servers = {{std::string(300, 'x'), 1, true},
                                           {"recepção", 65535, false}};
  const auto bytes = EncodeServerList(servers);
  EXPECT_EQ(bytes[1 + 1 + 13], 12);  // tag of the 300-character name
  EXPECT_EQ(DecodeServerList(bytes), servers);
}

TEST(ServerListTest, BadInputFailsCleanly) {
  const std::vector<std::vector<uint8_t>> bad = {
      {},
      Bytes({15, 0}),
      Concat({Bytes({14, 1}), Name("Address"), Bytes({6, 0, 0, 0})}),
      Concat({Bytes({14, 1}), Name("Port"), Bytes({6, 0, 0, 0})}),
      Concat({Bytes({14, 1}), Name("Enabled"), Bytes({2, 1, 0, 0})}),
      Concat({Bytes({14, 1}), Name("ComputerName"), Bytes({12, 0xff, 0xff, 0xff, 0x7f, 'a'})}),
      Bytes({14, 5}),
  };
  for (const auto& bytes : bad) EXPECT_THROW(DecodeServerList(bytes), EServerListError);

  // Every proper prefix of a valid list is truncated.
  const auto full = EncodeServerList({{"srv1", 4000, false}, {"srv2", 70000, true}});
  for (size_t n = 0; n < full.size(); ++n)
    EXPECT_THROW(DecodeServerList(std::span(full.data(), n)), EServerListError) << n;
}

TEST(BrokerTest, ChoosesOnlyEnabledServersAndFailsWhenNoneLeft) {
  Broker broker;
  broker.SetServers({{"a", 1, true}, {"b", 2, false}, {"c", 3, true}});
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) seen.insert(broker.ChooseServer().computer_name);
  EXPECT_EQ(seen, (std::set<std::string>{"a", "c"}));

  EXPECT_EQ(broker.DisableServer("a", 2), 0u);  // port must match too
  EXPECT_EQ(broker.DisableServer("a", 1), 1u);
  EXPECT_EQ(broker.ChooseServer().computer_name, "c");
  broker.DisableServer("c", 3);
  EXPECT_THROW(broker.ChooseServer(), ENoServerAvailable);

  // Every entry of a name and port goes at once, and the list handed out says so.
  broker.SetServers({{"a", 1, true}, {"b", 1, true}, {"a", 1, true}, {"b", 2, false}});
  EXPECT_EQ(broker.DisableServer("a", 1), 2u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(broker.ChooseServer().computer_name, "b");
  EXPECT_EQ(
      DecodeServerList(broker.ServerData()),
      (std::vector<ServerItem>{{"a", 1, false}, {"b", 1, true}, {"a", 1, false}, {"b", 2, false}}));
}

TEST(BrokerTest, ReplicatedListsBeyondTheLimitsLeaveTheListAsItWas) {
  const struct {
    const char* what;
    size_t count;
    size_t name_length;
    bool taken;
  } rows[] = {
      {"at the entry limit", 1024, 9, true},
      {"one entry more", 1025, 9, false},
      {"above 1 MiB", 1000, 1100, false},
  };
  for (const auto& row : rows) {
    Broker broker;
    broker.SetServers({{"antigo", 211, true}});
    const auto bytes = EncodeServerList(
        std::vector<ServerItem>(row.count, {std::string(row.name_length, 's'), 4000, true}));
    if (row.taken) {
      broker.LoadReplicatedServerData(bytes);
      EXPECT_EQ(broker.Count(), row.count) << row.what;
    } else {
      EXPECT_THROW(broker.LoadReplicatedServerData(bytes), EServerListError) << row.what;
      EXPECT_EQ(broker.Servers(), (std::vector<ServerItem>{{"antigo", 211, true}})) << row.what;
    }
    // A configured list has no such limit.
    broker.LoadServerData(bytes);
    EXPECT_EQ(broker.Count(), row.count) << row.what;
  }
}

TEST(BrokerTest, ServerDataRoundTripsAndBadDataKeepsTheList) {
  Broker broker;
  broker.SetServers({{"srv1", 211, true}, {"srv2", 4000, false}});
  const auto data = broker.ServerData();
  Broker other;
  other.LoadServerData(data);
  EXPECT_EQ(other.Servers(), broker.Servers());
  EXPECT_THROW(other.LoadServerData(Bytes({14, 1})), EServerListError);
  EXPECT_EQ(other.Count(), 2u);
}

}  // namespace
}  // namespace vorncom::rpc

#include "rpc/connection.h"

#include <gtest/gtest.h>

#include "rpc/reception_server.h"

namespace vorncom::rpc {
namespace {

TEST(ConnectionTest, EndpointTextChoosesAddressOrHostName) {
  struct Row {
    const char* server;
    const char* address;
    const char* host;
  };
  const Row rows[] = {
      {"10.1.2.3", "10.1.2.3", ""},
      {"0host", "0host", ""},
      {"srv1", "", "srv1"},
      {"Recepcao.example", "", "Recepcao.example"},
      {"_odd", "", ""},
      {"[::1]", "", ""},
  };
  for (const Row& row : rows) {
    Connection c(kServerGUID, kServerName);
    SetConnectionEndpoint(c, row.server, 4000);
    EXPECT_EQ(c.Address(), row.address) << row.server;
    EXPECT_EQ(c.Host(), row.host) << row.server;
    EXPECT_EQ(c.Port(), 4000) << row.server;
  }
  Connection c(kServerGUID, kServerName);
  EXPECT_THROW(SetConnectionEndpoint(c, "", 211), EConnectionError);
}

TEST(ConnectionTest, OpenWithoutAUsableEndpointFailsWithoutConnecting) {
  Connection none(kServerGUID, kServerName);
  EXPECT_THROW(none.Open(), EConnectionError);
  Connection bad_port(kServerGUID, kServerName);
  bad_port.SetAddress("127.0.0.1");
  bad_port.SetPort(70000);
  EXPECT_THROW(bad_port.Open(), EConnectionError);
  Connection bad_address(kServerGUID, kServerName);
  bad_address.SetAddress("999.1.1.1");
  bad_address.SetPort(211);
  EXPECT_THROW(bad_address.Open(), EConnectionError);
  std::vector<Variant> args;
  EXPECT_THROW(none.Call("CheckFormStatus", args), EConnectionError);
  EXPECT_FALSE(none.Connected());
}

}  // namespace
}  // namespace vorncom::rpc

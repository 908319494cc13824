#include "rpc/connection.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <fstream>
#include <string>

#include "rpc/reception_server.h"
#include "support/fake_server.h"

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

// The process's peak resident memory in bytes since the last reset (VmHWM).
size_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoul(line.substr(6)) * 1024;
  }
  return 0;
}

TEST(ConnectionTest, AnnouncedFrameLengthAllocatesNothingUntilTheBytesCome) {
  testing::WillingServer willing;
  // The reply names the largest frame allowed, then one byte comes and the server is gone.
  testing::FakeServer server(willing, [](int fd, const wire::Request&) {
    constexpr uint32_t n = wire::kDefaultMaxFrame;
    const uint8_t bytes[] = {n >> 24, (n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF, 0x94};
    testing::WriteAll(fd, bytes);
    ::shutdown(fd, SHUT_RDWR);
    return true;
  });
  // The fake server speaks the frames over plain TCP.
  ConnectionOptions plain;
  plain.transport.tls = false;
  Connection c(kServerGUID, kServerName, plain);
  c.SetAddress("127.0.0.1");
  c.SetPort(server.port());
  c.Open();
  std::ofstream reset("/proc/self/clear_refs");
  if (!(reset << "5" << std::flush)) GTEST_SKIP() << "cannot reset the peak (VmHWM)";
  const size_t before = PeakResidentBytes();
  std::vector<Variant> args;
  EXPECT_THROW(c.Call("CheckFormStatus", args), EConnectionError);
  EXPECT_LT(PeakResidentBytes() - before, size_t{4} << 20);
  EXPECT_FALSE(c.Connected());
}

}  // namespace
}  // namespace vorncom::rpc

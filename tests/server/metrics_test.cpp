// Metrics in the Prometheus text format, the monitoring listener, and JSON log lines.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <asio.hpp>
#include <atomic>
#include <mutex>

#include "server/metrics.h"
#include "server/metrics_endpoint.h"
#include "server/server_context.h"

namespace vorncom::server {
namespace {

TEST(MetricsTest, RendersThePrometheusTextFormat) {
  MetricRegistry registry;
  registry.AddCounter("uploads_total", "Uploads.\nBackslash \\ kept.").Add(3);
  registry.AddGauge("open", "Open now.").Set(-2);
  registry.AddCounterFunction("accepted_total", "Read when rendered.", [] { return 9u; });
  Histogram& latency = registry.AddHistogram("latency_seconds", "Latency.", {1, 0.5});
  for (double v : {0.25, 1.0, 3.0}) latency.Observe(v);  // 1.0 falls in le="1"
  EXPECT_EQ(registry.Render(),
            "# HELP uploads_total Uploads.\\nBackslash \\\\ kept.\n"
            "# TYPE uploads_total counter\n"
            "uploads_total 3\n"
            "# HELP open Open now.\n"
            "# TYPE open gauge\n"
            "open -2\n"
            "# HELP accepted_total Read when rendered.\n"
            "# TYPE accepted_total counter\n"
            "accepted_total 9\n"
            "# HELP latency_seconds Latency.\n"
            "# TYPE latency_seconds histogram\n"
            "latency_seconds_bucket{le=\"0.5\"} 1\n"
            "latency_seconds_bucket{le=\"1\"} 2\n"
            "latency_seconds_bucket{le=\"+Inf\"} 3\n"
            "latency_seconds_sum 4.25\n"
            "latency_seconds_count 3\n");
}

// Sends `request` whole, then reads until the server closes; "" when it closed without answer.
std::string Exchange(uint16_t port, const std::string& request) {
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), port});
  const timeval limit{10, 0};  // a server that never closes fails the test instead of hanging
  ::setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  asio::error_code ec;
  asio::write(socket, asio::buffer(request), ec);
  std::string reply;
  char chunk[4096];
  for (;;) {
    const size_t n = socket.read_some(asio::buffer(chunk), ec);
    reply.append(chunk, n);
    if (ec) break;
  }
  EXPECT_TRUE(ec == asio::error::eof || ec == asio::error::connection_reset) << ec.message();
  return reply;
}

TEST(MetricsEndpointTest, AnswersEachRequestAndClosesOnHostileOnes) {
  MetricRegistry registry;
  registry.AddCounter("probe_total", "Probe.").Add(7);
  std::mutex mutex;
  std::optional<std::string> failure;
  MetricsEndpointOptions options;
  options.max_request = 1024;
  options.timeout = std::chrono::milliseconds(300);
  MetricsEndpoint endpoint(
      options, [&] { return registry.Render(); },
      [&] {
        std::lock_guard lock(mutex);
        return failure;
      });
  const uint16_t port = endpoint.Start();

  struct Row {
    const char* what;
    std::string request;
    std::optional<std::string> failure;
    std::string status;  // "" : closed without an answer
    std::string body;
  } rows[] = {
      {"metrics", "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", {}, "200", "probe_total 7\n"},
      {"health ok", "GET /health?full=1 HTTP/1.0\r\n\r\n", {}, "200", "\r\n\r\nok\n"},
      {"health failing", "GET /health HTTP/1.1\r\n\r\n", "registro fora do ar", "503",
       "\r\n\r\nregistro fora do ar\n"},
      {"unknown path", "GET /admin HTTP/1.1\r\n\r\n", {}, "404", ""},
      {"other method", "DELETE /metrics HTTP/1.1\r\n\r\n", {}, "405", ""},
      {"garbage", std::string("\x16\x03\x01\0\xff junk\r\n\r\n", 14), {}, "400", ""},
      {"extra words", "GET /metrics HTTP/1.1 x\r\n\r\n", {}, "400", ""},
      {"oversized",
       "GET /metrics HTTP/1.1\r\nX: " + std::string(2000, 'a') + "\r\n\r\n",
       {},
       "431",
       ""},
      {"silent client", "", {}, "", ""},
      {"unfinished headers", "GET /metrics HTTP/1.1\r\n", {}, "", ""},
  };
  for (const Row& row : rows) {
    {
      std::lock_guard lock(mutex);
      failure = row.failure;
    }
    const std::string reply = Exchange(port, row.request);
    if (row.status.empty()) {
      EXPECT_EQ(reply, "") << row.what;
      continue;
    }
    EXPECT_EQ(reply.substr(0, 13), "HTTP/1.1 " + row.status + ' ') << row.what << ": " << reply;
    EXPECT_NE(reply.find(row.body), std::string::npos) << row.what << ": " << reply;
    EXPECT_NE(reply.find("Content-Length: "), std::string::npos) << row.what;
  }
}

TEST(JsonLogTest, EscapesSoThatEveryLineIsOneJsonObject) {
  EXPECT_EQ(JsonLogLine(0, 7, "nome \"a.pkg\"\nC:\\x\tção 日本 \x01 \xff\xc3"),
            "{\"time\":\"1970-01-01T00:00:00Z\",\"session\":7,\"event\":"
            "\"nome \\\"a.pkg\\\"\\nC:\\\\x\\tção 日本 \\u0001 \\ufffd\\ufffd\"}");
}

}  // namespace
}  // namespace vorncom::server

#include "server/metrics.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vorncom::server {

namespace {

// Shortest text that reads back as the same double; Prometheus spells infinity "+Inf".
std::string Number(double value) {
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  if (std::isnan(value)) return "NaN";
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : "NaN";
}

// HELP text escapes backslash and line feed.
std::string EscapeHelp(const std::string& help) {
  std::string out;
  for (char c : help) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

void Header(std::string& out, const std::string& name, const std::string& help, const char* type) {
  out += "# HELP " + name + ' ' + EscapeHelp(help) + '\n';
  out += "# TYPE " + name + ' ' + type + '\n';
}

}  // namespace

Histogram::Histogram(std::vector<double> upper_bounds)
    : bounds_(std::move(upper_bounds)),
      buckets_(std::make_unique<std::atomic<uint64_t>[]>(bounds_.size() + 1)) {
  std::sort(bounds_.begin(), bounds_.end());
  bounds_.erase(std::unique(bounds_.begin(), bounds_.end()), bounds_.end());
}

void Histogram::Observe(double value) {
  // A value equal to a bound belongs to that bound's bucket (le: less or equal).
  const size_t index = static_cast<size_t>(std::lower_bound(bounds_.begin(), bounds_.end(), value) -
                                           bounds_.begin());
  buckets_[index].fetch_add(1, std::memory_order_relaxed);
  sum_.fetch_add(value, std::memory_order_relaxed);
}

Histogram::Snapshot Histogram::Read() const {
  // Cumulative counts come from one pass over the buckets, so they never decrease even while
  // other threads observe; the sum may lag the counts by the observations in flight.
  Snapshot s;
  uint64_t running = 0;
  for (size_t i = 0; i <= bounds_.size(); ++i) {
    running += buckets_[i].load(std::memory_order_relaxed);
    s.cumulative.push_back(running);
  }
  s.sum = sum_.load(std::memory_order_relaxed);
  return s;
}

Counter& MetricRegistry::AddCounter(std::string name, std::string help) {
  Counter& c = counters_.emplace_back();
  entries_.push_back({std::move(name), std::move(help), &c, nullptr, nullptr, {}, {}});
  return c;
}

Gauge& MetricRegistry::AddGauge(std::string name, std::string help) {
  Gauge& g = gauges_.emplace_back();
  entries_.push_back({std::move(name), std::move(help), nullptr, &g, nullptr, {}, {}});
  return g;
}

void MetricRegistry::AddGaugeFunction(std::string name, std::string help,
                                      std::function<int64_t()> read) {
  entries_.push_back(
      {std::move(name), std::move(help), nullptr, nullptr, nullptr, std::move(read), {}});
}

void MetricRegistry::AddCounterFunction(std::string name, std::string help,
                                        std::function<uint64_t()> read) {
  entries_.push_back(
      {std::move(name), std::move(help), nullptr, nullptr, nullptr, {}, std::move(read)});
}

Histogram& MetricRegistry::AddHistogram(std::string name, std::string help,
                                        std::vector<double> upper_bounds) {
  Histogram& h = histograms_.emplace_back(std::move(upper_bounds));
  entries_.push_back({std::move(name), std::move(help), nullptr, nullptr, &h, {}, {}});
  return h;
}

std::string MetricRegistry::Render() const {
  std::string out;
  for (const Entry& e : entries_) {
    if (e.counter || e.read_counter) {
      Header(out, e.name, e.help, "counter");
      out +=
          e.name + ' ' + std::to_string(e.counter ? e.counter->Value() : e.read_counter()) + '\n';
    } else if (e.gauge || e.read_gauge) {
      Header(out, e.name, e.help, "gauge");
      out += e.name + ' ' + std::to_string(e.gauge ? e.gauge->Value() : e.read_gauge()) + '\n';
    } else {
      Header(out, e.name, e.help, "histogram");
      const Histogram::Snapshot s = e.histogram->Read();
      const auto& bounds = e.histogram->upper_bounds();
      for (size_t i = 0; i < s.cumulative.size(); ++i) {
        const std::string le = i < bounds.size() ? Number(bounds[i]) : "+Inf";
        out += e.name + "_bucket{le=\"" + le + "\"} " + std::to_string(s.cumulative[i]) + '\n';
      }
      out += e.name + "_sum " + Number(s.sum) + '\n';
      out += e.name + "_count " + std::to_string(s.cumulative.back()) + '\n';
    }
  }
  return out;
}

ServerMetrics::ServerMetrics()
    : bytes_received(
          registry.AddCounter("vorncom_server_received_bytes_total", "Bytes read from clients.")),
      bytes_sent(registry.AddCounter("vorncom_server_sent_bytes_total", "Bytes sent to clients.")),
      uploads_started(registry.AddCounter("vorncom_server_uploads_started_total",
                                          "Uploads whose control packet was accepted.")),
      uploads_completed(registry.AddCounter("vorncom_server_uploads_completed_total",
                                            "Uploads that passed ValidFile.")),
      uploads_failed(registry.AddCounter("vorncom_server_uploads_failed_total",
                                         "Uploads refused or broken off.")),
      protocolations(registry.AddCounter("vorncom_server_protocolations_total",
                                         "Protocol numbers committed.")),
      deduplicated_sends(registry.AddCounter(
          "vorncom_server_deduplicated_sends_total",
          "Sends answered with the protocol of an identical earlier registration.")),
      resumed_transfers(registry.AddCounter("vorncom_server_resumed_transfers_total",
                                            "Uploads continued from a stored offset.")),
      handshake_failures(registry.AddCounter("vorncom_server_handshake_failures_total",
                                             "TLS handshakes or hellos that failed.")),
      registry_latency(registry.AddHistogram(
          "vorncom_server_registry_latency_seconds", "Time per registry operation.",
          {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5})) {}

}  // namespace vorncom::server

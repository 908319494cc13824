#pragma once

// Counters, gauges and histograms the server updates from any thread, rendered in the Prometheus
// text exposition format. Metrics are registered once, before the server runs; from then on only
// their atomic values change, so rendering never takes a lock the sessions wait on.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vorncom::server {

class Counter {
 public:
  void Add(uint64_t n = 1) { value_.fetch_add(n, std::memory_order_relaxed); }
  uint64_t Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> value_{0};
};

class Gauge {
 public:
  void Add(int64_t n) { value_.fetch_add(n, std::memory_order_relaxed); }
  void Set(int64_t n) { value_.store(n, std::memory_order_relaxed); }
  int64_t Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<int64_t> value_{0};
};

// Buckets by upper bound (ascending; the +Inf bucket is implied).
class Histogram {
 public:
  explicit Histogram(std::vector<double> upper_bounds);
  void Observe(double value);

  struct Snapshot {
    std::vector<uint64_t> cumulative;  // one per bound, then +Inf (= count)
    double sum = 0;
  };
  Snapshot Read() const;
  const std::vector<double>& upper_bounds() const { return bounds_; }

 private:
  std::vector<double> bounds_;
  std::unique_ptr<std::atomic<uint64_t>[]> buckets_;  // not cumulative; the last is +Inf
  std::atomic<double> sum_{0};
};

// A named set of metrics. Register before sharing it between threads; references stay valid for
// the registry's life.
class MetricRegistry {
 public:
  Counter& AddCounter(std::string name, std::string help);
  Gauge& AddGauge(std::string name, std::string help);
  // Metrics whose value is read when rendered, for values the server keeps elsewhere.
  void AddGaugeFunction(std::string name, std::string help, std::function<int64_t()> read);
  void AddCounterFunction(std::string name, std::string help, std::function<uint64_t()> read);
  Histogram& AddHistogram(std::string name, std::string help, std::vector<double> upper_bounds);

  // Every metric in registration order, as text/plain; version=0.0.4.
  std::string Render() const;

 private:
  struct Entry {
    std::string name, help;
    Counter* counter = nullptr;
    Gauge* gauge = nullptr;
    Histogram* histogram = nullptr;
    std::function<int64_t()> read_gauge;
    std::function<uint64_t()> read_counter;
  };
  std::deque<Counter> counters_;
  std::deque<Gauge> gauges_;
  std::deque<Histogram> histograms_;
  std::vector<Entry> entries_;
};

// What vorncom-server measures. Names follow the Prometheus conventions (_total, _seconds).
// ServerContext adds vorncom_server_sessions_open and vorncom_server_sessions_accepted_total,
// read from its own session counters.
struct ServerMetrics {
  ServerMetrics();
  ServerMetrics(const ServerMetrics&) = delete;
  ServerMetrics& operator=(const ServerMetrics&) = delete;

  MetricRegistry registry;
  Counter& bytes_received;
  Counter& bytes_sent;
  Counter& uploads_started;
  Counter& uploads_completed;
  Counter& uploads_failed;
  Counter& protocolations;
  Counter& deduplicated_sends;  // sends answered with the protocol of an identical earlier one
  Counter& resumed_transfers;
  Counter& handshake_failures;  // refused or broken TLS handshakes and hellos
  Histogram& registry_latency;  // seconds per registry operation
};

}  // namespace vorncom::server

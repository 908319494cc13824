// Throughput of the LZ coders through the byte layer, in memory. Input: the file named by
// VORNCOM_BENCH_FILE, or generated text-like records (4 MiB).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include "archive/byte_layer.h"
#include "archive/coders.h"

namespace {

using vorncom::archive::ByteLayer;

std::string Corpus() {
  if (const char* path = std::getenv("VORNCOM_BENCH_FILE")) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::mt19937 rng(42);
  static const char* kWords[] = {"<campo nome=\"", "\"/>\n", "protocolo", "formulário", "recibo",
                                 "2026-12-09",     "valor",  "0,00",      " ",          "CPF"};
  std::string s;
  while (s.size() < (4u << 20)) {
    s += kWords[rng() % 10];
    s += std::to_string(rng() % 1000);
  }
  return s;
}

const std::string& Data() {
  static const std::string data = Corpus();
  return data;
}

template <class Coder>
std::string Run(const std::string& input, Coder coder) {
  std::istringstream in(input);
  std::ostringstream out;
  ByteLayer::Options options;
  options.input_size = static_cast<int64_t>(input.size());
  ByteLayer io(in, out, options);
  coder(io);
  io.Flush();
  return out.str();
}

void Encode(benchmark::State& state, void (*encode)(ByteLayer&)) {
  const std::string& data = Data();
  size_t packed = 0;
  for (auto _ : state) packed = Run(data, encode).size();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
  state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(data.size());
}

void Decode(benchmark::State& state, void (*encode)(ByteLayer&),
            void (*decode)(ByteLayer&, int64_t)) {
  const std::string& data = Data();
  const std::string packed = Run(data, encode);
  const auto count = static_cast<int64_t>(data.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(Run(packed, [&](ByteLayer& io) { decode(io, count); }));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void BM_Lh5Encode(benchmark::State& s) { Encode(s, vorncom::archive::EncodeLh5); }
void BM_Lh5Decode(benchmark::State& s) {
  Decode(s, vorncom::archive::EncodeLh5, vorncom::archive::DecodeLh5);
}
void BM_LzhEncode(benchmark::State& s) { Encode(s, vorncom::archive::EncodeLzh); }
void BM_LzhDecode(benchmark::State& s) {
  Decode(s, vorncom::archive::EncodeLzh, vorncom::archive::DecodeLzh);
}

BENCHMARK(BM_Lh5Encode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lh5Decode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzhEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzhDecode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

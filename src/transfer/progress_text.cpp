#include "transfer/progress_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace vorncom::transfer {
namespace {

// Fixed notation with two decimals and the Brazilian decimal comma, whatever the C locale says.
std::string FixedTwoDecimals(double value) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.2f", value);
  std::string s(text);
  for (char& c : s) {
    if (c == '.') c = ',';
  }
  return s;
}

}  // namespace

int ProgressPercent(int32_t done, int32_t total) {
  if (total <= 0) return 0;
  return static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
}

int64_t SecondsLeft(int32_t total, int32_t done, int32_t delta) {
  if (total == done) return 0;
  return (static_cast<int64_t>(total) - done) / delta + 1;
}

std::string FormatRemainingTime(int64_t seconds) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.2" PRId64 ":%.2" PRId64 ":%.2" PRId64, seconds / 3600,
                (seconds % 3600) / 60, (seconds % 3600) % 60);
  return text;
}

namespace {

std::string RateText(double bytes_per_second) {
  double rate = bytes_per_second / 128.0;  // bytes × 8 / 1024: kilobits per second
  if (rate <= 99.99) return "(" + FixedTwoDecimals(rate) + " Kbits/segundo)";
  rate /= 1024.0;
  return "(" + FixedTwoDecimals(rate) + " Mbits/segundo)";
}

}  // namespace

std::string FormatRate(int32_t delta) { return RateText(delta); }

std::string FormatAverageRate(int64_t bytes, double seconds) {
  return RateText(static_cast<double>(bytes) / std::max(seconds, 0.001));
}

}  // namespace vorncom::transfer

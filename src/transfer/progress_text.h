#pragma once

#include <cstdint>
#include <string>

// The texts of the transfer window's progress display. The byte counters are signed 32-bit, as
// the remote calls carry them.
namespace vorncom::transfer {

// Bar position 0..100: done / total × 100 in floating point, truncated; 0 when total is not
// positive.
int ProgressPercent(int32_t done, int32_t total);

// Seconds left at `delta` bytes per second: 0 when done equals total, else
// (total − done) div delta + 1. `delta` must not be 0.
int64_t SecondsLeft(int32_t total, int32_t done, int32_t delta);

// "hh:mm:ss" with at least two digits per field; hours are not limited to two digits.
std::string FormatRemainingTime(int64_t seconds);

// The rate text for `delta` bytes in one second: "(99,98 Kbits/segundo)" up to 99.99 kilobits,
// "(0,10 Mbits/segundo)" above; two decimals, a comma as decimal separator.
std::string FormatRate(int32_t delta);

// The same text for `bytes` moved in `seconds`: a whole transfer's average. A transfer too quick
// for the clock counts as one millisecond.
std::string FormatAverageRate(int64_t bytes, double seconds);

}  // namespace vorncom::transfer

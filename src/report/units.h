#pragma once

#include <cmath>
#include <cstdint>

namespace vorncom::report {

// Pages are laid out once on a fixed grid of 1200 dots per inch, whatever device they end on.
inline constexpr double kDotsPerInch = 1200.0;
inline constexpr double kCmPerInch = 2.54;
inline constexpr double kDotsPerCm = kDotsPerInch / kCmPerInch;
inline constexpr double kPointsPerInch = 72.0;

inline constexpr double CmToDots(double cm) { return cm * kDotsPerCm; }
inline constexpr double DotsToCm(double dots) { return dots / kDotsPerCm; }
inline constexpr double InchToCm(double inch) { return inch * kCmPerInch; }
inline constexpr double PointsToDots(double points) {
  return points * kDotsPerInch / kPointsPerInch;
}

}  // namespace vorncom::report

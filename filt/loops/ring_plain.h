// The plain ring loop (see ring_kernels.h), also the vector loop's tail.
// Internal linkage: units built for other instruction sets include it too.
#pragma once

#include <cmath>

#include "loops/ring_kernels.h"

namespace {

void vf_RingRunPlain(const vc_RingRow& row, long xa, long xb, long dxOffset) {
  const float* s = row.source;
  float* d = row.target;
  for (long x = xa; x < xb; ++x) {
    const long dx = x + dxOffset;
    const long d2 = dx * dx + row.yy;
    bool multiply = row.everyElement || (row.inner < d2 && d2 < row.outer);
    std::uint64_t k = row.count;
    if (multiply) {
      // |trunc(v)|; NaN and values beyond 2^62 give an index past every profile.
      const double a = std::fabs((std::sqrt(static_cast<double>(d2)) - row.fW) * row.S);
      k = a < 4.6e18 ? static_cast<std::uint64_t>(a) : std::uint64_t{1} << 62;
      multiply = k < row.count;  // rounding at the ring's edge must not reach past the profile
    }
    if (multiply) {
      const double t = row.profile[k];
      d[2 * x] = static_cast<float>(s[2 * x] * t);
      d[2 * x + 1] = static_cast<float>(s[2 * x + 1] * t);
    } else if (!row.keepOutside) {
      d[2 * x] = d[2 * x + 1] = 0.0f;
    } else if (d != s) {
      d[2 * x] = s[2 * x];
      d[2 * x + 1] = s[2 * x + 1];
    }
  }
}

}  // namespace

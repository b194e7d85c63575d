// Test images, their comparison, and a naive DFT oracle for the transform tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

#include "vexstd/pelbuffer.h"

namespace vftest {

// Deterministic pseudo-random pixels in 0..maxValue (integers) or [0, maxValue) (doubles).
template <class T>
vcPelBuffer<T> randomImage(long w, long h, double maxValue, std::uint32_t salt = 1) {
  vcPelBuffer<T> image(w, h);
  std::uint32_t s = salt * 747796405u + 2891336453u;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      s = s * 1664525u + 1013904223u;
      const double u = static_cast<double>(s >> 8) / 16777216.0;
      if constexpr (std::is_integral_v<T>)
        image.set(x, y, static_cast<T>(std::floor(u * (maxValue + 1))));
      else
        image.set(x, y, static_cast<T>(u * maxValue));
    }
  return image;
}

// Both unbound, or the same size, offset and pixels to within `tolerance` (a NaN
// matches nothing); the first difference is named.
template <class A, class B = A>
::testing::AssertionResult samePixels(const vcPelBuffer_const<A>& a, const vcPelBuffer_const<B>& b,
                                      double tolerance = 0) {
  if (a.isBound() != b.isBound() || a.width() != b.width() || a.height() != b.height() || a.offset() != b.offset())
    return ::testing::AssertionFailure() << "binding, size or offset differ";
  for (long y = 0; y < a.height(); ++y)
    for (long x = 0; x < a.width(); ++x)
      if (!(std::abs(static_cast<double>(a.get(x, y)) - static_cast<double>(b.get(x, y))) <= tolerance))
        return ::testing::AssertionFailure()
               << "pixel " << x << "," << y << ": " << +a.get(x, y) << " vs " << +b.get(x, y);
  return ::testing::AssertionSuccess();
}

// The unscaled forward DFT of a w x h complex array (row-major), in double.
inline std::vector<std::complex<double>> naiveDft(const std::vector<std::complex<double>>& in, long w, long h) {
  std::vector<std::complex<double>> out(in.size());
  const double tau = 2.0 * std::numbers::pi;
  for (long v = 0; v < h; ++v)
    for (long u = 0; u < w; ++u)
      for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x)
          out[static_cast<std::size_t>(v * w + u)] +=
              in[static_cast<std::size_t>(y * w + x)] *
              std::polar(1.0, -tau * (static_cast<double>(u * x) / static_cast<double>(w) +
                                      static_cast<double>(v * y) / static_cast<double>(h)));
  return out;
}

}  // namespace vftest

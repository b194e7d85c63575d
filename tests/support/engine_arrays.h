// Test arrays for the FFT engine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace engine_test {

struct Size {
  long w, h;
  friend void PrintTo(const Size& s, std::ostream* os) { *os << s.w << "x" << s.h; }
};

// Every pair of powers of two from 1 to maxSide.
inline std::vector<Size> powerOfTwoPairs(long maxSide) {
  std::vector<Size> sizes;
  for (long w = 1; w <= maxSide; w *= 2)
    for (long h = 1; h <= maxSide; h *= 2) sizes.push_back({w, h});
  return sizes;
}

// 2*w*h deterministic floats in [-1, 1), or, when sparse, mostly zeros with a few small
// integers (exact sums and cancellations, where even the sign of a zero shows the
// order of operations). For width 1 the odd floats are 0, as the real-input routine
// requires; other real inputs carry noise in the working half of each row slot.
inline std::vector<float> testArray(long w, long h, std::uint32_t salt, bool sparse = false) {
  std::vector<float> a(static_cast<std::size_t>(2 * w * h));
  std::uint32_t s = salt * 2654435761u + 12345u;
  for (std::size_t i = 0; i < a.size(); ++i) {
    s = s * 1664525u + 1013904223u;
    const float v = static_cast<float>(s >> 8) / 8388608.0f - 1.0f;
    a[i] = !sparse ? v : i % 7 == 3 ? static_cast<float>(static_cast<int>(4.0f * v)) : 0.0f;
    if (w == 1 && i % 2 == 1) a[i] = 0.0f;
  }
  return a;
}

inline ::testing::AssertionResult sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
      return ::testing::AssertionFailure() << "float " << i << ": " << a[i] << " vs " << b[i];
  return ::testing::AssertionSuccess();
}

}  // namespace engine_test

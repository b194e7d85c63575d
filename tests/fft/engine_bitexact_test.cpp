// The engine's entry points (which pick their level themselves) against the plain
// reference of its algorithm: identical bits, and what band limits mean. Every size
// up to 256 at every instruction-set level is compared in engine_simd_test.cpp.
#include "fft/engine/engine.h"

#include <climits>
#include <utility>

#include "support/engine_arrays.h"
#include "support/reference_fft.h"

using engine_test::sameBits;
using engine_test::Size;
using engine_test::testArray;

namespace {

struct EngineRun {
  long w, h;
  int direction;  // 0: the real-input routine
  long bandMin = 0, bandMax = 0;
};

// The engine with the run's band, the reference with refMin..refMax, on the same input.
// Rows outside a band hold data, so the result also pins down exactly which rows and
// transpose tiles the band skips.
::testing::AssertionResult matchesReference(const EngineRun& r, long refMin, long refMax, bool sparse = false) {
  std::vector<float> lib = testArray(r.w, r.h, static_cast<std::uint32_t>(r.w + 31 * r.h), sparse), ref = lib;
  if (r.direction == 0) {
    vf_RealFFT2D(lib.data(), r.w, r.h);
    reference::realFFT2D(ref.data(), r.w, r.h);
  } else {
    vf_ComplexFFT2D(lib.data(), r.w, r.h, r.direction, r.bandMin, r.bandMax);
    reference::complexFFT2D(ref.data(), r.w, r.h, r.direction, refMin, refMax);
  }
  return sameBits(lib, ref) << " in " << r.w << "x" << r.h << " direction " << r.direction << " band " << r.bandMin
                            << ".." << r.bandMax;
}

// Band limits of any long value mean what their clamped values mean.
TEST(EngineBand, ExtremeLimitsActLikeTheirClampedValues) {
  EXPECT_TRUE(matchesReference({32, 32, +1, LONG_MIN, LONG_MAX}, -1, 33));
  EXPECT_TRUE(matchesReference({32, 32, +1, LONG_MAX, LONG_MIN}, 33, -1));
  EXPECT_TRUE(matchesReference({32, 32, -1, LONG_MAX, LONG_MAX}, 33, 33));
  EXPECT_TRUE(matchesReference({32, 32, -1, LONG_MIN, LONG_MIN}, -1, -1));
  EXPECT_TRUE(matchesReference({16, 64, -1, LONG_MIN, 20}, -1, 20));
  EXPECT_TRUE(matchesReference({64, 16, -1, 5, LONG_MAX}, 5, 17));
}

// Zero rows outside a band give the unbanded result.
TEST(EngineBand, ZeroRowsOutsideTheBandChangeNothing) {
  for (const Size s : {Size{16, 16}, Size{64, 8}, Size{8, 32}, Size{4, 4}, Size{32, 64}}) {
    const long lo = s.h / 2 - 2, hi = s.h / 2 + 1;
    std::vector<float> banded = testArray(s.w, s.h, 5);
    for (long y = 0; y < s.h; ++y) {
      const long c = (y + s.h / 2) % s.h;
      if (c < lo || c > hi) std::fill_n(banded.begin() + 2 * s.w * y, 2 * s.w, 0.0f);
    }
    std::vector<float> whole = banded;
    vf_ComplexFFT2D(banded.data(), s.w, s.h, -1, lo, hi);
    vf_ComplexFFT2D(whole.data(), s.w, s.h, -1, 0, s.h);
    EXPECT_TRUE(sameBits(banded, whole)) << s.w << "x" << s.h;
  }
}

}  // namespace

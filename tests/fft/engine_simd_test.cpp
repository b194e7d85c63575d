// Every instruction-set level of the engine that this CPU supports against the plain
// reference: identical bits, the attention polls counted by hand, clean exits on abort.
#include <vexstd/exception.h>
#include <vexsys/attention.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <utility>

#include "fft/engine/engine.h"
#include "support/engine_arrays.h"
#include "support/reference_fft.h"

using engine_test::sameBits;
using engine_test::Size;
using engine_test::testArray;

namespace {

const char* const kLevelNames[] = {"scalar", "sse2", "avx2", "avx512"};

std::vector<vc_EngineLevel> supportedLevels() {
  std::vector<vc_EngineLevel> levels;
  for (const vc_EngineLevel l :
       {vc_EngineLevel::scalar, vc_EngineLevel::sse2, vc_EngineLevel::avx2, vc_EngineLevel::avx512})
    if (vf_EngineLevelSupported(l)) levels.push_back(l);
  return levels;
}

struct Case {
  long w, h;
  int direction;  // 0: the real-input routine
  long bandMin = 0, bandMax = 0;
};

std::ostream& operator<<(std::ostream& os, const Case& r) {
  return os << r.w << "x" << r.h
            << (r.direction == 0  ? " real"
                : r.direction > 0 ? " forward"
                                  : " inverse")
            << " band " << r.bandMin << ".." << r.bandMax;
}

std::vector<float> transformed(const Case& r, std::vector<float> a, vc_EngineLevel level) {
  if (r.direction == 0)
    vf_RealFFT2DAtLevel(a.data(), r.w, r.h, level);
  else
    vf_ComplexFFT2DAtLevel(a.data(), r.w, r.h, r.direction, r.bandMin, r.bandMax, level);
  return a;
}

// A NaN that no arithmetic produces (x86 makes 0xffc00000): what the out-of-place
// transform's array holds before the call, so that a value it leaves unwritten shows.
const float kUnwritten = std::bit_cast<float>(0x7fe5a5a5u);

// The complex transform out of place; the source must come out unchanged.
std::vector<float> transformedFrom(const Case& r, const std::vector<float>& source, vc_EngineLevel level) {
  const std::vector<float> before = source;
  std::vector<float> a(source.size(), kUnwritten);
  vf_ComplexFFT2DFromAtLevel(source.data(), a.data(), r.w, r.h, r.direction, r.bandMin, r.bandMax, level);
  EXPECT_TRUE(sameBits(source, before)) << "the source changed in " << r;
  return a;
}

std::vector<float> referenceOf(const Case& r, std::vector<float> a) {
  if (r.direction == 0)
    reference::realFFT2D(a.data(), r.w, r.h);
  else
    reference::complexFFT2D(a.data(), r.w, r.h, r.direction, r.bandMin, r.bandMax);
  return a;
}

// Each supported level gives the reference's bits, hence the scalar level's. Rows
// outside a band hold data, so skipped rows and tiles show as well. Two NaNs count as
// equal: which NaN an operation on infinities yields (its sign) is not fixed by C++,
// not even between two scalar builds.
::testing::AssertionResult everyLevelMatches(const Case& r, const std::vector<float>& input) {
  std::vector<float> want = referenceOf(r, input);
  for (const vc_EngineLevel level : supportedLevels())
    for (const bool outOfPlace : {false, true}) {
      if (outOfPlace && r.direction == 0) continue;
      std::vector<float> got = outOfPlace ? transformedFrom(r, input, level) : transformed(r, input, level);
      for (std::size_t i = 0; i < got.size(); ++i)
        if (std::isnan(got[i]) && std::isnan(want[i]) && std::bit_cast<std::uint32_t>(got[i]) != 0x7fe5a5a5u)
          got[i] = want[i];
      ::testing::AssertionResult same = sameBits(got, want);
      if (!same)
        return same << " at level " << kLevelNames[int(level)] << (outOfPlace ? " out of place" : "") << " in " << r;
    }
  return ::testing::AssertionSuccess();
}

using LevelBits = ::testing::TestWithParam<Size>;

// Widths and heights 1 ... 256 give every row length and every batch remainder: bands
// leave partial batches at their edges, the real second pass has W/2 + 1 rows.
TEST_P(LevelBits, EveryRoutineDirectionAndBand) {
  const auto [w, h] = GetParam();
  for (bool sparse : {false, true}) {
    const std::vector<float> input = testArray(w, h, static_cast<std::uint32_t>(3 * w + h), sparse);
    EXPECT_TRUE(everyLevelMatches({w, h, 0}, input));
    for (int direction : {+1, -1})
      for (const auto& [lo, hi] : {std::pair{0L, h}, {h / 4, h / 2 + 1}, {h / 2 + 3, h - 2}, {1, 1}})
        EXPECT_TRUE(everyLevelMatches({w, h, direction, lo, hi}, input));
  }
}

INSTANTIATE_TEST_SUITE_P(UpTo256, LevelBits, ::testing::ValuesIn(engine_test::powerOfTwoPairs(256)));

TEST(LevelBitsLarge, SampleOfLargeSizes) {
  for (const Case& r : {Case{2048, 2048, +1, 0, 2048},
                        {2048, 2048, -1, 700, 1400},
                        {2048, 2048, 0},
                        {2048, 512, +1, 0, 512},
                        {512, 2048, -1, 0, 2048},
                        {1024, 1024, 0},
                        {2048, 512, 0},
                        {512, 2048, 0},
                        {2048, 1, -1, 0, 1},
                        {1, 2048, +1, 0, 2048},
                        {2048, 1, 0}})
    EXPECT_TRUE(everyLevelMatches(r, testArray(r.w, r.h, static_cast<std::uint32_t>(r.w ^ r.h))));
}

// Values at the edges of float: a few impulses near FLT_MAX, whose sums overflow into
// infinities (and NaNs) on store, over noise of subnormal size; and subnormal noise
// alone, whose results underflow gradually. Each lane must round, overflow and
// underflow exactly as a scalar double rounded to float does.
TEST(LevelBitsExtreme, OverflowAndUnderflow) {
  for (const Size s : {Size{16, 16}, Size{64, 64}, Size{128, 32}, Size{16, 256}})
    for (bool huge : {true, false}) {
      std::vector<float> a = testArray(s.w, s.h, 9);
      for (float& v : a) v *= FLT_MIN / 64;
      for (long k = 0; huge && k < 6; ++k)
        a[2 * ((k * 37 * s.w / 16 + k) % (s.w * s.h))] = (k % 2 ? -0.75f : 0.75f) * FLT_MAX;
      for (const Case& r : {Case{s.w, s.h, +1, 0, s.h}, {s.w, s.h, -1, 0, s.h}, {s.w, s.h, 0}})
        EXPECT_TRUE(everyLevelMatches(r, a));
    }
}

// A row of length n holding only z[n/8] = p and z[3n/8] = +-p (real) meets at its
// first butterfly j = n/8 the twiddles w1 near exp(i pi/4) and w3 near exp(3i pi/4),
// so the two products of Re z2 and Re z3 (for +p) or of Im z2 and Im z3 (for -p)
// cancel to about 1e-8 of their size, and the tiny result reaches the output through
// exact steps. A fused multiply-add, which skips the rounding of one product, changes
// that output for about one p in twenty; random data would almost never show it.
TEST(LevelBitsExtreme, CancellingProducts) {
  std::uint32_t salt = 1;
  for (const long n : {64L, 512L})
    for (const float sign : {1.0f, -1.0f})
      for (int trial = 0; trial < 300; ++trial) {
        salt = salt * 1664525u + 1013904223u;
        const float p = static_cast<float>(salt >> 8) / 8388608.0f + 0.5f;
        std::vector<float> row(static_cast<std::size_t>(2 * n), 0.0f);
        row[static_cast<std::size_t>(2 * (n / 8))] = p;
        row[static_cast<std::size_t>(2 * (3 * n / 8))] = sign * p;
        EXPECT_TRUE(everyLevelMatches({n, 1, +1, 0, 1}, row));
      }
}

// Polls counted by hand, in pass order: one before each transformed first-pass row
// whose index is a multiple of 16, one per tiled transpose, the second-pass rows
// likewise, the transpose back, and the real routine's symmetric fill.
const struct {
  Case run;
  long polls;
} kPolls[] = {{{64, 64, -1, 0, 64}, 4 + 1 + 4 + 1},
              {{32, 8, -1, 0, 8}, 1 + 1 + 2 + 1},
              {{2, 64, -1, 0, 64}, 4 + 0 + 1 + 0},
              {{1, 64, -1, 0, 64}, 4 + 1},
              {{64, 1, -1, 0, 1}, 1 + 4},
              {{1, 1, -1, 0, 1}, 1 + 1},
              {{4, 4, -1, 0, 4}, 1 + 1 + 1 + 1},
              {{64, 64, -1, 30, 33}, 1 + 1 + 4 + 1},
              {{64, 64, -1, 0, 20}, 2 + 1 + 4 + 1},
              {{64, 64, -1, 5, 2}, 0 + 1 + 4 + 1},
              {{8, 32, +1, 0, 32}, 2 + 1 + 1 + 1},
              {{256, 256, -1, 100, 140}, 2 + 1 + 16 + 1},
              {{64, 64, 0}, 4 + 1 + 3 + 1 + 1},
              {{32, 8, 0}, 1 + 1 + 2 + 1 + 1},
              {{1, 64, 0}, 1 + 1},
              {{64, 1, 0}, 1 + 3 + 1},
              {{4, 4, 0}, 1 + 0 + 1 + 0 + 1},
              {{8, 8, 0}, 1 + 1 + 1 + 1 + 1},
              {{2, 64, 0}, 4 + 0 + 1 + 0 + 1}};

// Every level polls as counted; failing any one poll leaves by the platform's exception
// (a time-out at the last poll, an abort at the others) with everything released (leaks
// show under the sanitizers), and the next call is unaffected.
TEST(LevelPolls, CountedCadenceAndCleanExitsAtEveryLevel) {
  EXPECT_TRUE(vf_EngineLevelSupported(vc_EngineLevel::scalar));
  EXPECT_TRUE(vf_EngineLevelSupported(vf_BestEngineLevel()));
  for (const auto& [r, polls] : kPolls) {
    const std::vector<float> input = testArray(r.w, r.h, 4), want = referenceOf(r, input);
    for (const vc_EngineLevel level : supportedLevels()) {
      SCOPED_TRACE(testing::Message() << kLevelNames[int(level)] << " " << r);
      const long before = vsys_attention_polls();
      transformed(r, input, level);
      EXPECT_EQ(vsys_attention_polls() - before, polls);
      if (r.direction != 0) {  // out of place: the same polls
        const long start = vsys_attention_polls();
        transformedFrom(r, input, level);
        EXPECT_EQ(vsys_attention_polls() - start, polls) << "out of place";
      }
      for (long k = 1; k <= polls; ++k) {
        const bool timeOut = k == polls;
        vsys_fail_poll_after(k, timeOut ? VSYS_TIMED_OUT : VSYS_ABORTED);
        try {
          transformed(r, input, level);
          ADD_FAILURE() << "poll " << k << " failed, the call went on";
        } catch (const vcTimedOut&) {
          EXPECT_TRUE(timeOut) << k;
        } catch (const vcAbortRequested&) {
          EXPECT_FALSE(timeOut) << k;
        }
        vsys_fail_poll_after(0, 0);
        EXPECT_TRUE(sameBits(transformed(r, input, level), want)) << "after failing poll " << k;
      }
    }
  }
}

}  // namespace

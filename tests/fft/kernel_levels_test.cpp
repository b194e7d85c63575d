// The vector kernels against their plain forms, at every level the CPU has:
// the inverse pixel loops (the same pixels and doubles for every element,
// ties, saturation, NaNs and infinities included), the spectrum arithmetic
// and the band filters' ring loop (the same floats), on every length around
// the vector widths.
#include "loops/arithmetic_kernels.h"
#include "loops/pixel_rows.h"
#include "loops/ring_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

std::vector<vc_EngineLevel> vectorLevels() {
  std::vector<vc_EngineLevel> levels;
  for (const vc_EngineLevel l : {vc_EngineLevel::sse2, vc_EngineLevel::avx2, vc_EngineLevel::avx512})
    if (vf_EngineLevelSupported(l)) levels.push_back(l);
  return levels;
}

// Elements whose scaled magnitudes land on every interesting kind of value:
// exact halves (ties both ways), integers, just off the saturation limits,
// beyond the 32-bit range, infinities, NaNs, zeros of both signs; then random
// ones over many octaves.
std::vector<float> interestingElements(std::size_t randomCount) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> e;
  for (float v :
       {0.5f,  1.5f, 2.5f,          254.5f,        255.5f, 256.0f, 65534.5f, 65535.5f, 70000.0f, 3.0f,
        -0.0f, 0.0f, 2147483648.0f, 4294967296.0f, 1e19f,  1e30f,  inf,      nan,      1e-30f,   127.49999f}) {
    e.push_back(v);
    e.push_back(0.0f);
    e.push_back(-v);
    e.push_back(-0.0f);
    e.push_back(0.0f);
    e.push_back(v);
  }
  e.insert(e.end(), {nan, inf, 3.0f, 4.0f, -3.0f, -4.0f, inf, nan});
  std::mt19937 generator(7);
  std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
  std::uniform_int_distribution<int> octave(-8, 40);
  for (std::size_t i = 0; i < 2 * randomCount; ++i) e.push_back(std::ldexp(mantissa(generator), octave(generator)));
  return e;
}

// Bit for bit, except that any NaN matches any NaN: which operand's payload
// a sum of two NaNs carries is the compiler's choice even in plain code.
template <class T>
bool sameBits(T a, T b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}
bool sameDouble(double a, double b) {
  return sameBits(a, b);
}

class PixelRowLevels : public ::testing::TestWithParam<vc_EngineLevel> {};

TEST_P(PixelRowLevels, EveryKernelGivesThePlainResults) {
  const vc_PixelRows plain = vf_PixelRows(vc_EngineLevel::scalar);
  const vc_PixelRows wide = vf_PixelRows(GetParam());
  const std::vector<float> elements = interestingElements(3000);
  const long total = static_cast<long>(elements.size() / 2);
  // Scales that put the tie cases on ties (1), shrink everything (1/65536),
  // and push values through the stretch's wrap-around.
  struct Scales {
    double k, low, scale;
  };
  for (const Scales s :
       {Scales{1.0, 0.0, 1.0}, Scales{1.0 / 65536, 0.25, 1000.0}, Scales{3.0, 200.0, -7.5}, Scales{1.0, -1e9, 4.0}}) {
    // Every start and length near the vector widths, then the whole array.
    for (long start = 0; start < 9; ++start) {
      for (long n : {0L, 1L, 3L, 4L, 7L, 8L, 9L, 15L, 16L, 17L, 31L, total - start}) {
        if (start + n > total) continue;
        const float* e = elements.data() + 2 * start;
        std::vector<unsigned char> a8(n), b8(n);
        std::vector<unsigned short> a16(n), b16(n);
        plain.saturated8(e, a8.data(), n, s.k);
        wide.saturated8(e, b8.data(), n, s.k);
        ASSERT_EQ(a8, b8) << "saturated8 k=" << s.k << " start=" << start << " n=" << n;
        plain.saturated16(e, a16.data(), n, s.k);
        wide.saturated16(e, b16.data(), n, s.k);
        ASSERT_EQ(a16, b16) << "saturated16 k=" << s.k << " start=" << start << " n=" << n;
        plain.stretched8(e, a8.data(), n, s.k, s.low, s.scale);
        wide.stretched8(e, b8.data(), n, s.k, s.low, s.scale);
        ASSERT_EQ(a8, b8) << "stretched8 k=" << s.k << " start=" << start << " n=" << n;
        plain.stretched16(e, a16.data(), n, s.k, s.low, s.scale);
        wide.stretched16(e, b16.data(), n, s.k, s.low, s.scale);
        ASSERT_EQ(a16, b16) << "stretched16 k=" << s.k << " start=" << start << " n=" << n;

        std::vector<double> ad(n), bd(n);
        plain.magnitudes(e, ad.data(), n, s.k);
        wide.magnitudes(e, bd.data(), n, s.k);
        for (long x = 0; x < n; ++x) ASSERT_TRUE(sameDouble(ad[x], bd[x])) << "magnitudes x=" << start + x;

        double pl = 1e20, ph = -1e20, wl = 1e20, wh = -1e20;
        plain.squaredRange(e, n, pl, ph);
        wide.squaredRange(e, n, wl, wh);
        ASSERT_TRUE(sameDouble(pl, wl) && sameDouble(ph, wh)) << "squaredRange start=" << start << " n=" << n;
      }
    }
  }
}

// The plain rounding itself: ties to even, and the saturation and wrap rules.
TEST(PixelRows, PlainRoundingRules) {
  const vc_PixelRows plain = vf_PixelRows(vc_EngineLevel::scalar);
  const float e[] = {0.5f, 0, 1.5f, 0, 2.5f, 0, 300.0f, 0, std::numeric_limits<float>::quiet_NaN(), 0, 3, 4};
  unsigned char d[6];
  plain.saturated8(e, d, 6, 1.0);
  EXPECT_EQ((std::vector<int>(d, d + 6)), (std::vector<int>{0, 2, 2, 255, 0, 5}));
  plain.stretched8(e, d, 6, 1.0, 2.0, 1.0);  // x - 2, low 8 bits
  EXPECT_EQ((std::vector<int>(d, d + 6)), (std::vector<int>{254, 0, 0, 298 & 0xFF, 0, 3}));
}

class ArithmeticLevels : public ::testing::TestWithParam<vc_EngineLevel> {};

TEST_P(ArithmeticLevels, EveryLoopGivesThePlainFloats) {
  const vc_ArithmeticKernels plain = vf_ArithmeticKernels(vc_EngineLevel::scalar);
  const vc_ArithmeticKernels wide = vf_ArithmeticKernels(GetParam());
  // Operands with overflowing products and sums, infinities, NaNs, signed
  // zeros and subnormals among ordinary values.
  std::vector<float> a = interestingElements(500);
  std::vector<float> r(a.rbegin(), a.rend());
  for (std::size_t i = 0; i < r.size(); i += 7) r[i] = std::numeric_limits<float>::denorm_min() * float(i % 5);
  const long total = static_cast<long>(a.size() / 2);
  using Loop = void (*vc_ArithmeticKernels::*)(const float*, float*, long);
  for (const Loop loop : {Loop(&vc_ArithmeticKernels::add), Loop(&vc_ArithmeticKernels::subtract),
                          Loop(&vc_ArithmeticKernels::multiply)}) {
    for (long n : {0L, 1L, 3L, 4L, 5L, 8L, 13L, total}) {
      for (bool aliased : {false, true}) {
        std::vector<float> p(r.begin(), r.begin() + 2 * n), w = p;
        (plain.*loop)(aliased ? p.data() : a.data(), p.data(), n);
        (wide.*loop)(aliased ? w.data() : a.data(), w.data(), n);
        for (long i = 0; i < 2 * n; ++i)
          ASSERT_TRUE(sameBits(p[i], w[i])) << "float " << i << " of " << n << (aliased ? " in place" : "");
      }
    }
  }
}

class RingLevels : public ::testing::TestWithParam<vc_EngineLevel> {};

// Rings of many radii and widths over rows on both sides of the zero column,
// in place and into another row, with the ring's edges, profile ends and
// every outside rule.
TEST_P(RingLevels, EveryRunGivesThePlainFloats) {
  const vc_RingRun plain = vf_RingRun(vc_EngineLevel::scalar);
  const vc_RingRun wide = vf_RingRun(GetParam());
  std::mt19937 generator(11);
  const std::vector<float> source = interestingElements(400);
  const long total = static_cast<long>(source.size() / 2);
  std::vector<float> profile(4000);
  for (float& v : profile) v = std::uniform_real_distribution<float>(0.0f, 1.0f)(generator);
  for (int trial = 0; trial < 200; ++trial) {
    auto pick = [&](long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(generator); };
    const double fW = static_cast<double>(pick(0, 300)) + (trial % 3) * 0.25;
    const long L = pick(1, 200);
    vc_RingRow row{nullptr,
                   nullptr,
                   profile.data(),
                   static_cast<std::uint64_t>(pick(1, 4000)),
                   pick(0, 90000),
                   fW - L >= 0 ? static_cast<long>((fW - L) * (fW - L)) : -1,
                   static_cast<long>((fW + L) * (fW + L)),
                   fW,
                   32.0,
                   trial % 2 == 0,
                   trial % 5 == 0};
    if (trial % 7 == 0) {
      // On the zero row with a whole fW, |v| = 32 |dx - fW| lands exactly on
      // the profile's end for some dx.
      row.yy = 0;
      row.fW = static_cast<double>(pick(0, 300));
      row.count = static_cast<std::uint64_t>(32 * pick(1, 60));
    }
    const long xa = pick(0, 20), xb = pick(xa, total), offset = trial % 4 == 0 ? -pick(0, 600) : pick(-300, 0);
    if (trial % 3 == 1 && xb > xa + 1) {
      // The ring's edges exactly on the run's first and last elements, the
      // inner one where the profile starts: both lie outside the ring.
      const long d0 = xa + offset, d1 = xb - 1 + offset;
      row.inner = std::min(d0 * d0, d1 * d1) + row.yy;
      row.outer = std::max(d0 * d0, d1 * d1) + row.yy;
      row.fW = std::sqrt(static_cast<double>(row.inner));
      row.count = 4000;
      row.everyElement = false;
    }
    for (bool inPlace : {false, true}) {
      std::vector<float> a = inPlace ? source : std::vector<float>(source.size(), 7.0f), b = a;
      row.source = inPlace ? a.data() : source.data();
      row.target = a.data();
      plain(row, xa, xb, offset);
      row.source = inPlace ? b.data() : source.data();
      row.target = b.data();
      wide(row, xa, xb, offset);
      for (std::size_t i = 0; i < a.size(); ++i)
        ASSERT_TRUE(sameBits(a[i], b[i])) << "float " << i << " trial " << trial << (inPlace ? " in place" : "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, RingLevels, ::testing::ValuesIn(vectorLevels()),
                         [](const ::testing::TestParamInfo<vc_EngineLevel>& info) {
                           return std::string(info.param == vc_EngineLevel::sse2   ? "sse2"
                                              : info.param == vc_EngineLevel::avx2 ? "avx2"
                                                                                   : "avx512");
                         });

INSTANTIATE_TEST_SUITE_P(Levels, ArithmeticLevels, ::testing::ValuesIn(vectorLevels()),
                         [](const ::testing::TestParamInfo<vc_EngineLevel>& info) {
                           return std::string(info.param == vc_EngineLevel::sse2   ? "sse2"
                                              : info.param == vc_EngineLevel::avx2 ? "avx2"
                                                                                   : "avx512");
                         });

INSTANTIATE_TEST_SUITE_P(Levels, PixelRowLevels, ::testing::ValuesIn(vectorLevels()),
                         [](const ::testing::TestParamInfo<vc_EngineLevel>& info) {
                           return std::string(info.param == vc_EngineLevel::sse2   ? "sse2"
                                              : info.param == vc_EngineLevel::avx2 ? "avx2"
                                                                                   : "avx512");
                         });

}  // namespace

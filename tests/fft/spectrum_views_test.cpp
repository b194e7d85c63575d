// Spectrum images (stored and quadrant-swapped views of a buffer) and the display
// mapping of double images to bytes. (Refusals: reliability/bad_input_test.)

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "support/buffer_helpers.h"

namespace {

using Defs = vcFrequencyDefs;
using ImageOf = vcPelBuffer<double> (vcFrequencyBuffer::*)(bool) const;
constexpr double kPi = std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The values twice, as the two rows of a window whose row stride exceeds its
// width; the parent's other pixels hold a large marker that changes every
// self-ranging mapping if it is ever read.
vcPelBuffer<double> twoRowWindow(const std::vector<double>& values) {
  const long n = static_cast<long>(values.size());
  vcPelBuffer<double> parent(n + 3, 4);
  vfPelSet(parent, 1e6);
  vcPelBuffer<double> window(parent, 2, 1, n, 2);
  for (long y = 0; y < 2; ++y)
    for (long x = 0; x < n; ++x) window.set(x, y, values[static_cast<std::size_t>(x)]);
  return window;
}

std::vector<int> mapped(const std::vector<double>& values, Defs::FrequencyMapping m, double a = 0, double b = 0) {
  const vcPelBuffer<unsigned char> out = vfFrequencyMapImage(twoRowWindow(values), m, a, b);
  EXPECT_EQ(out.width(), static_cast<long>(values.size()));
  EXPECT_EQ(out.height(), 2);
  std::vector<int> row;
  for (long x = 0; x < out.width(); ++x) {
    EXPECT_EQ(out.get(x, 1), out.get(x, 0)) << "column " << x;
    row.push_back(out.get(x, 0));
  }
  return row;
}

}  // namespace

TEST(DisplayMapping, Figures) {
  struct Case {
    const char* what;
    Defs::FrequencyMapping m;
    double a, b;
    std::vector<double> in;
    std::vector<int> out;
  };
  const Case cases[] = {
      {"clip", Defs::eMapClip, 0, 0, {-3.7, 12.9, 300, 0, 255, 254.99}, {0, 12, 255, 0, 255, 254}},
      {"linear 0..1000", Defs::eMapLinear, 0, 0, {0, 500, 1000}, {0, 127, 255}},
      {"linear -10..10", Defs::eMapLinear, 0, 0, {-10, 0, 10}, {0, 127, 255}},
      // 0 stays at 0; s = 255/400 is rounded first, so 400 * s falls short of 255.
      {"linear from 0, not the minimum", Defs::eMapLinear, 0, 0, {200, 400}, {127, 254}},
      {"linear all zero", Defs::eMapLinear, 0, 0, {0, 0}, {0, 0}},
      {"linear constant negative", Defs::eMapLinear, 0, 0, {-5, -5}, {0, 0}},
      {"range -255..255", Defs::eMapRange, -255, 255, {-255, 0, 255, 300}, {0, 127, 255, 255}},
      {"range 10..10+255", Defs::eMapRange, 10, 255, {10, 100, 265, 5}, {0, 90, 255, 0}},
      {"range empty", Defs::eMapRange, 0, 0, {0, 0.5, 1, 2}, {0, 127, 255, 255}},
      {"log 0..1000", Defs::eMapLog, 0, 0, {0, 1, 1000}, {0, 25, 255}},
      {"log 0..10", Defs::eMapLog, 0, 0, {0, 1, 5, 10}, {0, 76, 198, 255}},
      {"log -1..9", Defs::eMapLog, 0, 0, {-1, 0, 9}, {0, 76, 255}},
      {"log R below 2", Defs::eMapLog, 0, 0, {0, 0.5, 1}, {0, 149, 255}},
      {"phase", Defs::eMapPhase, 0, 0, {0, kPi, 6.28, -0.1, 1e10, -1e10, 1e300}, {0, 127, 254, 252, 224, 32, 0}},
      {"scan starts at -1e20f", Defs::eMapLinear, 0, 0, {-2e20, -1.5e20}, {0, 127}},
      {"NaN skipped by the scan", Defs::eMapLinear, 0, 0, {kNaN, 1, 2}, {0, 127, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(mapped(c.in, c.m, c.a, c.b), c.out);
  }
}

// Centered pixel (W/2 + u, H/2 + v) holds signed frequency (u, v), for every
// quantity, including sizes with a dimension of 1 (not moved).
TEST(SpectrumImages, EveryQuantityInBothLayouts) {
  struct Quantity {
    ImageOf image;
    double (*of)(vcPair<double>);
  };
  const Quantity quantities[] = {
      {&vcFrequencyBuffer::getRealImage, [](vcPair<double> e) { return e.x; }},
      {&vcFrequencyBuffer::getImaginaryImage, [](vcPair<double> e) { return e.y; }},
      {&vcFrequencyBuffer::getMagnitudeImage, [](vcPair<double> e) { return std::hypot(e.x, e.y); }},
      {&vcFrequencyBuffer::getPhaseImage,
       [](vcPair<double> e) {
         return std::atan2(e.y, e.x) < 0 ? std::atan2(e.y, e.x) + 2 * kPi : std::atan2(e.y, e.x);
       }},
  };
  for (auto [w, h] : {std::pair{8L, 4L}, {1L, 4L}, {8L, 1L}, {1L, 1L}}) {
    vcFrequencyBuffer b = vftest::indexedBuffer(w, h);
    b.put(0, 0, vcPair<double>(-1.0, -0.0), false);  // phase exactly pi, not -pi
    for (std::size_t q = 0; q < std::size(quantities); ++q) {
      SCOPED_TRACE(testing::Message() << w << "x" << h << " quantity " << q);
      const vcPelBuffer<double> stored = (b.*quantities[q].image)(false);
      const vcPelBuffer<double> centered = (b.*quantities[q].image)(true);
      for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) {
          EXPECT_NEAR(stored.get(x, y), quantities[q].of(b.get(x, y, false)), 1e-9);
          const long u = x - w / 2, v = y - h / 2;
          EXPECT_NEAR(centered.get(x, y), quantities[q].of(b.get(u, v, true)), 1e-9);
        }
    }
    const vcPelBuffer<double> phase = b.getPhaseImage(false);
    EXPECT_EQ(phase.get(0, 0), kPi);
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) EXPECT_TRUE(phase.get(x, y) >= 0 && phase.get(x, y) < 2 * kPi);
  }
}

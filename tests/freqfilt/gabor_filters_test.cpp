// Gabor and Gabor-reject patches against their definition: support sizes,
// the window placed around the exact patch centre in every direction,
// clipping at the array's edge and the row band. (Orientation selectivity through
// the whole transform chain: tools/filters_test, through the demo.)

#include <gtest/gtest.h>

#include <numbers>

#include "freqfilt/filter_support.h"

namespace {

using Gabor = vcFrequencyFilterGabor;
using GaborReject = vcFrequencyFilterGaborReject;
constexpr double kPi = std::numbers::pi;

struct Patch {
  long W, H;
  double angle, frequency;
  vcPair<double> sigma, plateau;

  // Supports: four deviations and the plateau each side, projected on the
  // axes, plus 5 % of the size, made odd.
  long support(bool rows) const {
    const double X = W, a = rows ? static_cast<double>(H) / W : 1.0;
    const double c = std::fabs(std::cos(angle)), s = std::fabs(std::sin(angle)), along = rows ? s : c,
                 across = rows ? c : s;
    const long n =
        static_cast<long>(8 * std::max(X * sigma.x * along, X * sigma.y * across) * a +
                          2 * std::max(X * plateau.x * along, X * plateau.y * across) * a + 0.05 * (rows ? H : W));
    return n % 2 == 1 ? n : n + 1;
  }
  // The exact patch centre, zero frequency at column W/2, row H/2.
  double cx() const { return (W >> 1) + W * frequency * std::cos(angle); }
  double cy() const { return (H >> 1) + W * frequency * std::sin(angle) * (static_cast<double>(H) / W); }
  // The flat-topped Gaussian at an offset from that centre, rows converted
  // to column units, measured along and across the direction.
  double response(double dx, double dyRows) const {
    const double X = W, dy = dyRows * X / H;
    const double rx = dx * std::cos(angle) + dy * std::sin(angle), ry = -dx * std::sin(angle) + dy * std::cos(angle);
    const double u = std::max(std::fabs(rx) - X * plateau.x, 0.0), v = std::max(std::fabs(ry) - X * plateau.y, 0.0);
    return std::exp(-(u * u) / (2 * X * X * sigma.x * sigma.x) - (v * v) / (2 * X * X * sigma.y * sigma.y));
  }
};

}  // namespace

// Every element, both classes, both forms: inside the window the factor is
// the response at the element's offset from the exact centre (also where
// cos or sin of the angle is negative); outside, Gabor gives 0 and
// Gabor-reject 1; nothing wraps around the edge (frequency 0.5).
TEST(GaborFilters, EveryElementFollowsThePatch) {
  const Patch patches[] = {{256, 256, 0.0, 0.25, {0.01, 0.01}, {0, 0}},
                           {64, 64, 2 * kPi / 3, 0.2, {0.02, 0.01}, {0.01, 0}},
                           {128, 64, 5 * kPi / 4, 0.15, {0.01, 0.02}, {0, 0.01}},
                           {64, 128, -kPi / 6, 0.3, {0.015, 0.015}, {0, 0}},
                           {64, 64, 0.0, 0.5, {0.03, 0.03}, {0, 0}},
                           {32, 32, 1.0, 0.0, {0.05, 0.05}, {0, 0}},
                           {16, 128, 2.0, 0.4, {0.02, 0.005}, {0.01, 0.01}},
                           {1, 16, 1.5, 0.3, {0.05, 0.05}, {0, 0}},
                           {2, 4, 0.7, 0.5, {0.1, 0.1}, {0, 0}}};
  for (const Patch& p : patches)
    for (bool pass : {true, false})
      for (bool twoBuffer : {false, true}) {
        SCOPED_TRACE(testing::Message() << p.W << "x" << p.H << " angle " << p.angle << " pass " << pass
                                        << " two-buffer " << twoBuffer);
        const long sw = p.support(false), sh = p.support(true), cx = static_cast<long>(p.cx()),
                   cy = static_cast<long>(p.cy());
        const Gabor gabor(p.sigma, p.plateau, vcRadian(p.angle), p.frequency, {p.W, p.H}, 0);
        const GaborReject reject(p.sigma, p.plateau, vcRadian(p.angle), p.frequency, {p.W, p.H}, 0);
        ASSERT_EQ(gabor.supportWidth(), sw);
        ASSERT_EQ(reject.supportHeight(), sh);
        const vcFrequencyBuffer out =
            vftest::filterConstant(pass ? static_cast<const vcFrequencyFilter&>(gabor) : reject, p.W, p.H, twoBuffer);
        EXPECT_EQ(out.masked(), pass ? 1 : 0);
        EXPECT_EQ(out.maskedMiny(), pass ? cy - sh / 2 : 0);
        EXPECT_EQ(out.maskedMaxy(), pass ? cy + sh / 2 : 0);
        vftest::expectFactors(out, [&](long x, long y) {
          const long xc = (x + p.W / 2) % p.W, yc = (y + p.H / 2) % p.H;
          if (std::labs(xc - cx) > sw / 2 || std::labs(yc - cy) > sh / 2) return pass ? 0.0 : 1.0;
          const double r = p.response(xc - p.cx(), yc - p.cy());
          return static_cast<double>(static_cast<float>(pass ? r : 1.0 - r));
        });
      }
}

// Band-pass and band-reject rings against their definition: the radial profile and
// every element of a filtered spectrum. (Gratings kept or removed through the whole
// forward -> filter -> inverse chain: tools/filters_test, through the demo.)

#include <gtest/gtest.h>

#include "freqfilt/filter_support.h"

namespace {

using Pass = vcFrequencyFilterBandPass;
using Reject = vcFrequencyFilterBandReject;

struct Ring {
  double sigma, plateau, frequency;
  long W, H;
};

long profileLength(const Ring& r) {
  const double X = static_cast<double>(r.W);
  const long L = static_cast<long>(X * r.plateau + 4.0 * (X * r.sigma) + 0.05 * X);
  return L % 2 == 1 ? L : L + 1;
}

// The response j/32 pixels from the ring: 1 over the plateau, then Gaussian.
float profileEntry(bool pass, const Ring& r, long j) {
  const double X = static_cast<double>(r.W), S = X * r.sigma;
  const double m = std::max(0.0, static_cast<double>(j) / 32.0 - X * r.plateau);
  const double v = std::exp(-(m * m) / (2.0 * S * S));
  return static_cast<float>(pass ? v : 1.0 - v);
}

// The factor of stored element (x, y): rows are converted to column units by
// (W/H)^2; outside the ring band-pass zeroes, band-reject keeps. The
// two-buffer band-reject multiplies every element whose profile index
// exists, within the rows the ring can reach.
double ringFactor(bool pass, bool twoBuffer, const Ring& r, long x, long y) {
  const double fW = static_cast<double>(r.W) * r.frequency, hOverW = static_cast<double>(r.H) / r.W;
  const long L = profileLength(r);
  const long dx = x < r.W / 2 ? x : x - r.W, dy = y < r.H / 2 ? y : y - r.H;
  const long d2 = dx * dx + static_cast<long>(static_cast<double>(dy * dy) / (hOverW * hOverW));
  const long k = static_cast<long>(std::fabs(std::trunc((std::sqrt(static_cast<double>(d2)) - fW) * 32.0)));
  bool inRing;
  if (!pass && twoBuffer) {
    inRing = std::labs(dy) <= static_cast<long>(hOverW * (fW + L)) && k < 32 * L;
  } else {
    const long inner = fW - L >= 0 ? static_cast<long>((fW - L) * (fW - L)) : -1;
    inRing = inner < d2 && d2 < static_cast<long>((fW + L) * (fW + L));
  }
  return inRing ? profileEntry(pass, r, k) : pass ? 0.0 : 1.0;
}

}  // namespace

// Every element, both classes, both forms. Taller-than-wide spectra reach
// ring rows beyond (H/W) fW + L, which are filtered like any other; the
// row band is cleared.
TEST(BandFilters, EveryElementFollowsTheRing) {
  const Ring rings[] = {{0.01, 0.0, 0.25, 256, 256}, {0.02, 0.05, 0.2, 128, 64}, {0.02, 0.01, 0.25, 64, 128},
                        {0.05, 0.0, 0.0, 32, 32},    {0.01, 0.02, 0.5, 64, 64},  {0.03, 0.0, 0.1, 16, 256},
                        {0.1, 0.0, 0.5, 2, 4},       {0.2, 0.1, 0.3, 1, 16},     {0.004, 0.0, 0.3, 512, 32}};
  for (const Ring& r : rings)
    for (bool pass : {true, false})
      for (bool twoBuffer : {false, true}) {
        SCOPED_TRACE(testing::Message() << r.W << "x" << r.H << " f " << r.frequency << " pass " << pass
                                        << " two-buffer " << twoBuffer);
        const Pass bandPass(r.sigma, r.plateau, r.frequency, vcPair<long>(r.W, r.H), 0);
        const Reject bandReject(r.sigma, r.plateau, r.frequency, vcPair<long>(r.W, r.H), 0);
        const vcFrequencyBuffer out = vftest::filterConstant(
            pass ? static_cast<const vcFrequencyFilter&>(bandPass) : bandReject, r.W, r.H, twoBuffer);
        EXPECT_EQ(out.masked() + out.maskedMiny() + out.maskedMaxy(), 0);
        vftest::expectFactors(out, [&](long x, long y) { return ringFactor(pass, twoBuffer, r, x, y); });
      }
}

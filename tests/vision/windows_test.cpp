// Windows and the periodic-plus-smooth decomposition: the defining equations
// of the decomposition checked directly (not through its Fourier formula), a
// naive DFT as the oracle for its spectrum, and window identities.
#include "filt/vision/windows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "filt/fft.h"
#include "support/images.h"
#include "vexsys/attention.h"
#include "vision/windows_dft.h"

namespace {

TEST(Windows, ShapesAndIdentities) {
  for (long n : {1L, 2L, 7L, 64L, 101L}) {
    const auto hann = vfHannWindow(n);
    double sum = 0.0;
    for (long i = 0; i < n; ++i) {
      const double v = hann[static_cast<std::size_t>(i)];
      EXPECT_GT(v, 0.0);
      EXPECT_LE(v, 1.0);
      EXPECT_DOUBLE_EQ(v, hann[static_cast<std::size_t>(n - 1 - i)]);
      sum += v;
    }
    // sum of sin^2 at n evenly spaced half-sample phases is n / 2 (n >= 2)
    if (n >= 2) {
      EXPECT_NEAR(sum, n / 2.0, 1e-12);
    }
    EXPECT_EQ(vfTukeyWindow(n, 1.0), hann);
    for (double v : vfTukeyWindow(n, 0.0)) EXPECT_EQ(v, 1.0);
  }
  // Tukey 0.5 of 100 samples: 25 tapered samples at each end, rising, then flat.
  const auto t = vfTukeyWindow(100, 0.5);
  for (int i = 1; i < 25; ++i) EXPECT_LT(t[i - 1], t[i]);
  for (int i = 25; i < 75; ++i) EXPECT_EQ(t[i], 1.0);
}

TEST(Windows, AppliedAsASeparableProduct) {
  vcPelBuffer<double> image(6, 4);
  vfPelSet(image, 2.0);
  vfApplyTukeyWindow(image, 0.6);
  const auto wx = vfTukeyWindow(6, 0.6);
  const auto wy = vfTukeyWindow(4, 0.6);
  for (long y = 0; y < 4; ++y)
    for (long x = 0; x < 6; ++x) EXPECT_DOUBLE_EQ(image.get(x, y), 2.0 * wx[x] * wy[y]);
}

TEST(Windows, BadInputIsRefused) {
  EXPECT_THROW(vfHannWindow(0), std::invalid_argument);
  EXPECT_THROW(vfTukeyWindow(5, 1.5), std::invalid_argument);
  EXPECT_THROW(vfTukeyWindow(5, std::nan("")), std::invalid_argument);
  vcPelBuffer<double> unbound;
  EXPECT_THROW(vfApplyHannWindow(unbound), vcFrequencyDefs::UnboundWindow);
  EXPECT_THROW(vfPeriodicSmoothDecomposition(unbound), vcFrequencyDefs::UnboundWindow);
  EXPECT_THROW(vfSmoothComponentSpectrum(unbound), vcFrequencyDefs::UnboundWindow);
}

// The smooth part s solves the periodic Poisson problem Laplacian(s) = v,
// with v the boundary image (opposite-edge differences on the edges, zero
// inside), and has mean 0; p + s is the image. Sizes cover powers of two,
// odd sizes (Bluestein) and a window of a larger image.
TEST(PeriodicSmooth, SolvesTheBoundaryPoissonProblem) {
  const vcPelBuffer<double> big = vftest::randomImage<double>(40, 30, 255.0, 3);
  const vcPelBuffer<double> window(big, 3, 2, 33, 17);
  for (const vcPelBuffer<double>& u :
       {vftest::randomImage<double>(16, 8, 255.0), window, vftest::randomImage<double>(1, 5, 10.0)}) {
    const vcPeriodicSmooth ps = vfPeriodicSmoothDecomposition(u);
    const long w = u.width();
    const long h = u.height();
    EXPECT_EQ(ps.periodic.offset(), u.offset());
    double mean = 0.0;
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) {
        EXPECT_NEAR(ps.periodic.get(x, y) + ps.smooth.get(x, y), u.get(x, y), 1e-9);
        mean += ps.smooth.get(x, y);
        auto s = [&](long i, long j) { return ps.smooth.get((i + w) % w, (j + h) % h); };
        const double lap = s(x - 1, y) + s(x + 1, y) + s(x, y - 1) + s(x, y + 1) - 4.0 * s(x, y);
        double v = 0.0;
        if (y == 0) v += u.get(x, h - 1) - u.get(x, 0);
        if (y == h - 1) v += u.get(x, 0) - u.get(x, h - 1);
        if (x == 0) v += u.get(w - 1, y) - u.get(0, y);
        if (x == w - 1) v += u.get(0, y) - u.get(w - 1, y);
        EXPECT_NEAR(lap, v, 1e-9) << x << "," << y << " of " << w << "x" << h;
      }
    EXPECT_NEAR(mean, 0.0, 1e-9);
  }
}

TEST(PeriodicSmooth, SpectrumMatchesANaiveDft) {
  const vcPelBuffer<double> u = vftest::randomImage<double>(7, 5, 100.0, 9);
  const auto spectrum = vfSmoothComponentSpectrum(u);
  const vcPeriodicSmooth ps = vfPeriodicSmoothDecomposition(u);
  std::vector<std::complex<double>> s(35);
  for (long y = 0; y < 5; ++y)
    for (long x = 0; x < 7; ++x) s[y * 7 + x] = ps.smooth.get(x, y);
  const auto oracle = vftest::naiveDft(s, 7, 5);
  for (std::size_t i = 0; i < oracle.size(); ++i) EXPECT_LT(std::abs(spectrum[i] - oracle[i]), 1e-9) << i;
}

TEST(PeriodicSmooth, HonoursAbort) {
  const vcPelBuffer<double> u = vftest::randomImage<double>(64, 64, 1.0);
  vsys_fail_poll_after(2, VSYS_ABORTED);
  EXPECT_THROW(vfPeriodicSmoothDecomposition(u), vcAbortRequested);
  vsys_fail_poll_after(0, 0);
}

}  // namespace

namespace {

// The internal transforms against a naive DFT: fast lengths of every radix,
// a prime (Bluestein) and the 2-D column blocks (width above one block).
TEST(DoubleDft, MatchesANaiveDft) {
  for (auto [w, h] :
       {std::pair{30L, 12L}, std::pair{7L, 5L}, std::pair{64L, 9L}, std::pair{130L, 4L}, std::pair{1L, 1L}}) {
    std::vector<std::complex<double>> in(static_cast<std::size_t>(w * h));
    const vcPelBuffer<double> re = vftest::randomImage<double>(w, h, 1.0, 5);
    const vcPelBuffer<double> im = vftest::randomImage<double>(w, h, 1.0, 6);
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) in[static_cast<std::size_t>(y * w + x)] = {re.get(x, y) - 0.5, im.get(x, y) - 0.5};
    const auto oracle = vftest::naiveDft(in, w, h);
    auto out = in;
    vf_vision::vf_Dft2D(out, w, h, false);
    double err = 0.0;
    for (std::size_t i = 0; i < in.size(); ++i) err = std::max(err, std::abs(out[i] - oracle[i]));
    EXPECT_LT(err, 1e-11) << w << "x" << h;
    vf_vision::vf_Dft2D(out, w, h, true);
    for (std::size_t i = 0; i < in.size(); ++i)
      EXPECT_LT(std::abs(out[i] / static_cast<double>(w * h) - in[i]), 1e-13) << w << "x" << h;
  }
  EXPECT_EQ(vf_vision::vf_FastLengthBelow(401), 400);
}

// The real-input transform against the naive DFT of the same image: even
// and odd sizes (an unpaired last row, no Nyquist column), a prime width
// (Bluestein), a single row and column, and more columns than one block.
TEST(DoubleDft, RealInputMatchesANaiveDft) {
  for (auto [w, h] : {std::pair{30L, 12L}, std::pair{7L, 5L}, std::pair{9L, 64L}, std::pair{150L, 3L},
                      std::pair{1L, 6L}, std::pair{5L, 1L}}) {
    const vcPelBuffer<double> re = vftest::randomImage<double>(w, h, 1.0, 8);
    std::vector<double> image(static_cast<std::size_t>(w * h));
    std::vector<std::complex<double>> in(image.size());
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) {
        image[static_cast<std::size_t>(y * w + x)] = re.get(x, y) - 0.5;
        in[static_cast<std::size_t>(y * w + x)] = re.get(x, y) - 0.5;
      }
    const auto oracle = vftest::naiveDft(in, w, h);
    std::vector<std::complex<double>> out;
    vf_vision::vf_RealDft2D(image.data(), w, h, out);
    ASSERT_EQ(out.size(), oracle.size());
    double err = 0.0;
    for (std::size_t i = 0; i < out.size(); ++i) err = std::max(err, std::abs(out[i] - oracle[i]));
    EXPECT_LT(err, 1e-11) << w << "x" << h;
  }
  EXPECT_EQ(vf_vision::vf_FastLengthBelow(389), 384);
}

}  // namespace

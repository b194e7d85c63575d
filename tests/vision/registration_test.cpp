// Image alignment by phase correlation. The oracle is analytic: a test image
// is a sum of Gaussian blobs at arbitrary positions, so a moved copy is the
// same sum with moved blobs -- an exact sub-pixel shift, rotation or scale
// that is not periodic at the image's size.
#include "filt/vision/registration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <thread>
#include <vector>

#include "filt/fft.h"
#include "support/images.h"
#include "vexsys/attention.h"

namespace {

constexpr double kPi = std::numbers::pi;

// The content: many isotropic Gaussian blobs (sigma 1.5 to 3.5 px) of
// random sign scattered over the image and a margin around it, so a dense,
// nearly band-limited spectrum, like a photograph's, with content that
// enters at the edges when it moves.
struct Blob {
  double x, y, sigma, amplitude;
};

std::vector<Blob> blobs(long w, long h, std::uint32_t salt, double density = 1.0 / 40.0) {
  std::vector<Blob> out;
  std::uint32_t s = salt * 2654435761u + 1u;
  auto next = [&]() {
    s = s * 1664525u + 1013904223u;
    return static_cast<double>(s >> 8) / 16777216.0;
  };
  const double margin = 0.6 * static_cast<double>(std::max(w, h));
  const double bw = w + 2 * margin, bh = h + 2 * margin;
  const long count = static_cast<long>(bw * bh * density);
  for (long i = 0; i < count; ++i)
    out.push_back({-margin + bw * next(), -margin + bh * next(), 1.5 + 2.0 * next(), 2.0 * next() - 1.0});
  return out;
}

// moving(p) = base(q) with p = c + scale R(angle) (q - c) + d, c the image
// centre: under a similarity an isotropic blob stays one, its centre moves
// to T(centre) and its sigma scales, so the moved image is exact. Values are
// offset + gain * sum, to fit 8- or 16-bit pixels.
vcPelBuffer<double> render(long w, long h, const std::vector<Blob>& bs, double dx = 0, double dy = 0, double angle = 0,
                           double scale = 1, double offset = 128, double gain = 40) {
  vcPelBuffer<double> image(w, h);
  vfPelSet(image, offset);
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  const double ca = scale * std::cos(angle), sa = scale * std::sin(angle);
  for (const Blob& b : bs) {
    const double px = cx + ca * (b.x - cx) - sa * (b.y - cy) + dx;
    const double py = cy + sa * (b.x - cx) + ca * (b.y - cy) + dy;
    const double sg = b.sigma * scale;
    const long r = static_cast<long>(std::ceil(6.0 * sg));
    const long x0 = std::max(0L, static_cast<long>(std::floor(px)) - r),
               x1 = std::min(w - 1, static_cast<long>(px) + r);
    const long y0 = std::max(0L, static_cast<long>(std::floor(py)) - r),
               y1 = std::min(h - 1, static_cast<long>(py) + r);
    const double k = -0.5 / (sg * sg);
    for (long y = y0; y <= y1; ++y)
      for (long x = x0; x <= x1; ++x)
        image.set(x, y,
                  image.get(x, y) + gain * b.amplitude * std::exp(k * ((x - px) * (x - px) + (y - py) * (y - py))));
  }
  return image;
}

template <class T>
vcPelBuffer<T> quantise(const vcPelBuffer_const<double>& image, double top) {
  vcPelBuffer<T> out(image.width(), image.height());
  for (long y = 0; y < image.height(); ++y)
    for (long x = 0; x < image.width(); ++x)
      out.set(x, y, static_cast<T>(std::lround(std::clamp(image.get(x, y), 0.0, top))));
  return out;
}

bool finite(const vcTranslation& t) {
  return std::isfinite(t.dx) && std::isfinite(t.dy) && std::isfinite(t.confidence) && t.confidence >= 0.0 &&
         t.confidence <= 1.0;
}

// Exact sub-pixel shifts of nearly band-limited content, small to a quarter of the
// size, in both directions; clean images give a few thousandths of a pixel.
TEST(PhaseCorrelation, AnalyticShifts) {
  const auto ws = blobs(256, 192, 1);
  const vcPelBuffer<double> ref = render(256, 192, ws);
  const vcPhaseCorrelator plan(256, 192);
  for (auto [dx, dy] : {std::pair{0.5, 0.0}, std::pair{0.1, -0.1}, std::pair{3.3, -7.8}, std::pair{-20.25, 12.6},
                        std::pair{60.7, 45.2}, std::pair{-63.9, -47.1}}) {
    const vcTranslation t = plan.run(ref, render(256, 192, ws, dx, dy));
    EXPECT_NEAR(t.dx, dx, 0.01) << dx << "," << dy;
    EXPECT_NEAR(t.dy, dy, 0.01) << dx << "," << dy;
    EXPECT_GT(t.confidence, 0.5);
    EXPECT_FALSE(t.ambiguous);
  }
}

// The three pixel types read the same content alike, and every edge
// treatment reaches the shift; the integer mode rounds.
TEST(PhaseCorrelation, PixelTypesAndEdgeTreatments) {
  const auto ws = blobs(128, 128, 2);
  const vcPelBuffer<double> ref = render(128, 128, ws);
  const vcPelBuffer<double> mov = render(128, 128, ws, 4.4, -2.7);
  const vcTranslation t8 = vfPhaseCorrelate(quantise<unsigned char>(ref, 255), quantise<unsigned char>(mov, 255));
  const vcTranslation t16 = vfPhaseCorrelate(quantise<unsigned short>(ref, 255), quantise<unsigned short>(mov, 255));
  EXPECT_EQ(t8.dx, t16.dx);
  EXPECT_EQ(t8.dy, t16.dy);
  EXPECT_NEAR(t8.dx, 4.4, 0.05);
  EXPECT_NEAR(t8.dy, -2.7, 0.05);
  for (vcEdgeTreatment e :
       {vcEdgeTreatment::periodicSmooth, vcEdgeTreatment::hann, vcEdgeTreatment::tukey, vcEdgeTreatment::none}) {
    vcPhaseCorrelationOptions o;
    o.edges = e;
    const vcTranslation t = vfPhaseCorrelate(ref, mov, o);
    EXPECT_NEAR(t.dx, 4.4, 0.05) << static_cast<int>(e);
    EXPECT_NEAR(t.dy, -2.7, 0.05) << static_cast<int>(e);
  }
  vcPhaseCorrelationOptions o;
  o.subPixel = false;
  const vcTranslation t = vfPhaseCorrelate(ref, mov, o);
  EXPECT_EQ(t.dx, 4.0);
  EXPECT_EQ(t.dy, -3.0);
}

// Sizes that are not powers of two (the coarse stage pads, the fine stage
// transforms at the overlap's own size) and images larger than the coarse
// side (averaged down, then refined at full size).
TEST(PhaseCorrelation, OddSizesAndReducedCoarseStage) {
  const auto ws = blobs(256, 256, 3);
  const vcPelBuffer<double> ref = render(150, 97, ws);
  EXPECT_NEAR(vfPhaseCorrelate(ref, render(150, 97, ws, -9.6, 5.15)).dx, -9.6, 0.02);
  vcPhaseCorrelationOptions o;
  o.coarseSide = 64;
  const vcPhaseCorrelator plan(256, 256, o);
  EXPECT_EQ(plan.coarseFactor(), 4);
  const vcTranslation t = plan.run(render(256, 256, ws), render(256, 256, ws, 13.37, -21.9));
  EXPECT_NEAR(t.dx, 13.37, 0.02);
  EXPECT_NEAR(t.dy, -21.9, 0.02);
}

// Regression cases of the peers: a smooth, periodic float image whose
// spectrum is exactly zero almost everywhere (0/0 in a plain
// normalisation); large 16-bit images near the top of the range (squared
// magnitudes beyond single precision); shifts past half the size.
TEST(PhaseCorrelation, PeersFailureCases) {
  {
    // Very smooth content (blobs of sigma 6 to 8): above about 0.3 cycles
    // per pixel the spectrum underflows to exact zeros in single precision.
    auto smooth = blobs(128, 128, 10, 1.0 / 100.0);
    for (Blob& b : smooth) b.sigma = 6.0 + b.sigma - 1.5;
    // Only a few hundred bins carry the content: within a tenth of a pixel
    // (0.06 px measured).
    const vcTranslation t = vfPhaseCorrelate(render(128, 128, smooth), render(128, 128, smooth, 2.5, -1.25));
    ASSERT_TRUE(finite(t));
    EXPECT_NEAR(t.dx, 2.5, 0.1);
    EXPECT_NEAR(t.dy, -1.25, 0.1);
  }
  {
    // A few integer-frequency waves: periodic, all but ten bins exactly
    // zero. Such a spectrum of a few lines repeats itself along many shifts:
    // the answer need not be right, but it is finite.
    auto wavesAt = [](double dx, double dy) {
      vcPelBuffer<double> image(64, 64);
      for (long y = 0; y < 64; ++y)
        for (long x = 0; x < 64; ++x) {
          double v = 0.0;
          for (int i = 1; i <= 5; ++i) v += std::cos(2.0 * kPi * (i * (x - dx) + (6 - i) * (y - dy)) / 64.0 + 0.3 * i);
          image.set(x, y, v);
        }
      return image;
    };
    const vcTranslation t = vfPhaseCorrelate(wavesAt(0, 0), wavesAt(2.5, -1.25));
    EXPECT_TRUE(finite(t));
  }
  {
    const auto ws = blobs(1024, 1024, 4, 1.0 / 200.0);
    const vcPelBuffer<double> ref = render(1024, 1024, ws, 0, 0, 0, 1, 60000.0, 1200.0);
    const vcPelBuffer<double> mov = render(1024, 1024, ws, 5.5, -3.25, 0, 1, 60000.0, 1200.0);
    const vcTranslation t =
        vfPhaseCorrelate(quantise<unsigned short>(ref, 65535), quantise<unsigned short>(mov, 65535));
    ASSERT_TRUE(finite(t));
    EXPECT_NEAR(t.dx, 5.5, 0.02);
    EXPECT_NEAR(t.dy, -3.25, 0.02);
  }
  {
    const auto ws = blobs(128, 128, 5);
    const vcPelBuffer<double> ref = render(128, 128, ws);
    const vcPelBuffer<double> mov = render(128, 128, ws, 80.3, -10.2);
    vcPhaseCorrelationOptions o;
    o.largeShifts = true;
    const vcTranslation far = vfPhaseCorrelate(ref, mov, o);
    EXPECT_NEAR(far.dx, 80.3, 0.05);
    EXPECT_NEAR(far.dy, -10.2, 0.05);
    EXPECT_FALSE(far.ambiguous);
    // By default the answer is the alias within half the size, flagged.
    const vcTranslation near = vfPhaseCorrelate(ref, mov);
    EXPECT_NEAR(near.dx, 80.3 - 128.0, 0.05);
    EXPECT_NEAR(near.dy, -10.2, 0.05);
    EXPECT_TRUE(near.ambiguous);
  }
}

namespace {

// Three circular sub-pixel shifts of `at(dx, dy)` found to within `tolerance`
// by one pass without windows or edge treatment; with `unambiguous` none may
// be flagged.
template <class MakeImage>
void expectCircularShiftsFound(long w, long h, MakeImage at, double tolerance, bool unambiguous = false) {
  vcPhaseCorrelationOptions o;
  o.followingWindow = false;
  o.edges = vcEdgeTreatment::none;
  const vcPhaseCorrelator plan(w, h, o);
  const vcPelBuffer<double> ref = at(0.0, 0.0);
  for (auto [dx, dy] : {std::pair{0.3, -0.4}, std::pair{-0.45, 0.15}, std::pair{0.05, 0.35}}) {
    const vcTranslation t = plan.run(ref, at(dx, dy));
    EXPECT_NEAR(t.dx, dx, tolerance) << dx << "," << dy;
    EXPECT_NEAR(t.dy, dy, tolerance) << dx << "," << dy;
    if (unambiguous) {
      EXPECT_FALSE(t.ambiguous) << dx << "," << dy;
    }
  }
}

}  // namespace

// A periodic image with a dense spectrum (white noise) moved circularly by
// less than half a pixel with an exact Fourier shift: the fine stage sees
// the whole period, and in one pass without windows its cross-power
// spectrum is an exact linear phase, so the maximum it finds is the shift
// itself, to round-off -- but only if every frequency is placed right (rows
// and columns of both signs, the half-plane sums, the Nyquist row and column
// left out). Even and odd sizes.
TEST(PhaseCorrelation, CircularShiftIsExactInOnePass) {
  for (auto [width, height] : {std::pair{32L, 24L}, std::pair{25L, 30L}}) {
    const long w = width, h = height;  // captured by the lambdas below
    const vcPelBuffer<double> noise = vftest::randomImage<double>(w, h, 1.0, 21);
    std::vector<std::complex<double>> g(static_cast<std::size_t>(w * h));
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) g[static_cast<std::size_t>(y * w + x)] = noise.get(x, y);
    const std::vector<std::complex<double>> spectrum = vftest::naiveDft(g, w, h);
    auto signedIndex = [](long k, long n) { return k < (n + 1) / 2 ? k : k - n; };
    // The image moved by (dx, dy): its spectrum times exp(-2 pi i (kx dx / w
    // + ky dy / h)), Nyquist bins dropped so that the result stays real.
    auto moved = [&](double dx, double dy) {
      std::vector<std::complex<double>> c(spectrum.size());
      for (long v = 0; v < h; ++v)
        for (long u = 0; u < w; ++u) {
          if ((w % 2 == 0 && u == w / 2) || (h % 2 == 0 && v == h / 2)) continue;
          const double phase = -2.0 * kPi * (signedIndex(u, w) * dx / w + signedIndex(v, h) * dy / h);
          c[static_cast<std::size_t>(v * w + u)] =
              std::conj(spectrum[static_cast<std::size_t>(v * w + u)] * std::polar(1.0, phase));
        }
      const std::vector<std::complex<double>> back = vftest::naiveDft(c, w, h);  // conj of the inverse
      vcPelBuffer<double> image(w, h);
      for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x)
          image.set(x, y, 100.0 + 40.0 * back[static_cast<std::size_t>(y * w + x)].real() / static_cast<double>(w * h));
      return image;
    };
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    expectCircularShiftsFound(w, h, moved, 1e-6, true);
  }
}

// A sparse spectrum: 60 waves of integer frequencies, moved circularly by
// less than half a pixel. An empty frequency next to a strong one shares its
// neighbourhood's coherence; unless its weight follows its own magnitude,
// its round-off phase counts fully (errors of 0.06 to 0.3 px).
TEST(PhaseCorrelation, SparseSpectrumKeepsRoundOffOut) {
  const long w = 64, h = 48;
  std::uint32_t state = 99;
  auto next = [&]() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 16777216.0;
  };
  struct Wave {
    long kx, ky;
    double amplitude, phase;
  };
  std::vector<Wave> waves;
  for (int i = 0; i < 60; ++i)
    waves.push_back(
        {static_cast<long>(next() * 62.0) - 31, static_cast<long>(next() * 23.0), 1.0 + next(), 2.0 * kPi * next()});
  auto at = [&](double dx, double dy) {
    vcPelBuffer<double> image(w, h);
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) {
        double v = 100.0;
        for (const Wave& q : waves)
          v += q.amplitude *
               std::cos(2.0 * kPi *
                            (static_cast<double>(q.kx) * (x - dx) / w + static_cast<double>(q.ky) * (y - dy) / h) +
                        q.phase);
        image.set(x, y, v);
      }
    return image;
  };
  expectCircularShiftsFound(w, h, at, 0.01);
}

// Without largeShifts every answer lies in (-size/2, size/2] of its axis, a
// shift past half coming back as its alias one size away and flagged; with
// largeShifts as it is. Sizes that are not powers of two (the coarse
// surface is padded, so it does not know shifts modulo the image's size)
// and both signs; shifts just inside half the size stay unflagged.
TEST(PhaseCorrelation, ShiftsPastHalfTheSize) {
  struct Case {
    long w, h;
    double dx, dy;
  };
  for (const Case& c : {Case{200, 120, 120.3, 5.2}, Case{200, 120, -3.4, -70.6}, Case{200, 120, -101.5, 20.25},
                        Case{160, 100, 84.3, -52.6}, Case{200, 120, 97.6, -2.0}, Case{200, 120, 4.0, -58.5}}) {
    const auto ws = blobs(c.w, c.h, 11);
    const vcPelBuffer<double> ref = render(c.w, c.h, ws);
    const vcPelBuffer<double> mov = render(c.w, c.h, ws, c.dx, c.dy);
    const bool past = std::abs(c.dx) > c.w / 2.0 || std::abs(c.dy) > c.h / 2.0;
    auto alias = [](double d, long n) { return d > n / 2.0 ? d - n : (d <= -n / 2.0 ? d + n : d); };
    const vcTranslation t = vfPhaseCorrelate(ref, mov);
    EXPECT_NEAR(t.dx, alias(c.dx, c.w), 0.05) << c.dx << "," << c.dy;
    EXPECT_NEAR(t.dy, alias(c.dy, c.h), 0.05) << c.dx << "," << c.dy;
    EXPECT_GT(t.dx, -c.w / 2.0);
    EXPECT_LE(t.dx, c.w / 2.0);
    EXPECT_GT(t.dy, -c.h / 2.0);
    EXPECT_LE(t.dy, c.h / 2.0);
    EXPECT_EQ(t.ambiguous, past) << c.dx << "," << c.dy;
    vcPhaseCorrelationOptions o;
    o.largeShifts = true;
    const vcTranslation far = vfPhaseCorrelate(ref, mov, o);
    EXPECT_NEAR(far.dx, c.dx, 0.05) << c.dx << "," << c.dy;
    EXPECT_NEAR(far.dy, c.dy, 0.05) << c.dx << "," << c.dy;
    EXPECT_FALSE(far.ambiguous) << c.dx << "," << c.dy;
    vcPhaseCorrelationOptions integer;  // the integer answer obeys the same range
    integer.subPixel = false;
    const vcTranslation whole = vfPhaseCorrelate(ref, mov, integer);
    EXPECT_NEAR(whole.dx, alias(c.dx, c.w), 1.0) << c.dx << "," << c.dy;
    EXPECT_NEAR(whole.dy, alias(c.dy, c.h), 1.0) << c.dx << "," << c.dy;
    EXPECT_GT(whole.dx, -c.w / 2.0);
    EXPECT_LE(whole.dx, c.w / 2.0);
    EXPECT_GT(whole.dy, -c.h / 2.0);
    EXPECT_LE(whole.dy, c.h / 2.0);
  }
}

// Nothing to correlate: flat, dark, saturated images give confidence 0,
// ambiguous, finite numbers, never NaN.
TEST(PhaseCorrelation, FlatImagesAreRefusedWithoutNaN) {
  const auto ws = blobs(64, 64, 6);
  const vcPelBuffer<double> textured = render(64, 64, ws);
  for (double level : {0.0, 77.0, 255.0}) {
    vcPelBuffer<unsigned char> flat(64, 64);
    vfPelSet(flat, static_cast<unsigned char>(level));
    const vcTranslation a = vfPhaseCorrelate(flat, flat);
    EXPECT_TRUE(finite(a));
    EXPECT_EQ(a.confidence, 0.0);
    EXPECT_TRUE(a.ambiguous);
    vcPelBuffer<double> flatD(64, 64);
    vfPelSet(flatD, level);
    const vcTranslation b = vfPhaseCorrelate(textured, flatD);
    EXPECT_TRUE(finite(b));
    EXPECT_EQ(b.confidence, 0.0);
    EXPECT_TRUE(b.ambiguous);
  }
}

TEST(PhaseCorrelation, BadInputThrows) {
  EXPECT_THROW(vcPhaseCorrelator(4, 64), vcFrequencyDefs::InvalidSize);
  EXPECT_THROW(vcPhaseCorrelator(64, 70000), vcFrequencyDefs::InvalidSize);
  vcPhaseCorrelationOptions o;
  o.tukeyAlpha = 2.0;
  EXPECT_THROW(vcPhaseCorrelator(64, 64, o), vcFrequencyDefs::InvalidArgument);
  o = {};
  o.coarseSide = 4096;
  EXPECT_THROW(vcPhaseCorrelator(64, 64, o), vcFrequencyDefs::InvalidArgument);
  o = {};
  o.edges = static_cast<vcEdgeTreatment>(9);
  EXPECT_THROW(vcPhaseCorrelator(64, 64, o), vcFrequencyDefs::InvalidArgument);
  const vcPhaseCorrelator plan(64, 64);
  const vcPelBuffer<double> a(64, 64), wrong(64, 32), unbound;
  EXPECT_THROW(plan.run(a, unbound), vcFrequencyDefs::UnboundWindow);
  EXPECT_THROW(plan.run(a, wrong), vcFrequencyDefs::InvalidSize);
  EXPECT_THROW(vfPhaseCorrelate(unbound, a), vcFrequencyDefs::UnboundWindow);
  EXPECT_THROW(vcSimilarityRegistration(16, 64), vcFrequencyDefs::InvalidSize);
  vcSimilarityOptions so;
  so.minScale = 1.5;
  EXPECT_THROW(vcSimilarityRegistration(64, 64, so), vcFrequencyDefs::InvalidArgument);
}

// Every poll of a run, failed in turn, leaves by the platform's exception,
// as an abort or as a time-out; a later run gives the same answer.
TEST(PhaseCorrelation, AbortAndTimeOutAreHonoured) {
  const auto ws = blobs(96, 80, 7);
  const vcPelBuffer<double> ref = render(96, 80, ws);
  const vcPelBuffer<double> mov = render(96, 80, ws, 2.2, 1.1);
  const vcPhaseCorrelator plan(96, 80);
  const long before = vsys_attention_polls();
  const vcTranslation clean = plan.run(ref, mov);
  const long polls = vsys_attention_polls() - before;
  ASSERT_GT(polls, 3);
  for (long n = 1; n <= polls; ++n) {
    vsys_fail_poll_after(n, n % 2 ? VSYS_ABORTED : VSYS_TIMED_OUT);
    if (n % 2)
      EXPECT_THROW(plan.run(ref, mov), vcAbortRequested) << n;
    else
      EXPECT_THROW(plan.run(ref, mov), vcTimedOut) << n;
  }
  vsys_fail_poll_after(0, 0);
  const vcTranslation again = plan.run(ref, mov);
  EXPECT_EQ(again.dx, clean.dx);
  EXPECT_EQ(again.dy, clean.dy);
}

// One plan, two threads, at once: the same bits as one after the other.
TEST(PhaseCorrelation, ConstRunFromTwoThreads) {
  const auto ws = blobs(128, 128, 8);
  const vcPelBuffer<double> ref = render(128, 128, ws);
  const vcPelBuffer<double> m1 = render(128, 128, ws, 1.7, -3.2);
  const vcPelBuffer<double> m2 = render(128, 128, ws, -6.1, 0.4);
  const vcPhaseCorrelator plan(128, 128);
  const vcTranslation s1 = plan.run(ref, m1), s2 = plan.run(ref, m2);
  vcTranslation t1[4], t2[4];
  std::thread a([&] {
    for (auto& t : t1) t = plan.run(ref, m1);
  });
  std::thread b([&] {
    for (auto& t : t2) t = plan.run(ref, m2);
  });
  a.join();
  b.join();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(t1[i].dx, s1.dx);
    EXPECT_EQ(t1[i].dy, s1.dy);
    EXPECT_EQ(t1[i].confidence, s1.confidence);
    EXPECT_EQ(t2[i].dx, s2.dx);
    EXPECT_EQ(t2[i].dy, s2.dy);
  }
}

// Rotation (both halves of the circle, so the 180 degree ambiguity is
// settled), scale and translation of the analytic content.
TEST(SimilarityRegistration, AnalyticWarps) {
  const auto ws = blobs(256, 256, 9);
  const vcPelBuffer<double> ref = render(256, 256, ws);
  const vcSimilarityRegistration plan(256, 256);
  struct Case {
    double angleDeg, scale, dx, dy;
  };
  for (const Case c : {Case{30.0, 1.2, 3.0, -2.0}, Case{-150.0, 0.85, -4.5, 1.25}, Case{178.0, 1.0, 0.0, 0.0},
                       Case{-5.0, 1.05, 10.0, 6.0}}) {
    const double angle = c.angleDeg * kPi / 180.0;
    const vcSimilarity r = plan.run(ref, render(256, 256, ws, c.dx, c.dy, angle, c.scale));
    EXPECT_NEAR(r.angle * 180.0 / kPi, c.angleDeg, 0.03) << c.angleDeg;
    EXPECT_NEAR(r.scale / c.scale, 1.0, 0.0005) << c.angleDeg;
    EXPECT_NEAR(r.dx, c.dx, 0.05) << c.angleDeg;
    EXPECT_NEAR(r.dy, c.dy, 0.05) << c.angleDeg;
  }
}

// A coarse log-polar grid without its own refinement leaves a residual of
// a good part of a degree; the fit to the shifts of the blocks removes it.
TEST(SimilarityRegistration, BlockFitRemovesACoarseResidual) {
  const auto ws = blobs(256, 256, 12);
  vcSimilarityOptions o;
  o.angles = 32;
  o.radii = 32;
  o.refinements = 0;
  const double angle = 23.3 * kPi / 180.0;
  const vcSimilarity r =
      vcSimilarityRegistration(256, 256, o).run(render(256, 256, ws), render(256, 256, ws, 2.0, -1.0, angle, 1.07));
  EXPECT_NEAR(r.angle * 180.0 / kPi, 23.3, 0.03);
  EXPECT_NEAR(r.scale, 1.07, 0.0005);
}

}  // namespace

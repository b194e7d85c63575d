// Frame plans: tiled results against a direct double-precision convolution
// with the plan's own impulse response (every filter kind, every edge mode,
// seams included), against the whole-buffer transform for frames that fit
// one buffer, jobs on threads, outputs, abort and errors.

#include "filt/vision/frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/images.h"
#include "vexsys/attention.h"
#include "vision/edge_oracle.h"

namespace {

using cd = std::complex<double>;

constexpr vcEdgeMode kModes[] = {vcEdgeMode::eZero, vcEdgeMode::ePeriodic, vcEdgeMode::eReflect, vcEdgeMode::eNearest};

vcPelBuffer<double> smallKernel(long w, long h, std::uint32_t salt) {
  vcPelBuffer<double> k = vftest::randomImage<double>(w, h, 2.0, salt);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) k.set(x, y, k.get(x, y) - 1.0);
  return k;
}

struct NamedFilter {
  const char* name;
  vcFrameFilter filter;
};

// One filter of every kind, narrow enough in space for small tiles.
std::vector<NamedFilter> everyKind() {
  const vcPair<double> sg(0.07, 0.05), pl(0.01, 0.0);
  return {
      {"band-pass", vcFrameFilter::bandPass(0.06, 0.02, 0.2, 0)},
      {"band-pass, DC removed", vcFrameFilter::bandPass(0.08, 0.0, 0.15, 1)},
      {"band-reject", vcFrameFilter::bandReject(0.06, 0.0, 0.3, 1)},
      {"Gabor", vcFrameFilter::gabor(sg, pl, vcRadian(0.6), 0.25, 0)},
      {"Gabor-reject", vcFrameFilter::gaborReject(sg, pl, vcRadian(2.0), 0.2, 1)},
      {"kernel", vcFrameFilter::kernel(smallKernel(5, 4, 9))},
      {"complex kernel", vcFrameFilter::kernel(smallKernel(3, 6, 4), smallKernel(3, 6, 5))},
  };
}

// The frame convolved in double with the plan's impulse response h (all T x
// T of it), the frame extended by the oracle's edge mode.
template <class T>
std::vector<cd> directConvolution(const vcFramePlan& plan, const vcPelBuffer_const<T>& frame) {
  vcPelBuffer<double> hr, hi;
  plan.impulseResponse(hr, hi);
  const long n = plan.tileSize(), c = n / 2, w = frame.width(), h = frame.height();
  // The extended frame over every pixel a sum can reach, from the oracle.
  const long pw = w + n, ph = h + n;
  std::vector<double> ext(static_cast<std::size_t>(pw * ph));
  for (long y = 0; y < ph; ++y)
    for (long x = 0; x < pw; ++x)
      ext[static_cast<std::size_t>(y * pw + x)] =
          static_cast<double>(vftest::extendedPixel<T>(frame, x - c, y - c, plan.edge()));
  std::vector<double> re(static_cast<std::size_t>(w * h)), im(re.size());
  for (long qy = -c; qy < n - c; ++qy)
    for (long qx = -c; qx < n - c; ++qx) {
      const double a = hr.get(c + qx, c + qy), b = hi.get(c + qx, c + qy);
      if (a == 0.0 && b == 0.0) continue;
      for (long y = 0; y < h; ++y) {
        const double* row = ext.data() + (y - qy + c) * pw + (c - qx);
        double* r = re.data() + y * w;
        double* i = im.data() + y * w;
        for (long x = 0; x < w; ++x) {
          r[x] += a * row[x];
          i[x] += b * row[x];
        }
      }
    }
  std::vector<cd> out(re.size());
  for (std::size_t k = 0; k < out.size(); ++k) out[k] = cd(re[k], im[k]);
  return out;
}

template <class T>
double largestPixel(const vcPelBuffer_const<T>& frame) {
  double m = 0;
  for (long y = 0; y < frame.height(); ++y)
    for (long x = 0; x < frame.width(); ++x) m = std::max(m, static_cast<double>(frame.get(x, y)));
  return m;
}

// Largest |tiled - reference| over the frame.
double largestError(const vcPelBuffer<double>& re, const vcPelBuffer<double>& im, const std::vector<cd>& reference) {
  double e = 0;
  for (long y = 0; y < re.height(); ++y)
    for (long x = 0; x < re.width(); ++x)
      e = std::max(e,
                   std::abs(cd(re.get(x, y), im.get(x, y)) - reference[static_cast<std::size_t>(y * re.width() + x)]));
  return e;
}

// Every kind and edge mode on small tiles (many seams, every border case),
// 8-bit, 16-bit and double frames: the error never exceeds the bound.
TEST(FramePlan, MatchesDirectConvolutionWithinTheBoundForEveryKindAndEdge) {
  const vcPelBuffer<unsigned char> frame8 = vftest::randomImage<unsigned char>(71, 45, 255, 11);
  const vcPelBuffer<unsigned short> frame16 = vftest::randomImage<unsigned short>(53, 38, 4095, 12);
  const vcPelBuffer<double> frameD = vftest::randomImage<double>(40, 61, 3.0, 13);
  for (const NamedFilter& f : everyKind())
    for (vcEdgeMode mode : kModes) {
      SCOPED_TRACE(std::string(f.name) + ", edge mode " + std::to_string(static_cast<int>(mode)));
      const vcFramePlan plan8(71, 45, f.filter, mode, 1e-3, 32);
      EXPECT_LE(plan8.errorBound(), 1e-3);
      EXPECT_GT(plan8.jobs().size(), 4u);
      vcPelBuffer<double> re, im;
      plan8.run<unsigned char>(frame8, re, im);
      EXPECT_LE(largestError(re, im, directConvolution<unsigned char>(plan8, frame8)), plan8.pixelErrorBound(0, 255));

      const vcFramePlan plan16(53, 38, f.filter, mode, 1e-4, 64);
      re = im = vcPelBuffer<double>();
      plan16.run<unsigned short>(frame16, re, im);
      EXPECT_LE(largestError(re, im, directConvolution<unsigned short>(plan16, frame16)),
                plan16.pixelErrorBound(0, 4095));

      const vcFramePlan planD(40, 61, f.filter, mode);  // tile chosen by the plan
      re = im = vcPelBuffer<double>();
      planD.run<double>(frameD, re, im);
      EXPECT_LE(largestError(re, im, directConvolution<double>(planD, frameD)), planD.pixelErrorBound(0, 3.0));
    }
}

// A kernel's impulse response is the kernel, centred (a convolution with the
// kernel's centre pixel as origin), and no tail is left.
TEST(FramePlan, KernelResponseIsTheKernelItself) {
  const vcPelBuffer<double> k = smallKernel(5, 4, 2);
  const vcFramePlan plan(300, 200, vcFrameFilter::kernel(k), vcEdgeMode::eZero, 1e-6);
  vcPelBuffer<double> hr, hi;
  plan.impulseResponse(hr, hi);
  const long c = plan.tileSize() / 2;
  for (long y = 0; y < plan.tileSize(); ++y)
    for (long x = 0; x < plan.tileSize(); ++x) {
      const long kx = x - c + 2, ky = y - c + 2;
      const double want = kx >= 0 && kx < 5 && ky >= 0 && ky < 4 ? k.get(kx, ky) : 0.0;
      ASSERT_NEAR(hr.get(x, y), want, 1e-6) << x << "," << y;
      ASSERT_NEAR(hi.get(x, y), 0.0, 1e-6);
    }
  EXPECT_EQ(plan.margin(), 2);
  // A frequency-domain image filter converts to the same kernel.
  vcFrequencyBuffer spectrum;
  vcPelBuffer<double> wrapped(8, 8);
  for (long y = 0; y < 4; ++y)
    for (long x = 0; x < 5; ++x) wrapped.set((x - 2 + 8) % 8, (y - 2 + 8) % 8, k.get(x, y));
  vfForwardFFT<double>(wrapped, spectrum);
  const vcFramePlan fromImage(300, 200, vcFrameFilter::from(vcFrequencyFilterImage(spectrum)), vcEdgeMode::eZero, 1e-6,
                              plan.tileSize());
  vcPelBuffer<double> gr, gi;
  fromImage.impulseResponse(gr, gi);
  EXPECT_TRUE(vftest::samePixels<double>(gr, hr, 1e-6));
}

// For a frame that fits one buffer, zero edges: the tiled result agrees with
// the whole-buffer transform of the same filter built at the padded size.
TEST(FramePlan, AgreesWithTheWholeBufferTransform) {
  const long w = 300, h = 200;
  const vcPelBuffer<unsigned char> frame = vftest::randomImage<unsigned char>(w, h, 255, 21);
  const vcPair<long> padded(512, 256);
  const vcPair<double> sg(0.05, 0.03), pl(0.0, 0.0);
  struct Case {
    vcFrameFilter frame;
    std::unique_ptr<vcFrequencyFilter> whole;
  };
  std::vector<Case> cases;
  cases.push_back({vcFrameFilter::bandPass(0.05, 0.01, 0.2),
                   std::make_unique<vcFrequencyFilterBandPass>(0.05, 0.01, 0.2, padded, 0)});
  cases.push_back({vcFrameFilter::bandReject(0.05, 0.0, 0.25),
                   std::make_unique<vcFrequencyFilterBandReject>(0.05, 0.0, 0.25, padded, 0)});
  cases.push_back({vcFrameFilter::gabor(sg, pl, vcRadian(1.0), 0.3),
                   std::make_unique<vcFrequencyFilterGabor>(sg, pl, vcRadian(1.0), 0.3, padded, 0)});
  cases.push_back({vcFrameFilter::gaborReject(sg, pl, vcRadian(4.0), 0.2),
                   std::make_unique<vcFrequencyFilterGaborReject>(sg, pl, vcRadian(4.0), 0.2, padded, 0)});
  for (const Case& c : cases) {
    const vcFramePlan plan(w, h, c.frame, vcEdgeMode::eZero, 1e-4, 128);
    vcPelBuffer<double> re, im, wre, wim;
    plan.run<unsigned char>(frame, re, im);
    vcFrequencyBuffer spectrum;
    vfForwardFFT<unsigned char>(frame, spectrum);
    c.whole->apply(spectrum);
    vfInverseFFT(spectrum, wre, wim, true);
    double e = 0;
    const long m = plan.margin();
    for (long y = m; y < h - m; ++y)
      for (long x = m; x < w - m; ++x)
        e = std::max(e, std::abs(cd(re.get(x, y), im.get(x, y)) - cd(wre.get(x, y), wim.get(x, y))));
    EXPECT_LE(e, plan.pixelErrorBound(0, 255)) << "kind " << c.frame.kind();
    EXPECT_GT(e, 0.0);
  }
}

// Jobs run on two threads, each with its own workspace, in an interleaved
// order: the same bits as run().
TEST(FramePlan, JobsOnThreadsGiveTheSameBitsAsRun) {
  const long w = 700, h = 390;
  const vcPelBuffer<unsigned short> frame = vftest::randomImage<unsigned short>(w, h, 65535, 31);
  const vcFramePlan plan(w, h, vcFrameFilter::gabor({0.04, 0.04}, {0, 0}, vcRadian(0.3), 0.2), vcEdgeMode::eReflect,
                         1e-4, 128);
  ASSERT_GT(plan.jobs().size(), 8u);
  vcPelBuffer<double> serial;
  plan.run<unsigned short>(frame, serial, vcFramePlan::eMagnitude);
  vcPelBuffer<double> shared(w, h);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 2; ++t)
    threads.emplace_back([&, t] {
      vcFramePlan::Workspace ws;
      const auto& jobs = plan.jobs();
      for (std::size_t i = jobs.size() - 1 - t; i < jobs.size(); i -= 2)  // from the end, alternating
        plan.runJob<unsigned short>(jobs[i], frame, shared, vcFramePlan::eMagnitude, ws);
    });
  for (auto& th : threads) th.join();
  EXPECT_TRUE(vftest::samePixels<double>(serial, shared));
}

// Outputs agree with each other: magnitude = |complex|, the 8/16-bit
// magnitudes are its rounding, the stretch spans the whole frame's range.
TEST(FramePlan, OutputsAgreeAndStretchSpansTheWholeFrame) {
  const long w = 333, h = 170;
  vcPelBuffer<unsigned char> frame = vftest::randomImage<unsigned char>(w, h, 40, 41);
  for (long y = 0; y < h; ++y)  // a bright grating in the right part only
    for (long x = 250; x < w; ++x) frame.set(x, y, static_cast<unsigned char>(128 + 100 * std::cos(0.9 * x)));
  const vcFramePlan plan(w, h, vcFrameFilter::bandPass(0.05, 0.0, 0.14), vcEdgeMode::eNearest, 1e-4, 64);
  vcPelBuffer<double> re, im, mag, real;
  plan.run<unsigned char>(frame, re, im);
  plan.run<unsigned char>(frame, mag, vcFramePlan::eMagnitude);
  plan.run<unsigned char>(frame, real, vcFramePlan::eReal);
  EXPECT_TRUE(vftest::samePixels<double>(real, re));
  double low = 1e300, high = -1e300;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      ASSERT_NEAR(mag.get(x, y), std::hypot(re.get(x, y), im.get(x, y)), 1e-9);
      low = std::min(low, mag.get(x, y));
      high = std::max(high, mag.get(x, y));
    }
  vcPelBuffer<unsigned char> plain, stretched;
  vcPelBuffer<unsigned short> stretched16;
  long calls = 0;
  plan.runMagnitude<unsigned char, unsigned char>(frame, plain, false);
  plan.runMagnitude<unsigned char, unsigned char>(frame, stretched, true, [&](long done, long total) {
    ++calls;
    EXPECT_EQ(total, 2 * static_cast<long>(plan.jobs().size()));
    EXPECT_EQ(done, calls);
  });
  EXPECT_EQ(calls, 2 * static_cast<long>(plan.jobs().size()));
  plan.runMagnitude<unsigned char, unsigned short>(frame, stretched16, true);
  long brightLeft = 0;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const double m = mag.get(x, y);
      ASSERT_NEAR(plain.get(x, y), std::min(255.0, std::round(m)), 1.0);
      ASSERT_NEAR(stretched.get(x, y), (m - low) * 255.0 / (high - low), 1.0) << x << "," << y;
      ASSERT_NEAR(stretched16.get(x, y), (m - low) * 65535.0 / (high - low), 2.0);
      if (x < 200 && stretched.get(x, y) > 128) ++brightLeft;
    }
  EXPECT_EQ(brightLeft, 0);  // stretching per tile would brighten the dim tiles
}

// Frames of extreme shapes: 1 x 1, and 32768 a side (checked on its ends
// against the direct convolution).
TEST(FramePlan, ExtremeFrameShapes) {
  const vcFrameFilter k = vcFrameFilter::kernel(smallKernel(3, 3, 7));
  vcPelBuffer<double> one(1, 1), out;
  one.set(0, 0, 2.0);
  const vcFramePlan tiny(1, 1, k, vcEdgeMode::eNearest);
  tiny.run<double>(one, out);
  double sum = 0;
  const vcPelBuffer<double> kk = smallKernel(3, 3, 7);
  for (long y = 0; y < 3; ++y)
    for (long x = 0; x < 3; ++x) sum += kk.get(x, y);
  EXPECT_NEAR(out.get(0, 0), 2.0 * sum, 1e-5);

  const long w = 32768, h = 3;
  const vcPelBuffer<unsigned char> wide = vftest::randomImage<unsigned char>(w, h, 255, 8);
  const vcFramePlan plan(w, h, k, vcEdgeMode::eReflect);
  vcPelBuffer<double> re, im;
  plan.run<unsigned char>(wide, re, im);
  for (long y = 0; y < h; ++y)
    for (long x : {0L, 1L, 5000L, w - 2, w - 1}) {
      cd want = 0;
      for (long qy = -1; qy <= 1; ++qy)
        for (long qx = -1; qx <= 1; ++qx)
          want += kk.get(qx + 1, qy + 1) *
                  static_cast<double>(vftest::extendedPixel<unsigned char>(wide, x - qx, y - qy, plan.edge()));
      EXPECT_LE(std::abs(cd(re.get(x, y), im.get(x, y)) - want), plan.pixelErrorBound(0, 255));
    }
}

// An abort between tiles: the run leaves by the poll's exception; a bound
// output holds the jobs before it and is untouched elsewhere, an unbound
// output stays unbound.
TEST(FramePlan, AbortLeavesTheDocumentedState) {
  const long w = 200, h = 150;
  const vcPelBuffer<unsigned char> frame = vftest::randomImage<unsigned char>(w, h, 255, 51);
  const vcFramePlan plan(w, h, vcFrameFilter::bandReject(0.05, 0.0, 0.2), vcEdgeMode::ePeriodic, 1e-4, 64);
  vcPelBuffer<double> full;
  plan.run<unsigned char>(frame, full);
  vcPelBuffer<double> bound(w, h), unbound;
  vfPelSet(bound, -7.0);
  const auto abortAfter3 = [](long done, long) {
    if (done == 3) vsys_request_abort();
  };
  EXPECT_THROW(plan.run<unsigned char>(frame, bound, vcFramePlan::eReal, abortAfter3), vcAbortRequested);
  vsys_clear_abort();
  for (const vcFrameJob& job : plan.jobs())
    for (long y = job.output.y; y < job.output.y + job.output.height; ++y)
      for (long x = job.output.x; x < job.output.x + job.output.width; ++x)
        ASSERT_EQ(bound.get(x, y), job.index < 3 ? full.get(x, y) : -7.0) << job.index;
  EXPECT_THROW(plan.run<unsigned char>(frame, unbound, vcFramePlan::eReal, abortAfter3), vcAbortRequested);
  vsys_clear_abort();
  EXPECT_FALSE(unbound.isBound());
  vsys_fail_poll_after(1, VSYS_TIMED_OUT);
  EXPECT_THROW(plan.run<unsigned char>(frame, unbound), vcTimedOut);
}

TEST(FramePlan, RefusesWhatItCannotDoBeforeAllocating) {
  const vcFrameFilter g = vcFrameFilter::gabor({0.05, 0.05}, {0, 0}, vcRadian(0), 0.2);
  EXPECT_THROW(vcFramePlan(0, 10, g), vcFrequencyDefs::InvalidSize);
  EXPECT_THROW(vcFramePlan(10, vcFramePlan::kMaxSide + 1, g), vcFrequencyDefs::InvalidSize);
  EXPECT_THROW(vcFramePlan(LONG_MAX, LONG_MAX, g), vcFrequencyDefs::InvalidSize);
  EXPECT_THROW(vcFramePlan(10, 10, g, vcEdgeMode::eZero, 0.0), vcFrequencyDefs::InvalidArgument);
  EXPECT_THROW(vcFramePlan(10, 10, g, vcEdgeMode::eZero, 1e-4, 48), vcFrequencyDefs::InvalidSize);
  EXPECT_THROW(vcFrameFilter::bandPass(-1.0, 0.0, 0.2), vcFrequencyDefs::InvalidArgument);
  EXPECT_THROW(vcFrameFilter::kernel(vcPelBuffer<double>(2049, 1)), vcFrequencyDefs::InvalidSize);
  EXPECT_THROW(vcFramePlan(10, 10, vcFrameFilter::bandPass(0.05, 0.0, 0.2, 1500)), std::invalid_argument);
  // A response far too long for one buffer: the error names what the largest
  // tile reaches.
  try {
    vcFramePlan(5000, 5000, vcFrameFilter::bandPass(2e-5, 0.0, 0.25), vcEdgeMode::eZero, 1e-6);
    ADD_FAILURE() << "not refused";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("2048 x 2048 tile at tolerance 1e-06"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("reaches"), std::string::npos);
  }
  // A tile too small to resolve the filter is not taken, even for a frame
  // that small: the margin is the filter's extent, not that of a coarse
  // sampling of its response (whose own response is always short).
  const vcFrameFilter ring = vcFrameFilter::bandPass(0.004, 0.0, 0.25);
  const vcFramePlan small(30, 30, ring);
  EXPECT_GE(small.margin(), 30);
  EXPECT_GE(small.core(), 1);
  EXPECT_THROW(vcFramePlan(30, 30, ring, vcEdgeMode::eZero, 1e-4, 32), std::invalid_argument);
  // Inputs, outputs and jobs that do not belong to the plan.
  const vcFramePlan plan(100, 80, g, vcEdgeMode::eZero, 1e-4, 64);
  vcPelBuffer<double> out, wrong(100, 81);
  EXPECT_THROW(plan.run<double>(vcPelBuffer<double>(), out), vcFrequencyDefs::UnboundWindow);
  EXPECT_THROW(plan.run<double>(vcPelBuffer<double>(99, 80), out), vcFrequencyDefs::InvalidSize);
  EXPECT_THROW(plan.run<double>(vcPelBuffer<double>(100, 80), wrong), vcFrequencyDefs::InvalidSize);
  vcPelBuffer<double> same(100, 80), other(100, 80);
  vfPelSet(same, 1.0);
  EXPECT_THROW(plan.run<double>(same, same), std::invalid_argument);
  EXPECT_THROW(plan.run<double>(same, other, other), std::invalid_argument);
  EXPECT_EQ(same.get(50, 40), 1.0);
  vcFrameJob forged = plan.jobs().front();
  forged.output.width += 1000;
  vcFramePlan::Workspace ws;
  vcPelBuffer<double> target(100, 80);
  EXPECT_THROW(plan.runJob<double>(forged, vcPelBuffer<double>(100, 80), target, vcFramePlan::eReal, ws),
               std::invalid_argument);
}

}  // namespace

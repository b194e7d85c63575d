// Forward and inverse transforms through the public API: sizes and layout, pixel
// types, round trips, in-place reuse, stretching and saturation, side outputs,
// offsets and bands. (Refusals: reliability/bad_input_test; polls and aborts:
// reliability/abort_injection_test.)

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <tuple>
#include <utility>
#include <vector>

#include "filt/host_pixels.h"
#include "support/buffer_helpers.h"
#include "support/images.h"
#include "vexsys/attention.h"

namespace {

// Every element of `b` against the naive DFT of the image laid at the top-left of a
// zero array of the buffer's size.
template <class T>
void expectSpectrumOf(const vcFrequencyBuffer& b, const vcPelBuffer_const<T>& image) {
  const long W = b.width(), H = b.height();
  std::vector<std::complex<double>> in(static_cast<std::size_t>(W * H));
  double scale = 1.0;
  for (long y = 0; y < image.height(); ++y)
    for (long x = 0; x < image.width(); ++x) {
      in[static_cast<std::size_t>(y * W + x)] = static_cast<double>(static_cast<float>(image.get(x, y)));
      scale = std::max(scale, std::abs(static_cast<double>(image.get(x, y))));
    }
  const auto out = vftest::naiveDft(in, W, H);
  const double tol = 1e-5 * scale * static_cast<double>(W * H);
  for (long v = 0; v < H; ++v)
    for (long u = 0; u < W; ++u) {
      const std::complex<double> e(b.getReal(u, v, false), b.getImaginary(u, v, false));
      ASSERT_LT(std::abs(e - out[static_cast<std::size_t>(v * W + u)]), tol) << u << "," << v;
    }
}

// A spectrum whose only non-zero element is (0, 0) = (value * W * H, 0).
vcFrequencyBuffer dcSpectrum(long w, long h, double value) {
  vcFrequencyBuffer b(w, h);
  b.put(0, 0, vcPair<double>(value * static_cast<double>(b.width() * b.height()), 0.0), false);
  return b;
}

template <class T>
void expectAll(const vcPelBuffer_const<T>& image, T value) {
  for (long y = 0; y < image.height(); ++y)
    for (long x = 0; x < image.width(); ++x) ASSERT_EQ(image.get(x, y), value) << x << "," << y;
}

}  // namespace

TEST(Forward, LayoutAndSizes) {
  for (auto [w, h, pw, ph] : {std::tuple{3L, 5L, 4L, 8L},
                              {1L, 1L, 1L, 1L},
                              {7L, 1L, 8L, 1L},
                              {1L, 6L, 1L, 8L},
                              {16L, 4L, 16L, 4L},
                              {5L, 9L, 8L, 16L}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    vcPelBuffer<unsigned char> image = vftest::randomImage<unsigned char>(w, h, 255, 3);
    vcFrequencyBuffer b;
    vfForwardFFT(image, b);
    EXPECT_EQ(std::tuple(b.width(), b.height(), b.imageWidth(), b.imageHeight()), std::tuple(pw, ph, w, h));
    double sum = 0;
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) sum += image.get(x, y);
    EXPECT_EQ(b.get(0, 0, false), vcPair<double>(sum, 0.0));
    expectSpectrumOf(b, image);
  }
}

TEST(Forward, OffsetAndStrideDoNotChangeTheArray) {
  vcPelBuffer<unsigned short> parent = vftest::randomImage<unsigned short>(40, 30, 4000, 9);
  vcPelBuffer<unsigned short> window(parent, 5, 7, 20, 11), plain(20, 11);  // window: stride 40+, offset (5, 7)
  for (long y = 0; y < 11; ++y)
    for (long x = 0; x < 20; ++x) plain.set(x, y, window.get(x, y));
  vcFrequencyBuffer fromWindow, fromPlain;
  vfForwardFFT(window, fromWindow);
  vfForwardFFT(plain, fromPlain);
  EXPECT_EQ(std::pair(fromWindow.offset(), fromPlain.offset()), std::pair(vcPair<long>(5, 7), vcPair<long>(0, 0)));
  for (long y = 0; y < 16; ++y)
    for (long x = 0; x < 32; ++x) ASSERT_EQ(fromWindow.get(x, y, false), fromPlain.get(x, y, false));
  // ... and the inverse gives back the window's pixels at the window's place.
  vcPelBuffer<unsigned short> back;
  vfInverseFFT(fromWindow, back, false);
  EXPECT_EQ(back.offset(), vcPair<long>(5, 7));
  EXPECT_TRUE(vftest::samePixels<unsigned short>(back, window));
}

// Pixels in host memory, read through byte steps, give the buffer the image
// gives: interleaved (a channel of a 3-channel frame), unaligned, flipped and
// broadcast layouts, and the image's geometry (offset 0, identity).
template <class T>
void expectHostPixelsLikeImage(T top, int salt) {
  const long w = 13, h = 6;
  const vcPelBuffer<T> image = vftest::randomImage<T>(w, h, top, salt);
  vcFrequencyBuffer expected;
  vfForwardFFT(image, expected);

  const long step = 3 * static_cast<long>(sizeof(T)), rowBytes = w * step + 5;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(h * rowBytes + 1), 0xA5);
  unsigned char* start = bytes.data() + 1;  // misaligned for T
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const T v = image.get(x, y);
      std::memcpy(start + (h - 1 - y) * rowBytes + x * step, &v, sizeof(T));  // stored bottom-up
    }
  vcFrequencyBuffer fromHost;
  const vcPelBuffer<T> parent(20, 20);
  vfForwardFFT(vcPelBuffer<T>(parent, 3, 3, 4, 4), fromHost);  // a buffer with an offset, to be replaced
  vfForwardFFTPixels(reinterpret_cast<const T*>(start + (h - 1) * rowBytes), w, h, -rowBytes, step, fromHost);
  EXPECT_TRUE(fromHost == expected);
  EXPECT_EQ(fromHost.offset(), vcPair<long>(0, 0));

  // Zero steps: every pixel is the one value, so only the zero frequency of the image's area is set.
  const T one = image.get(2, 3);
  vfForwardFFTPixels(&one, w, h, 0, 0, fromHost);
  vcPelBuffer<T> flat(w, h);
  vfPelSet(flat, one);
  vfForwardFFT(flat, expected);
  EXPECT_TRUE(fromHost == expected);
}

TEST(Forward, HostPixelsGiveTheImagesSpectrumBitForBit) {
  expectHostPixelsLikeImage<unsigned char>(255, 21);
  expectHostPixelsLikeImage<unsigned short>(65535, 22);
  expectHostPixelsLikeImage<double>(1000, 23);

  const unsigned char pixel = 1;
  vcFrequencyBuffer b;
  EXPECT_THROW(vfForwardFFTPixels<unsigned char>(nullptr, 4, 4, 4, 1, b), vcFrequencyDefs::InvalidArgument);
  EXPECT_THROW(vfForwardFFTPixels(&pixel, 0, 4, 4, 1, b), vcFrequencyDefs::InvalidArgument);
  EXPECT_THROW(vfForwardFFTPixels(&pixel, 4, -1, 4, 1, b), vcFrequencyDefs::InvalidArgument);
  EXPECT_THROW(vfForwardFFTPixels(&pixel, 2049, 1, 0, 0, b), vcFrequencyDefs::InvalidSize);
}

TEST(Inverse, RoundTripsEveryPixelType) {
  vcPelBuffer<unsigned char> big8 = vftest::randomImage<unsigned char>(70, 40, 255, 11);
  vcPelBuffer<unsigned char> img8(big8, 3, 0, 61, 33);
  vcPelBuffer<unsigned short> img16 = vftest::randomImage<unsigned short>(33, 17, 65535, 12);
  vcPelBuffer<double> imgD = vftest::randomImage<double>(50, 3, 1000.0, 13);
  vcFrequencyBuffer b8, b16, bD;
  vfForwardFFT(img8, b8);
  vfForwardFFT(img16, b16);
  vfForwardFFT(imgD, bD);
  const vcFrequencyBuffer keep8 = b8;

  vcPelBuffer<unsigned char> out8;
  vcPelBuffer<unsigned short> out16;
  vcPelBuffer<double> outD, re, im;
  vfInverseFFT(b8, out8, false);
  vfInverseFFT(b16, out16, false, false);
  vfInverseFFT(bD, outD, false, false);
  EXPECT_EQ(b8, keep8);  // not in place: the spectrum stays
  EXPECT_EQ(out8.offset(), vcPair<long>(3, 0));
  EXPECT_TRUE(vftest::samePixels<unsigned char>(out8, img8));
  EXPECT_TRUE(vftest::samePixels<unsigned short>(out16, img16));
  EXPECT_TRUE(vftest::samePixels<double>(outD, imgD, 1e-3));
  // The double pair gives the real image and a zero imaginary part.
  vfInverseFFT(bD, re, im);
  EXPECT_TRUE(vftest::samePixels<double>(re, imgD, 1e-3));
  EXPECT_TRUE(vftest::samePixels<double>(im, vcPelBuffer<double>(50, 3), 1e-3));
}

TEST(Inverse, InPlaceReuseWithoutTransformingAgain) {
  vcPelBuffer<unsigned char> image = vftest::randomImage<unsigned char>(64, 64, 255, 21);
  vcFrequencyBuffer b;
  vfForwardFFT(image, b);
  vcPelBuffer<unsigned char> out, again;
  vfInverseFFT(b, out, false, true);
  EXPECT_TRUE(vftest::samePixels<unsigned char>(out, image));
  EXPECT_TRUE(b.inverseComputed());

  // A second output re-reads the result: one poll for the pixels, one for the angle
  // image, none for a transform.
  vcPelBuffer<double> magnitudes, angle;
  const long polls = vsys_attention_polls();
  vfInverseFFTAngle(b, magnitudes, angle, false, true);
  EXPECT_EQ(vsys_attention_polls() - polls, 2);
  EXPECT_TRUE((vftest::samePixels<double, unsigned char>(magnitudes, image, 1e-3)));
  for (long y = 0; y < 64; ++y)
    for (long x = 0; x < 64; ++x) ASSERT_LE(std::abs(angle.get(x, y)) * image.get(x, y), 1e-3) << x << "," << y;
  // The const form re-reads too, and never clears the mark.
  vfInverseFFT(std::as_const(b), again, false);
  EXPECT_TRUE(vftest::samePixels<unsigned char>(again, image));
  EXPECT_TRUE(b.inverseComputed());
}

TEST(Inverse, SaturationAndStretch) {
  vcFrequencyBuffer dc = dcSpectrum(16, 8, 300.0);
  vcPelBuffer<unsigned char> u8;
  vcPelBuffer<unsigned short> u16;
  vfInverseFFT(dc, u8, false);
  vfInverseFFT(dc, u16, false);
  expectAll<unsigned char>(u8, 255);
  expectAll<unsigned short>(u16, 300);
  vfInverseFFT(dc, u8, true);
  vfInverseFFT(dc, u16, true);
  expectAll<unsigned char>(u8, 0);
  expectAll<unsigned short>(u16, 0);

  // Stretching maps the darkest pixel to 0 and the brightest to the top.
  vcPelBuffer<unsigned char> image = vftest::randomImage<unsigned char>(20, 10, 40, 8);
  for (long y = 0; y < 10; ++y)
    for (long x = 0; x < 20; ++x) image.set(x, y, std::max<unsigned char>(image.get(x, y), 10));
  image.set(2, 3, 10);
  image.set(4, 5, 50);
  vcFrequencyBuffer b;
  vfForwardFFT(image, b);
  u8 = vcPelBuffer<unsigned char>();  // unbound: takes the result's size
  u16 = vcPelBuffer<unsigned short>();
  vfInverseFFT(b, u8, true);
  vfInverseFFT(b, u16, true);
  EXPECT_EQ(u16.get(4, 5), 65535);
  for (long y = 0; y < 10; ++y)
    for (long x = 0; x < 20; ++x) {
      ASSERT_NEAR(u8.get(x, y), (image.get(x, y) - 10) * 255.0 / 40.0, 0.51) << x << "," << y;
      ASSERT_TRUE(image.get(x, y) != 10 || u8.get(x, y) + u16.get(x, y) == 0) << x << "," << y;
    }
  // Double outputs ignore stretch.
  vcPelBuffer<double> d1, d2;
  vfInverseFFT(b, d1, false);
  vfInverseFFT(b, d2, true);
  EXPECT_TRUE(vftest::samePixels<double>(d1, d2));
}

TEST(Inverse, PixelLoopsRoundTiesToEvenAndWrapStretchedValues) {
  // Elements whose magnitude times k = 1 are the values themselves.
  const float source[] = {2.5f, 0.0f, 3.5f, 0.0f, 0.0f, -255.5f, 300.0f, 0.0f, 0.5f, 0.0f, NAN, 0.0f};
  unsigned char out8[6] = {};
  unsigned short scratch = 0;
  long rows = 1;
  vf_InverseFFTInline4(source, out8, &scratch, 1.0f, 6, 6, 6, &rows);
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(std::vector<int>(out8, out8 + 6), (std::vector<int>{2, 4, 255, 255, 0, 0}));

  // Stretched values are stored without clamping: -1 keeps its low bits.
  unsigned short out16[6] = {};
  unsigned int scratch32 = 0;
  rows = 1;
  vf_InverseFFTInline5(source, out16, &scratch32, 2.0f, 3.0f, 1.0f, 6, 6, 12, &rows);
  EXPECT_EQ(out16[0], 65535);  // (2.5 - 3) * 2 = -1
  EXPECT_EQ(out16[1], 1);
  EXPECT_EQ(out16[4], static_cast<unsigned short>(-5));

  // Double magnitudes and quadrant codes in one pass, two rows with pitches.
  const float two[] = {-1.0f, 0.0f, 0.0f, -1.0f, -0.0f, -0.0f, 3.0f, -4.0f};
  double mags[2][2];
  unsigned char quads[2][8];
  rows = 2;
  vf_InverseFFTInline14(two, &mags[0][0], &quads[0][0], 0.5f, &scratch, 2, 2, 16, 8, &rows);
  EXPECT_EQ(mags[0][0], 0.5);
  EXPECT_EQ(mags[1][1], 2.5);
  EXPECT_EQ((std::vector<int>{quads[0][0], quads[0][1], quads[1][0], quads[1][1]}), (std::vector<int>{1, 2, 0, 2}));
}

TEST(Inverse, AngleAndQuadrantImages) {
  // The side outputs read the array as it is.
  vcFrequencyBuffer b(2, 2);
  b.put(0, 0, vcPair<double>(-1, 0), false);
  b.put(1, 0, vcPair<double>(0, -1), false);
  b.put(0, 1, vcPair<double>(-0.0, -0.0), false);
  b.put(1, 1, vcPair<double>(-2, -2), false);
  vcPelBuffer<double> angle;
  vcPelBuffer<unsigned char> quadrant;
  vf_ComputeAngleImage(b, angle);
  vf_ComputeQuadrantImage(b, quadrant);
  EXPECT_EQ(angle.get(0, 0), std::numbers::pi);
  EXPECT_EQ(angle.get(1, 0), -std::numbers::pi / 2);
  EXPECT_EQ(angle.get(1, 1), -3 * std::numbers::pi / 4);
  EXPECT_EQ((std::vector<int>{quadrant.get(0, 0), quadrant.get(1, 0), quadrant.get(0, 1), quadrant.get(1, 1)}),
            (std::vector<int>{1, 2, 0, 3}));

  // Through an inverse: a negative DC gives code 1 everywhere, angle pi.
  vcFrequencyBuffer neg = dcSpectrum(4, 4, -2.0);
  quadrant = vcPelBuffer<unsigned char>();  // unbound again: takes the result's size
  angle = vcPelBuffer<double>();
  vcPelBuffer<unsigned short> mag;
  vcPelBuffer<double> magD;
  vfInverseFFTQuadrant(neg, mag, quadrant, false);
  expectAll<unsigned char>(quadrant, 1);  // codes of the transformed copy, not of the spectrum
  quadrant = vcPelBuffer<unsigned char>();
  vfInverseFFTQuadrant(neg, magD, quadrant, false);
  expectAll<unsigned short>(mag, 2);
  expectAll<double>(magD, 2.0);
  expectAll<unsigned char>(quadrant, 1);
  vfInverseFFTAngle(neg, magD, angle, false);
  for (long y = 0; y < 4; ++y)
    for (long x = 0; x < 4; ++x) EXPECT_EQ(std::abs(angle.get(x, y)), std::numbers::pi);  // the zero's sign picks +-pi
}

TEST(Inverse, BufferResultsAndBands) {
  // A spectrum with non-zero rows only in the band [3, 5] of the centered frame
  // (stored rows 7, 0 and 1 of 8).
  vcFrequencyBuffer spectrum(8, 8);
  for (long y : {7L, 0L, 1L})
    for (long x = 0; x < 8; ++x) spectrum.put(x, y, vcPair<double>(x - y, 0.5 * x + y), false);
  const vcFrequencyBuffer banded = vftest::withBand(spectrum, 1, 3, 5);
  vcFrequencyBuffer plain, withBand;
  vfInverseFFT(spectrum, plain);
  vfInverseFFT(banded, withBand);
  EXPECT_EQ(withBand.masked(), 0);
  EXPECT_EQ(banded.masked(), 1);  // const source unchanged
  for (long y = 0; y < 8; ++y)
    for (long x = 0; x < 8; ++x) ASSERT_EQ(withBand.get(x, y, false), plain.get(x, y, false));

  // In place into itself: the buffer ends marked, unbanded.
  vcFrequencyBuffer self = banded;
  vfInverseFFT(self, self, true);
  EXPECT_TRUE(self.inverseComputed());
  EXPECT_EQ(self.masked(), 0);
  // In place into another: the source keeps its band and is marked; the result is a
  // spectrum-state copy of the spatial array.
  vcFrequencyBuffer source = banded, result;
  vfInverseFFT(source, result, true);
  EXPECT_TRUE(source.inverseComputed());
  EXPECT_EQ(source.masked(), 1);
  EXPECT_FALSE(result.inverseComputed());
  EXPECT_EQ(result, withBand);
}

namespace {

// Element by element, the bits of the floats (through the exact doubles the getters
// return): a zero's sign and a NaN count.
::testing::AssertionResult sameArrayBits(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b) {
  if (a.width() != b.width() || a.height() != b.height()) return ::testing::AssertionFailure() << "sizes differ";
  for (long y = 0; y < a.height(); ++y)
    for (long x = 0; x < a.width(); ++x) {
      const double v[] = {a.getReal(x, y, false), a.getImaginary(x, y, false), b.getReal(x, y, false),
                          b.getImaginary(x, y, false)};
      for (int k = 0; k < 2; ++k)
        if (std::memcmp(&v[k], &v[k + 2], sizeof(double)) != 0)
          return ::testing::AssertionFailure() << "element " << x << "," << y << ": " << v[k] << " vs " << v[k + 2];
    }
  return ::testing::AssertionSuccess();
}

// Pseudo-random values in [-128, 128) * scale, with exact zeros of both signs among them.
vcFrequencyBuffer noiseBuffer(long w, long h, unsigned salt, double scale = 1.0) {
  vcFrequencyBuffer b(w, h);
  unsigned s = salt;
  const auto next = [&] {
    s = s * 1664525u + 1013904223u;
    const unsigned r = s >> 8;
    return r % 11 == 0 ? 0.0 : r % 11 == 1 ? -0.0 : (static_cast<double>(r) / 65536.0 - 128.0) * scale;
  };
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const double re = next(), im = next();
      b.put(x, y, vcPair<double>(re, im), false);
    }
  return b;
}

}  // namespace

// The out-of-place forms (buffer into another buffer, and an image from a const
// spectrum) read the source's array in the transform's first pass instead of copying
// it first: they must give the bits of copying and transforming in place, into an
// empty result, one of another size and one of the same size holding old values, and
// leave the source as it was. The large sizes take the huge-page temporaries.
TEST(OutOfPlace, SameBitsAsCopyingFirst) {
  for (const auto& [w, h] : {std::pair{1024L, 1024L}, {2048L, 512L}, {16L, 8L}, {8L, 1L}, {1L, 8L}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    const vcFrequencyBuffer source = noiseBuffer(w, h, static_cast<unsigned>(w * 7 + h));
    const vcFrequencyBuffer banded = vftest::withBand(source, 1, h / 4, h / 2);
    for (const vcFrequencyBuffer* in : {&source, &banded}) {
      const vcFrequencyBuffer before = *in;
      vcFrequencyBuffer forwardInPlace = *in, inverseInPlace = *in;
      vfForwardFFT(forwardInPlace, forwardInPlace);
      vfInverseFFT(inverseInPlace, inverseInPlace, false);
      vcFrequencyBuffer empty, otherSize(4, 4), sameSize = noiseBuffer(w, h, 99);
      for (vcFrequencyBuffer* out : {&empty, &otherSize, &sameSize}) {
        vcFrequencyBuffer forward = *out, inverse = *out;
        vfForwardFFT(*in, forward);
        vfInverseFFT(*in, inverse);
        EXPECT_TRUE(sameArrayBits(forward, forwardInPlace));
        EXPECT_TRUE(vftest::sameBuffer(forward, forwardInPlace));
        EXPECT_TRUE(sameArrayBits(inverse, inverseInPlace));
        EXPECT_TRUE(vftest::sameBuffer(inverse, inverseInPlace));
      }
      // An 8-bit image from the const spectrum against one from an in-place inverse;
      // the scale brings the pixels to about 0 ... 255.
      const vcFrequencyBuffer scaled =
          vftest::withBand(noiseBuffer(w, h, 5, std::sqrt(static_cast<double>(w * h))), in == &banded, h / 4, h / 2);
      vcFrequencyBuffer copy = scaled;
      vcPelBuffer<unsigned char> fromConst, fromCopy;
      vfInverseFFT<unsigned char>(static_cast<const vcFrequencyBuffer&>(scaled), fromConst, false);
      vfInverseFFT<unsigned char>(copy, fromCopy, false, true);
      ASSERT_EQ(fromConst.width(), fromCopy.width());
      for (long y = 0; y < fromCopy.height(); ++y)
        for (long x = 0; x < fromCopy.width(); ++x) ASSERT_EQ(fromConst.get(x, y), fromCopy.get(x, y)) << x << "," << y;
      EXPECT_FALSE(scaled.inverseComputed());
      EXPECT_TRUE(sameArrayBits(*in, before));
    }
  }
}

// The image filter: multiplying by a kernel's spectrum is circular
// convolution with the kernel; the filter owns a copy of its spectrum and
// refuses what it cannot multiply.

#include <gtest/gtest.h>

#include <memory>

#include "freqfilt/filter_support.h"
#include "support/buffer_helpers.h"

namespace {
using Defs = vcFrequencyDefs;
const char* const kBufferEmpty = "FrequencyBuffer has not been initialized";
const char* const kInverse = "Cannot access frequency data once inverse has been computed.";
}  // namespace

// Against a direct circular convolution of a 16 x 8 image with a 3 x 3
// kernel centred on the origin (taps at offsets -1 wrap to the far edges).
TEST(ImageFilter, KernelSpectrumGivesCircularConvolution) {
  const long w = 16, h = 8;
  const vcPelBuffer<double> image = vftest::randomImage<double>(w, h, 100.0, 4);
  const vcPelBuffer<double> taps = vftest::randomImage<double>(3, 3, 1.0, 5);
  vcPelBuffer<double> kernel(w, h);
  vfPelSet<double>(kernel, 0.0);
  for (long j = -1; j <= 1; ++j)
    for (long i = -1; i <= 1; ++i) kernel.set((i + w) % w, (j + h) % h, taps.get(i + 1, j + 1));

  vcFrequencyBuffer spectrum, kernelSpectrum;
  vfForwardFFT<double>(image, spectrum);
  vfForwardFFT<double>(kernel, kernelSpectrum);
  vcFrequencyFilterImage(kernelSpectrum).apply(spectrum);
  vcPelBuffer<double> re, im;
  vfInverseFFT(spectrum, re, im);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      double want = 0.0;
      for (long j = -1; j <= 1; ++j)
        for (long i = -1; i <= 1; ++i) want += taps.get(i + 1, j + 1) * image.get((x - i + w) % w, (y - j + h) % h);
      EXPECT_NEAR(re.get(x, y), want, 1e-4 * (1.0 + std::fabs(want))) << x << ", " << y;
      EXPECT_NEAR(im.get(x, y), 0.0, 1e-4);
    }
}

// Products with a spectrum that carries a row band: the result's band is
// cleared, and the caller's later changes to the spectrum do not reach the
// filter.
TEST(ImageFilter, MultipliesByItsOwnCopyOfTheSpectrum) {
  vcFrequencyBuffer coefficients(32, 16);
  vcFrequencyFilterGabor({0.01, 0.01}, {0, 0}, vcRadian(0), 0.2, {32, 16}, 0).apply(coefficients);
  for (long y = 0; y < 16; ++y)
    for (long x = 0; x < 32; ++x) coefficients.put(x, y, vcPair<double>(3, 1), false);
  const vcFrequencyFilterImage f(coefficients);
  coefficients.put(0, 0, vcPair<double>(9, 9), false);
  vcFrequencyBuffer want(32, 16);  // (1 - 2i)(3 + i) everywhere, no band
  for (long y = 0; y < 16; ++y)
    for (long x = 0; x < 32; ++x) want.put(x, y, vcPair<double>(5, -5), false);
  EXPECT_TRUE(vftest::filterConstant(f, 32, 16, false) == want);
  EXPECT_TRUE(vftest::filterConstant(f, 32, 16, true) == want);
}

TEST(ImageFilter, RefusalsChangeNothing) {
  vcFrequencyFilterImage empty;
  EXPECT_VF_ERROR(empty.supportWidth(), Defs::Uninitialized, kBufferEmpty);
  EXPECT_VF_ERROR(vcFrequencyFilterImage{vcFrequencyBuffer()}, Defs::Uninitialized, kBufferEmpty);
  vcFrequencyBuffer b = vftest::randomSpectrum(64, 32, 7), none;
  EXPECT_VF_ERROR(empty.apply(none), Defs::Uninitialized, kBufferEmpty);
  EXPECT_VF_ERROR(empty.apply(b), Defs::Uninitialized, kBufferEmpty);
  EXPECT_TRUE(vcFrequencyFilterImage() == empty);

  vcFrequencyFilterImage f(vftest::randomSpectrum(64, 32, 8));
  const vcFrequencyFilterImage before = f;
  vcFrequencyBuffer tall = vftest::randomSpectrum(64, 64, 9);
  const vcFrequencyBuffer tallBefore = tall;
  EXPECT_VF_ERROR(f.apply(tall), Defs::InvalidSize, "Size of frequency buffer does not match size of filter.");
  EXPECT_TRUE(tall == tallBefore);
  f.changeTracking(true);
  EXPECT_VF_ERROR(f.setImage(none), Defs::Uninitialized, kBufferEmpty);
  EXPECT_TRUE(f == before);
  EXPECT_EQ(f.changeCount(), 0u);
  f.setImage(b);
  EXPECT_EQ(f.changeCount(), 1u);
  std::unique_ptr<vcFrequencyFilter> copy(f.clone());
  EXPECT_TRUE(dynamic_cast<vcFrequencyFilterImage&>(*copy) == f);

  // A source holding an in-place inverse is refused (the two-buffer form has
  // assigned it to the target by then); as the filter's spectrum it is accepted but
  // cannot multiply.
  vcFrequencyBuffer inverse = vftest::inverseComputedBuffer(64, 32), target;
  EXPECT_VF_ERROR(f.apply(inverse), Defs::InvalidBuffer, kInverse);
  EXPECT_VF_ERROR(f.apply(inverse, target), Defs::InvalidBuffer, kInverse);
  f.setImage(inverse);
  EXPECT_VF_ERROR(f.apply(b), Defs::InvalidBuffer, kInverse);
}

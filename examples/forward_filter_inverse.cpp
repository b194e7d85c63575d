// The basic road: an 8-bit image to its spectrum, a band-pass filter built
// for the spectrum's size, the inverse back to an 8-bit image. The image is a
// grating buried in noise; the filter keeps the grating's frequency and the
// result is checked to be closer to the clean grating than the input was.
//
//   forward-filter-inverse

#include <filt/freqfilt.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>

namespace {

constexpr long kWidth = 200, kHeight = 120;  // padded to 256 x 128
constexpr double kFrequency = 0.1;           // cycles per pixel: a 10-pixel period

double grating(long x) {
  return std::cos(2.0 * std::numbers::pi * kFrequency * static_cast<double>(x));
}

// Root-mean-square difference between an image and the clean grating around
// grey 128 with amplitude `a`.
double distanceToGrating(const vcPelBuffer_const<unsigned char>& image, double a) {
  double sum = 0.0;
  for (long y = 0; y < image.height(); ++y)
    for (long x = 0; x < image.width(); ++x) {
      const double d = image.get(x, y) - (128.0 + a * grating(x));
      sum += d * d;
    }
  return std::sqrt(sum / static_cast<double>(image.width() * image.height()));
}

}  // namespace

int main() {
  try {
    // 1. An image: the grating plus strong noise.
    vcPelBuffer<unsigned char> image(kWidth, kHeight);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 25.0);
    for (long y = 0; y < kHeight; ++y)
      for (long x = 0; x < kWidth; ++x)
        image.set(x, y, static_cast<unsigned char>(std::clamp(128.0 + 40.0 * grating(x) + noise(random), 0.0, 255.0)));

    // 2. Its spectrum: unscaled, zero frequency at element (0, 0), padded.
    vcFrequencyBuffer spectrum;
    vfForwardFFT<unsigned char>(image, spectrum);
    std::printf("spectrum of a %ldx%ld image: %ldx%ld\n", image.width(), image.height(), spectrum.width(),
                spectrum.height());

    // 3. A filter for spectra of that padded size: a ring at the grating's
    //    frequency with a flat top of 0.01 and a Gaussian fall-off of 0.01
    //    (cycles per pixel). It removes the mean too: the result is the
    //    grating alone, around 0.
    const vcFrequencyFilterBandPass bandPass(0.01, 0.01, kFrequency, vcPair<long>(spectrum.width(), spectrum.height()),
                                             0);
    bandPass.apply(spectrum);  // in place: keeps the image's size and offset

    // 4. Back to an image: the real part as doubles (the magnitude, which the
    //    8-bit inverse gives, would fold the signed grating), shifted back to
    //    grey 128.
    vcPelBuffer<double> real, imaginary;
    vfInverseFFT(spectrum, real, imaginary, false);
    vcPelBuffer<unsigned char> filtered(real.width(), real.height());
    for (long y = 0; y < real.height(); ++y)
      for (long x = 0; x < real.width(); ++x)
        filtered.set(x, y, static_cast<unsigned char>(std::clamp(128.0 + real.get(x, y), 0.0, 255.0)));

    const double before = distanceToGrating(image, 40.0), after = distanceToGrating(filtered, 40.0);
    std::printf("distance to the clean grating: %.1f grey levels before, %.1f after\n", before, after);
    return after < before / 2.0 ? 0 : 1;
  } catch (const vcException& e) {
    std::fprintf(stderr, "forward-filter-inverse: %s\n", e.what());
    return 2;
  }
}

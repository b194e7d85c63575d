// Spectrum images: one quantity of every element of a buffer's array as a
// double image of the padded size, in stored order or quadrant-swapped.

#include <cmath>

#include "fft/buffer_access.h"
#include "fft/messages.h"
#include "loops/pixel_rows.h"

namespace {

// The quantities, each of one element's two floats widened to double, over
// a run of n elements into n consecutive pixels. None is scaled.
void realParts(const float* e, double* d, long n) {
  for (long x = 0; x < n; ++x) d[x] = static_cast<double>(e[2 * x]);
}
void imaginaryParts(const float* e, double* d, long n) {
  for (long x = 0; x < n; ++x) d[x] = static_cast<double>(e[2 * x + 1]);
}
// |e| is the inverse pixel loops' magnitude with a factor of 1, which
// changes no value: their row kernel, vectorised where the CPU allows.
void magnitudes(const float* e, double* d, long n) {
  vf_PixelRows(vf_BestEngineLevel()).magnitudes(e, d, n, 1.0);
}
// The platform folds the angle into [0, 2*pi).
void phases(const float* e, double* d, long n) {
  for (long x = 0; x < n; ++x)
    d[x] = vcRadian(std::atan2(static_cast<double>(e[2 * x + 1]), static_cast<double>(e[2 * x]))).norm().value();
}

using Quantity = void (*)(const float* e, double* d, long n);

// Centered: element (x, y) goes to pixel ((x + W/2) mod W, (y + H/2) mod H),
// which puts the zero frequency at (W/2, H/2) and leaves a size-1 direction
// where it is (its shift is 0). A row goes in two runs: the elements that
// land right of the shift, then those that wrap round to the left.
vcPelBuffer<double> spectrumImage(const vcFrequencyBuffer& b, bool centered, Quantity quantity) {
  if (b.isEmpty()) throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
  if (b.inverseComputed()) throw vcFrequencyDefs::InvalidBuffer(vf_msg::kInverseComputed);
  const long width = b.width(), height = b.height();
  const long shiftX = centered ? width / 2 : 0, shiftY = centered ? height / 2 : 0;

  // The buffer's offset and transform describe the image that filled it, not
  // this frequency plane, so the new image keeps the constructor's.
  vcPelBuffer<double> image(width, height, 32);
  const long stride = image.rep().rowStride();
  const float* element = vc_FrequencyBufferAccess::data(b);
  for (long y = 0; y < height; ++y, element += 2 * width) {
    double* row = image.pointToOffset() + stride * ((y + shiftY) % height);
    quantity(element, row + shiftX, width - shiftX);
    quantity(element + 2 * (width - shiftX), row, shiftX);
  }
  return image;
}

}  // namespace

vcPelBuffer<double> vcFrequencyBuffer::getRealImage(bool centered) const {
  return spectrumImage(*this, centered, realParts);
}

vcPelBuffer<double> vcFrequencyBuffer::getImaginaryImage(bool centered) const {
  return spectrumImage(*this, centered, imaginaryParts);
}

vcPelBuffer<double> vcFrequencyBuffer::getMagnitudeImage(bool centered) const {
  return spectrumImage(*this, centered, magnitudes);
}

vcPelBuffer<double> vcFrequencyBuffer::getPhaseImage(bool centered) const {
  return spectrumImage(*this, centered, phases);
}

// Spectrum images: one quantity of every element of a buffer's array as a
// double image of the padded size, in stored order or quadrant-swapped.

#include <cmath>

#include "fft/buffer_access.h"
#include "fft/messages.h"

namespace {

// The quantities, each of one element's two floats widened to double. None
// is scaled.
struct RealPart {
  double operator()(double re, double) const { return re; }
};
struct ImaginaryPart {
  double operator()(double, double im) const { return im; }
};
struct Magnitude {
  double operator()(double re, double im) const { return std::sqrt(re * re + im * im); }
};
// The platform folds the angle into [0, 2*pi).
struct Phase {
  double operator()(double re, double im) const { return vcRadian(std::atan2(im, re)).norm().value(); }
};

// Centered: element (x, y) goes to pixel ((x + W/2) mod W, (y + H/2) mod H),
// which puts the zero frequency at (W/2, H/2) and leaves a size-1 direction
// where it is (its shift is 0).
template <class Quantity>
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
  for (long y = 0; y < height; ++y) {
    double* row = image.pointToOffset() + stride * ((y + shiftY) % height);
    for (long x = 0; x < width; ++x, element += 2)
      row[(x + shiftX) % width] = quantity(static_cast<double>(element[0]), static_cast<double>(element[1]));
  }
  return image;
}

}  // namespace

vcPelBuffer<double> vcFrequencyBuffer::getRealImage(bool centered) const {
  return spectrumImage(*this, centered, RealPart{});
}

vcPelBuffer<double> vcFrequencyBuffer::getImaginaryImage(bool centered) const {
  return spectrumImage(*this, centered, ImaginaryPart{});
}

vcPelBuffer<double> vcFrequencyBuffer::getMagnitudeImage(bool centered) const {
  return spectrumImage(*this, centered, Magnitude{});
}

vcPelBuffer<double> vcFrequencyBuffer::getPhaseImage(bool centered) const {
  return spectrumImage(*this, centered, Phase{});
}

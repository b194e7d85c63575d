// Pieces shared by the translation and the similarity registration.
// Internal: not exported.
#pragma once

#include <complex>
#include <vector>

#include "vexstd/vexstd.h"

namespace vf_vision {

// A new contiguous double copy of an image (same size, offset (0, 0)).
template <class T>
vcPelBuffer<double> vf_ToDouble(const vcPelBuffer_const<T>& image) {
  vcPelBuffer<double> out(image.width(), image.height());
  for (long y = 0; y < image.height(); ++y) {
    const T* src = image.pointToOffset() + y * image.rep().rowStride();
    double* dst = out.pointToOffset() + y * out.rep().rowStride();
    for (long x = 0; x < image.width(); ++x) dst[x] = static_cast<double>(src[x]);
  }
  return out;
}

// Checks shared by the run methods: both images bound (UnboundWindow) and
// of the plan's size (InvalidSize).
void vf_CheckPair(const vc_PelBuffer& reference, const vc_PelBuffer& moving, long width, long height);

// Bicubic (Keys, a = -1/2) sample of an image at (x, y); `inside` tells
// whether the point lies within the image (samples outside clamp to the
// border).
double vf_SampleBicubic(const vcPelBuffer_const<double>& image, double x, double y, bool& inside);

}  // namespace vf_vision

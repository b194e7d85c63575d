// The inverse transforms' side outputs: the angle and the quadrant code of
// each element of a buffer's array, as images.

#include <cmath>

#include "fft/inverse_support.h"
#include "fft/messages.h"
#include "loops/pixel_math.h"
#include "vexsys/attention.h"

namespace {

template <class T, class F>
vf_inverse::OutputImage<T> sideImage(const vcFrequencyBuffer& b, const float* data, vcPelBuffer<T>& caller, F pixel) {
  if (data == nullptr) throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
  vfThrowExceptionOnFailure(vsys_attention_check());
  vf_inverse::OutputImage<T> out(caller, b);
  vcPelBuffer<T>& image = out.receiving();
  const long width = b.width(), columns = image.width(), stride = image.rep().rowStride();
  T* row = image.pointToOffset();
  for (long y = 0; y < image.height(); ++y, row += stride, data += 2 * width)
    for (long x = 0; x < columns; ++x) row[x] = pixel(data + 2 * x);
  out.shift(b);
  return out;
}

}  // namespace

vf_inverse::OutputImage<double> vf_inverse::angleImage(const vcFrequencyBuffer& b, const float* data,
                                                       vcPelBuffer<double>& caller) {
  return sideImage(b, data, caller,
                   [](const float* e) { return std::atan2(static_cast<double>(e[1]), static_cast<double>(e[0])); });
}

vf_inverse::OutputImage<unsigned char> vf_inverse::quadrantImage(const vcFrequencyBuffer& b, const float* data,
                                                                 vcPelBuffer<unsigned char>& caller) {
  return sideImage(b, data, caller, [](const float* e) { return vf_pixel::quadrantCode(e); });
}

void vf_ComputeAngleImage(const vcFrequencyBuffer& buffer, vcPelBuffer<double>& angle) {
  vf_inverse::angleImage(buffer, vc_FrequencyBufferAccess::data(buffer), angle).commit();
}

void vf_ComputeQuadrantImage(const vcFrequencyBuffer& buffer, vcPelBuffer<unsigned char>& quadrant) {
  vf_inverse::quadrantImage(buffer, vc_FrequencyBufferAccess::data(buffer), quadrant).commit();
}

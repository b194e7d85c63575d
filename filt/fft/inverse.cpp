// Inverse transforms: a spectrum back to a raw complex array, to real and
// imaginary double images, or to a magnitude image with an angle or quadrant
// image beside it.

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "fft/engine/engine.h"
#include "fft/engine/large_array.h"
#include "fft/inverse_support.h"
#include "fft/messages.h"
#include "loops/pixel_rows.h"
#include "vexsys/attention.h"

namespace {

using Access = vc_FrequencyBufferAccess;
using vf_inverse::OutputImage;

void requireData(const vcFrequencyBuffer& b) {
  if (Access::data(b) == nullptr) throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
}

// The inverse engine run over `array`, skipping the rows outside the band of
// a masked `source`; with `from`, over a copy of `from` made into `array` (the
// engine's first pass reads from it: no separate copy pass).
void inverseTransform(const vcFrequencyBuffer& source, float* array, const float* from = nullptr) {
  const bool banded = source.masked() != 0;
  const long bandMin = banded ? source.maskedMiny() : 0, bandMax = banded ? source.maskedMaxy() : source.height();
  if (from != nullptr)
    vf_ComplexFFT2DFrom(from, array, source.width(), source.height(), -1, bandMin, bandMax);
  else
    vf_ComplexFFT2D(array, source.width(), source.height(), -1, bandMin, bandMax);
}

// Marks a buffer as holding its inverse; never writes a buffer that already
// says so (the const entry points may pass such a buffer).
void markInverse(vcFrequencyBuffer& b) {
  if (!b.inverseComputed()) Access::setInverseComputed(b, true);
}

// The array an image inverse reads: the buffer's own when it already holds
// its inverse or when working in place (the buffer is then marked at once),
// otherwise a transformed copy of the array that lives as long as this
// object. The copy is a bare array, written once by the transform's first
// pass rather than zero-filled first, in huge pages where it is large
// (large_array.h).
class SpatialResult {
 public:
  SpatialResult(vcFrequencyBuffer& source, bool inPlace) : buffer_(source) {
    requireData(source);
    data_ = Access::data(source);
    if (source.inverseComputed()) return;
    if (inPlace) {
      inverseTransform(source, data_);
      markInverse(source);
      return;
    }
    const std::size_t count = 2 * static_cast<std::size_t>(source.width()) * static_cast<std::size_t>(source.height());
    copy_.emplace(count);
    inverseTransform(source, copy_->data(), data_);
    data_ = copy_->data();
  }
  // The buffer whose geometry the outputs take (the source itself).
  const vcFrequencyBuffer& buffer() const { return buffer_; }
  const float* data() const { return data_; }

 private:
  const vcFrequencyBuffer& buffer_;
  std::optional<vc_LargeFloats> copy_;
  float* data_;
};

// The range of the magnitudes over the image part of the array, for
// stretching: low = min |e| * k, and the scale that maps low..high onto 0..M.
struct Stretch {
  float scale, low;
};

Stretch stretchOver(const vcFrequencyBuffer& b, const float* data, double k, double M) {
  double smallest = static_cast<double>(1e20f), largest = static_cast<double>(-1e20f);
  const long width = b.width(), columns = vf_inverse::outputWidth(b), rows = vf_inverse::outputHeight(b);
  const vc_PixelRows kernels = vf_PixelRows(vf_BestEngineLevel());
  for (long y = 0; y < rows; ++y) kernels.squaredRange(data + 2 * width * y, columns, smallest, largest);
  const double low = std::sqrt(smallest) * k, high = std::sqrt(largest) * k;
  const double scale = low == high ? M : M / (high - low);
  return {static_cast<float>(scale), static_cast<float>(low)};
}

// Magnitude pixels of the three output types through their loops.
void writeMagnitudes(const vcFrequencyBuffer& b, const float* data, vcPelBuffer<unsigned char>& image, bool stretch) {
  const double k = vf_inverse::scaleFactor(b);
  long rows = image.height();
  unsigned short scratch = 0;
  if (rows == 0 || image.width() == 0) return;
  if (stretch) {
    const Stretch s = stretchOver(b, data, k, 255.0);
    vf_InverseFFTInline2(data, image.pointToOffset(), &scratch, s.scale, s.low, static_cast<float>(k), b.width(),
                         image.width(), vf_inverse::pitchBytes(image), &rows);
  } else {
    vf_InverseFFTInline4(data, image.pointToOffset(), &scratch, static_cast<float>(k), b.width(), image.width(),
                         vf_inverse::pitchBytes(image), &rows);
  }
}

void writeMagnitudes(const vcFrequencyBuffer& b, const float* data, vcPelBuffer<unsigned short>& image, bool stretch) {
  const double k = vf_inverse::scaleFactor(b);
  long rows = image.height();
  unsigned int scratch = 0;
  if (rows == 0 || image.width() == 0) return;
  if (stretch) {
    const Stretch s = stretchOver(b, data, k, 65535.0);
    vf_InverseFFTInline5(data, image.pointToOffset(), &scratch, s.scale, s.low, static_cast<float>(k), b.width(),
                         image.width(), vf_inverse::pitchBytes(image), &rows);
  } else {
    vf_InverseFFTInline6(data, image.pointToOffset(), &scratch, static_cast<float>(k), b.width(), image.width(),
                         vf_inverse::pitchBytes(image), &rows);
  }
}

void writeMagnitudes(const vcFrequencyBuffer& b, const float* data, vcPelBuffer<double>& image, bool) {
  long rows = image.height();
  if (rows == 0 || image.width() == 0) return;
  vf_InverseFFTInline7(data, image.pointToOffset(), image.width(), static_cast<float>(vf_inverse::scaleFactor(b)),
                       b.width(), vf_inverse::pitchBytes(image), &rows);
}

// Magnitude image with an optional angle image (8- and 16-bit and double).
template <class T>
void inverseWithAngle(vcFrequencyBuffer& source, vcPelBuffer<T>& image, vcPelBuffer<double>* angle, bool stretch,
                      bool inPlace) {
  SpatialResult spatial(source, inPlace);
  const vcFrequencyBuffer& b = spatial.buffer();
  OutputImage<T> out(image, b);
  vfThrowExceptionOnFailure(vsys_attention_check());
  writeMagnitudes(b, spatial.data(), out.receiving(), stretch);
  if (angle == nullptr) {
    out.finish(b);
    return;
  }
  // Both outputs are shifted (the last polls) before either bound caller
  // image is written: an abort leaves bound caller images untouched.
  OutputImage<double> side = vf_inverse::angleImage(b, spatial.data(), *angle);
  out.shift(b);
  side.commit();
  out.commit();
}

// Magnitude image with the quadrant image (8- and 16-bit).
template <class T>
void inverseWithQuadrant(vcFrequencyBuffer& source, vcPelBuffer<T>& image, vcPelBuffer<unsigned char>& quadrant,
                         bool stretch, bool inPlace) {
  SpatialResult spatial(source, inPlace);
  const vcFrequencyBuffer& b = spatial.buffer();
  OutputImage<T> out(image, b);
  vfThrowExceptionOnFailure(vsys_attention_check());
  writeMagnitudes(b, spatial.data(), out.receiving(), stretch);
  OutputImage<unsigned char> side = vf_inverse::quadrantImage(b, spatial.data(), quadrant);
  out.shift(b);  // as above: every poll before any bound caller image is written
  side.commit();
  out.commit();
}

}  // namespace

// ---- buffer to buffer ----

void vfInverseFFT(vcFrequencyBuffer& source, vcFrequencyBuffer& result, bool inPlace) {
  requireData(source);
  const bool mark = source.inverseComputed() || inPlace;
  if (!source.inverseComputed()) {
    if (inPlace) {
      inverseTransform(source, Access::data(source));
      markInverse(source);
    } else if (&result != &source) {
      // The transform reads the source's array (no copy pass first).
      Access::copyAllButArray(result, source);
      inverseTransform(source, Access::data(result), Access::data(source));
    } else {
      inverseTransform(source, Access::data(result));
    }
  }
  if (mark) result = source;
  Access::setInverseComputed(result, false);
  Access::setBand(result, 0, result.maskedMiny(), result.maskedMaxy());
  if (mark) markInverse(source);
}

void vfInverseFFT(const vcFrequencyBuffer& source, vcFrequencyBuffer& result) {
  vfInverseFFT(const_cast<vcFrequencyBuffer&>(source), result, false);
}

// ---- buffer to a pair of double images ----

void vfInverseFFT(vcFrequencyBuffer& source, vcPelBuffer<double>& real, vcPelBuffer<double>& imaginary, bool inPlace) {
  SpatialResult spatial(source, inPlace);
  const vcFrequencyBuffer& b = spatial.buffer();
  OutputImage<double> re(real, b), im(imaginary, b);
  vfThrowExceptionOnFailure(vsys_attention_check());
  const double k = vf_inverse::scaleFactor(b);
  vcPelBuffer<double>& ri = re.receiving();
  vcPelBuffer<double>& ii = im.receiving();
  const float* data = spatial.data();
  for (long y = 0; y < ri.height(); ++y) {
    const float* e = data + 2 * b.width() * y;
    double* rr = ri.pointToOffset() + y * ri.rep().rowStride();
    double* ir = ii.pointToOffset() + y * ii.rep().rowStride();
    for (long x = 0; x < ri.width(); ++x) {
      rr[x] = static_cast<double>(e[2 * x]) * k;
      ir[x] = static_cast<double>(e[2 * x + 1]) * k;
    }
  }
  // Every poll (the shifts) before the caller images are changed, so that an
  // abort leaves bound ones untouched, transforms included.
  re.shift(b);
  im.shift(b);
  real.copyXforms(b.xforms());
  imaginary.copyXforms(b.xforms());
  re.commit();
  im.commit();
}

void vfInverseFFT(const vcFrequencyBuffer& source, vcPelBuffer<double>& real, vcPelBuffer<double>& imaginary) {
  vfInverseFFT(const_cast<vcFrequencyBuffer&>(source), real, imaginary, false);
}

// ---- the six overloads behind the image templates ----

void vf_InverseFFT(vcFrequencyBuffer& b, vcPelBuffer<unsigned char>& image, vcPelBuffer<unsigned char>& quadrant,
                   bool stretch, bool inPlace) {
  inverseWithQuadrant(b, image, quadrant, stretch, inPlace);
}
void vf_InverseFFT(vcFrequencyBuffer& b, vcPelBuffer<unsigned char>& image, vcPelBuffer<double>* angle, bool stretch,
                   bool inPlace) {
  inverseWithAngle(b, image, angle, stretch, inPlace);
}
void vf_InverseFFT(vcFrequencyBuffer& b, vcPelBuffer<unsigned short>& image, vcPelBuffer<unsigned char>& quadrant,
                   bool stretch, bool inPlace) {
  inverseWithQuadrant(b, image, quadrant, stretch, inPlace);
}
void vf_InverseFFT(vcFrequencyBuffer& b, vcPelBuffer<unsigned short>& image, vcPelBuffer<double>* angle, bool stretch,
                   bool inPlace) {
  inverseWithAngle(b, image, angle, stretch, inPlace);
}
void vf_InverseFFT(vcFrequencyBuffer& b, vcPelBuffer<double>& image, vcPelBuffer<double>* angle, bool stretch,
                   bool inPlace) {
  inverseWithAngle(b, image, angle, stretch, inPlace);
}

// Double magnitudes and quadrant codes in one pass.
void vf_InverseFFT(vcFrequencyBuffer& source, vcPelBuffer<double>& image, vcPelBuffer<unsigned char>& quadrant, bool,
                   bool inPlace) {
  SpatialResult spatial(source, inPlace);
  const vcFrequencyBuffer& b = spatial.buffer();
  OutputImage<double> out(image, b);
  OutputImage<unsigned char> quad(quadrant, b);
  vfThrowExceptionOnFailure(vsys_attention_check());
  long rows = out.receiving().height();
  unsigned short scratch = 0;
  if (rows > 0 && out.receiving().width() > 0)
    vf_InverseFFTInline14(spatial.data(), out.receiving().pointToOffset(), quad.receiving().pointToOffset(),
                          static_cast<float>(vf_inverse::scaleFactor(b)), &scratch, b.width(), out.receiving().width(),
                          vf_inverse::pitchBytes(out.receiving()), vf_inverse::pitchBytes(quad.receiving()), &rows);
  quad.shift(b);  // every poll before any bound caller image is written
  out.shift(b);
  quad.commit();
  out.commit();
}

#define VEXFILT_INSTANTIATE_INVERSE(T)                                                                                 \
  template void vfInverseFFT<T>(vcFrequencyBuffer&, vcPelBuffer<T>&, bool, bool);                                      \
  template void vfInverseFFT<T>(const vcFrequencyBuffer&, vcPelBuffer<T>&, bool);                                      \
  template void vfInverseFFTAngle<T>(vcFrequencyBuffer&, vcPelBuffer<T>&, vcPelBuffer<double>&, bool, bool);           \
  template void vfInverseFFTAngle<T>(const vcFrequencyBuffer&, vcPelBuffer<T>&, vcPelBuffer<double>&, bool);           \
  template void vfInverseFFTQuadrant<T>(vcFrequencyBuffer&, vcPelBuffer<T>&, vcPelBuffer<unsigned char>&, bool, bool); \
  template void vfInverseFFTQuadrant<T>(const vcFrequencyBuffer&, vcPelBuffer<T>&, vcPelBuffer<unsigned char>&, bool);
VEXFILT_INSTANTIATE_INVERSE(unsigned char)
VEXFILT_INSTANTIATE_INVERSE(unsigned short)
VEXFILT_INSTANTIATE_INVERSE(double)
#undef VEXFILT_INSTANTIATE_INVERSE

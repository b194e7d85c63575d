// Forward transforms: images and image pairs into spectra, and a buffer's
// array transformed again.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "fft/buffer_access.h"
#include "fft/engine/engine.h"
#include "fft/messages.h"
#include "fft/quadrant_copy.h"
#include "fft/zero_pad.h"
#include "filt/fft.h"
#include "filt/host_pixels.h"

namespace {

using Access = vc_FrequencyBufferAccess;

// Exact for 8- and 16-bit pixels (through a 32-bit integer); doubles round to
// the nearest float.
template <class T>
inline float toFloat(T v) {
  if constexpr (std::is_integral_v<T>)
    return static_cast<float>(static_cast<std::int32_t>(v));
  else
    return static_cast<float>(v);
}

// Where the pixels come from: the image itself when its offset is (0, 0),
// otherwise a padded-size copy laid out by the quadrant copy (the copy owns
// its pixels for the call).
template <class T>
struct Source {
  vcPelBuffer_const<T> image;
  long cols, rows;
};

template <class T>
Source<T> chooseSource(const vcPelBuffer_const<T>& image, long paddedWidth, long paddedHeight) {
  if (image.offset() == vcPair<long>(0, 0)) return {image, image.width(), image.height()};
  vcPelBuffer<T> laid(paddedWidth, paddedHeight, 32);
  laid.offset(image.offset());
  vfPelSet(laid, T(0));
  vf_QuadrantCopy(image, laid, false);
  return {laid, paddedWidth, paddedHeight};
}

// Takes the image's geometry into the buffer (after the size check passed).
template <class T>
void takeGeometry(vcFrequencyBuffer& b, const vcPelBuffer_const<T>& image) {
  Access::setXforms(b, image.xforms());
  Access::setOffset(b, image.offset());
}

// Writes rows x cols real samples into the buffer's array, then runs the real
// transform. Row y's samples go to the first W floats of its slot of 2W; the
// engine uses the second half as working space (for W = 1 the float after the
// sample must be 0). rowAt(y) gives row y's first pixel, whose pixels lie
// pixelStep bytes apart.
template <class T, class RowAt>
void transformRealRows(vcFrequencyBuffer& b, long cols, long rows, long pixelStep, RowAt rowAt) {
  const long W = b.width(), H = b.height();
  float* data = Access::data(b);
  if (data == nullptr) throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
  const std::size_t padBytes = sizeof(float) * static_cast<std::size_t>(W - cols);
  for (long y = 0; y < rows; ++y) {
    float* slot = data + 2 * W * y;
    const unsigned char* row = rowAt(y);
    if (pixelStep == static_cast<long>(sizeof(T)) && reinterpret_cast<std::uintptr_t>(row) % alignof(T) == 0) {
      const T* pixels = reinterpret_cast<const T*>(row);
      for (long x = 0; x < cols; ++x) slot[x] = toFloat(pixels[x]);
    } else {
      for (long x = 0; x < cols; ++x) {
        T v;
        std::memcpy(&v, row + x * pixelStep, sizeof(T));
        slot[x] = toFloat(v);
      }
    }
    std::memset(slot + cols, 0, padBytes);
    if (W == 1) slot[1] = 0.0f;
  }
  for (long y = rows; y < H; ++y) {
    float* slot = data + 2 * W * y;
    std::memset(slot, 0, sizeof(float) * static_cast<std::size_t>(W == 1 ? 2 : W));
  }
  vf_RealFFT2D(data, W, H);
}

template <class T>
void forwardImage(const vcPelBuffer_const<T>& image, vcFrequencyBuffer& b) {
  if (!image.isBound()) throw vcFrequencyDefs::UnboundWindow();
  Access::setAndAllocate(b, image.width(), image.height());
  takeGeometry(b, image);
  const Source<T> src = chooseSource(image, b.width(), b.height());
  const auto* first = reinterpret_cast<const unsigned char*>(src.image.pointToOffset());
  const long rowBytes = static_cast<long>(sizeof(T)) * src.image.rep().rowStride();
  transformRealRows<T>(b, src.cols, src.rows, sizeof(T), [&](long y) { return first + y * rowBytes; });
}

template <class T>
void forwardPair(const vcPelBuffer_const<T>& re, const vcPelBuffer_const<T>& im, vcFrequencyBuffer& b) {
  if (!re.isBound()) throw vcFrequencyDefs::UnboundWindow();
  if (!im.isBound()) throw vcFrequencyDefs::UnboundWindow();
  if (im.width() != re.width() || im.height() != re.height() || im.offset() != re.offset())
    throw vcFrequencyDefs::InvalidSize(vf_msg::kPairDiffers);
  Access::setAndAllocate(b, re.width(), re.height());
  takeGeometry(b, re);
  const long W = b.width(), H = b.height();
  const Source<T> r = chooseSource(re, W, H);
  const Source<T> i = chooseSource(im, W, H);

  float* data = Access::data(b);
  const T* rp = r.image.pointToOffset();
  const T* ip = i.image.pointToOffset();
  const long rs = r.image.rep().rowStride(), is = i.image.rep().rowStride();
  for (long y = 0; y < r.rows; ++y) {
    float* row = data + 2 * W * y;
    for (long x = 0; x < r.cols; ++x) {
      row[2 * x] = toFloat(rp[y * rs + x]);
      row[2 * x + 1] = toFloat(ip[y * is + x]);
    }
  }
  vf_ZeroPad(r.cols, r.rows, W, H, data);
  vf_ComplexFFT2D(data, b.width(), b.height(), +1, 0, b.height());
}

}  // namespace

void vf_ForwardFFT(const vcPelBuffer_const<unsigned char>& image, vcFrequencyBuffer& result) {
  forwardImage(image, result);
}
void vf_ForwardFFT(const vcPelBuffer_const<unsigned short>& image, vcFrequencyBuffer& result) {
  forwardImage(image, result);
}
void vf_ForwardFFT(const vcPelBuffer_const<double>& image, vcFrequencyBuffer& result) {
  forwardImage(image, result);
}

void vf_ForwardFFT(const vcPelBuffer_const<unsigned char>& re, const vcPelBuffer_const<unsigned char>& im,
                   vcFrequencyBuffer& result) {
  forwardPair(re, im, result);
}
void vf_ForwardFFT(const vcPelBuffer_const<unsigned short>& re, const vcPelBuffer_const<unsigned short>& im,
                   vcFrequencyBuffer& result) {
  forwardPair(re, im, result);
}
void vf_ForwardFFT(const vcPelBuffer_const<double>& re, const vcPelBuffer_const<double>& im,
                   vcFrequencyBuffer& result) {
  forwardPair(re, im, result);
}

template <class T>
void vfForwardFFTPixels(const T* pixels, long width, long height, long rowStep, long pixelStep,
                        vcFrequencyBuffer& result) {
  if (pixels == nullptr) throw vcFrequencyDefs::InvalidArgument("Pixels must not be null.");
  if (width < 1 || height < 1) throw vcFrequencyDefs::InvalidArgument("Width and Height must be at least 1.");
  Access::setAndAllocate(result, width, height);
  Access::setXforms(result, vc2XformCache());
  Access::setOffset(result, vcPair<long>(0, 0));
  const auto* first = reinterpret_cast<const unsigned char*>(pixels);
  transformRealRows<T>(result, width, height, pixelStep, [&](long y) { return first + y * rowStep; });
}

template VEXFILT_API void vfForwardFFTPixels<unsigned char>(const unsigned char*, long, long, long, long,
                                                            vcFrequencyBuffer&);
template VEXFILT_API void vfForwardFFTPixels<unsigned short>(const unsigned short*, long, long, long, long,
                                                             vcFrequencyBuffer&);
template VEXFILT_API void vfForwardFFTPixels<double>(const double*, long, long, long, long, vcFrequencyBuffer&);

void vfForwardFFT(const vcFrequencyBuffer& source, vcFrequencyBuffer& destination) {
  if (Access::data(source) == nullptr) throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
  // Into another buffer the transform reads the source's array (no copy pass first).
  const bool inPlace = &destination == &source;
  if (!inPlace) Access::copyAllButArray(destination, source);
  Access::setInverseComputed(destination, false);
  Access::setBand(destination, 0, destination.maskedMiny(), destination.maskedMaxy());
  float* data = Access::data(destination);
  if (data == nullptr) throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
  if (inPlace)
    vf_ComplexFFT2D(data, destination.width(), destination.height(), +1, 0, destination.height());
  else
    vf_ComplexFFT2DFrom(Access::data(source), data, destination.width(), destination.height(), +1, 0,
                        destination.height());
}

template void vfForwardFFT<unsigned char>(const vcPelBuffer_const<unsigned char>&, vcFrequencyBuffer&);
template void vfForwardFFT<unsigned short>(const vcPelBuffer_const<unsigned short>&, vcFrequencyBuffer&);
template void vfForwardFFT<double>(const vcPelBuffer_const<double>&, vcFrequencyBuffer&);
template void vfForwardFFT<unsigned char>(const vcPelBuffer_const<unsigned char>&,
                                          const vcPelBuffer_const<unsigned char>&, vcFrequencyBuffer&);
template void vfForwardFFT<unsigned short>(const vcPelBuffer_const<unsigned short>&,
                                           const vcPelBuffer_const<unsigned short>&, vcFrequencyBuffer&);
template void vfForwardFFT<double>(const vcPelBuffer_const<double>&, const vcPelBuffer_const<double>&,
                                   vcFrequencyBuffer&);

// Pieces shared by the inverse transforms and the side outputs. Not installed.
#pragma once

#include <algorithm>

#include "fft/buffer_access.h"
#include "fft/quadrant_copy.h"
#include "filt/fft.h"

namespace vf_inverse {

// The size of the images an inverse makes: the buffer's image size, empty
// when that is 0 or less.
inline long outputWidth(const vcFrequencyBuffer& b) {
  return std::max(b.imageWidth(), 0L);
}
inline long outputHeight(const vcFrequencyBuffer& b) {
  return std::max(b.imageHeight(), 0L);
}

// 1/(width*height), from the integer product of the padded sizes.
inline double scaleFactor(const vcFrequencyBuffer& b) {
  return 1.0 / static_cast<double>(b.width() * b.height());
}

// One output image of an inverse. An unbound caller image receives the
// values directly (it is assigned a new image); a bound one is left alone
// until finish(), which copies into it by position, and the values go to a
// new image meanwhile. Either way the receiving image has the buffer's image
// size, offset and client transform.
template <class T>
class OutputImage {
 public:
  OutputImage(vcPelBuffer<T>& caller, const vcFrequencyBuffer& b) : caller_(caller), bound_(caller.isBound()) {
    vcPelBuffer<T> fresh = newImage(b);
    if (bound_)
      receiving_ = fresh;
    else
      caller_ = fresh;
  }

  vcPelBuffer<T>& receiving() { return bound_ ? receiving_ : caller_; }
  bool bound() const { return bound_; }

  // The shift back of an offset image (which polls the attention check) and
  // the copy into a bound caller image. The shifted image is given the
  // buffer's offset before the quadrant copy, so the result's pixels stay
  // where the forward transform took them from: a forward and inverse pair
  // gives back the image and its offset.
  void finish(const vcFrequencyBuffer& b) {
    shift(b);
    commit();
  }

  // The two halves of finish(). An inverse with two outputs shifts both
  // before it commits either, so that an abort at any poll leaves every
  // bound caller image untouched.
  void shift(const vcFrequencyBuffer& b) {
    if (b.offset() == vcPair<long>(0, 0)) return;
    shifted_ = newImage(b);
    vf_QuadrantCopy(receiving(), shifted_, true);
    isShifted_ = true;
    if (!bound_) caller_ = shifted_;
  }
  void commit() {
    if (bound_) vfPelCopy(isShifted_ ? shifted_ : receiving_, caller_);
  }

 private:
  static vcPelBuffer<T> newImage(const vcFrequencyBuffer& b) {
    vcPelBuffer<T> image(outputWidth(b), outputHeight(b), 32);
    image.offset(b.offset());
    image.copyXforms(b.xforms());
    return image;
  }

  vcPelBuffer<T>& caller_;
  vcPelBuffer<T> receiving_;
  vcPelBuffer<T> shifted_;
  bool bound_;
  bool isShifted_ = false;
};

// The side outputs as the inverse transforms make them: polled, filled and
// shifted, but not yet copied into a bound caller image (commit() does that).
// `data` is the array to read, laid out as b's (b's own, or a transformed copy).
OutputImage<double> angleImage(const vcFrequencyBuffer& b, const float* data, vcPelBuffer<double>& caller);
OutputImage<unsigned char> quadrantImage(const vcFrequencyBuffer& b, const float* data,
                                         vcPelBuffer<unsigned char>& caller);

// Row pitch of an image in bytes.
template <class T>
long pitchBytes(const vcPelBuffer<T>& image) {
  return image.rep().rowStride() * static_cast<long>(sizeof(T));
}

}  // namespace vf_inverse

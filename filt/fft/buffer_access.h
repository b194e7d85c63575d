// Library-internal access to a frequency buffer's private state, for the
// transforms, arithmetic and filters. Not installed.
#pragma once

#include "filt/fft.h"

class vc_FrequencyBufferAccess {
 public:
  static float* data(const vcFrequencyBuffer& b) { return b.data_; }
  static void setAndAllocate(vcFrequencyBuffer& b, long width, long height) { b.setAndAllocate(width, height); }
  static void setInverseComputed(vcFrequencyBuffer& b, bool v) { b.inverseComputed_ = v; }
  static void setBand(vcFrequencyBuffer& b, long masked, long miny, long maxy) {
    b.masked_ = masked;
    b.maskedMiny_ = miny;
    b.maskedMaxy_ = maxy;
  }
  static void setXforms(vcFrequencyBuffer& b, const vc2XformCache& x) { b.xforms_ = x; }
  static void setOffset(vcFrequencyBuffer& b, const vcPair<long>& o) { b.offset_ = o; }
  // Everything a buffer holds besides its array: padded and image sizes, client
  // transform, offset, the inverse flag and the row band.
  static void copyDescription(vcFrequencyBuffer& to, const vcFrequencyBuffer& from) {
    to.width_ = from.width_;
    to.height_ = from.height_;
    to.imageWidth_ = from.imageWidth_;
    to.imageHeight_ = from.imageHeight_;
    to.xforms_ = from.xforms_;
    to.offset_ = from.offset_;
    to.inverseComputed_ = from.inverseComputed_;
    to.masked_ = from.masked_;
    to.maskedMiny_ = from.maskedMiny_;
    to.maskedMaxy_ = from.maskedMaxy_;
  }

  // What the copy assignment does, except the copy of the array: `to` takes the
  // description of `from` and storage of from's size, whose values are left as they
  // were (kept when the padded size is unchanged). For a transform that writes every
  // value of to's array from from's (vf_ComplexFFT2DFrom). from holds an array.
  static void copyAllButArray(vcFrequencyBuffer& to, const vcFrequencyBuffer& from) {
    if (to.data_ != nullptr && (to.width_ != from.width_ || to.height_ != from.height_)) to.data_ = nullptr;
    copyDescription(to, from);
    if (to.data_ == nullptr) to.allocate();
  }
};

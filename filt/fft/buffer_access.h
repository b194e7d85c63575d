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
};

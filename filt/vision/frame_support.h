// Pieces shared by the frame plan's units. Not installed.
#pragma once

#include "filt/freqfilt.h"

namespace vf_frames {

// A buffer's array through the filter family's protected access (the
// class is never instantiated; it only lends the accessors).
struct BufferAccess : vcFrequencyFilter {
  static const float* data(const vcFrequencyBuffer& b) { return getFrequencyBufferData(b); }
};
inline const float* bufferData(const vcFrequencyBuffer& b) {
  return BufferAccess::data(b);
}

// `spectrum` becomes the w x h all-ones spectrum: the transform of a unit
// impulse at (0, 0), which the engine computes exactly (every butterfly adds
// a zero or multiplies one).
void impulseSpectrum(long w, long h, vcFrequencyBuffer& spectrum);

}  // namespace vf_frames

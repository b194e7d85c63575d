// Shared pieces of the texture units.
#pragma once

#include "filt/freqfilt.h"

namespace vf_texture {

// Raw access to a spectrum's array through the hook the filter family offers
// its members (never instantiated: only its static members are used).
class SpectrumAccess : public vcFrequencyFilter {
 public:
  static const float* data(const vcFrequencyBuffer& buffer) { return getFrequencyBufferData(buffer); }
  static float* data(vcFrequencyBuffer& buffer) { return getFrequencyBufferData(buffer); }
  // Marks rows [lo, hi] (centered row frame) as the only non-zero ones, so
  // that the inverse transform skips the others.
  static void band(vcFrequencyBuffer& buffer, long lo, long hi) { maskFrequencyBuffer(buffer, true, lo, hi); }
};

}  // namespace vf_texture

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
};

}  // namespace vf_texture

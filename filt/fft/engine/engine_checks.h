// Debug-build checks of the engine's entry conditions. Callers guarantee them; release
// builds trust them.
#pragma once

#include <cassert>

#include "fft/sizes.h"

inline bool vf_IsEngineSize(long n) {
  return vf_IsTransformSize(n);
}

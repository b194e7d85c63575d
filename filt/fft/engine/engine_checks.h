// Debug-build checks of the engine's entry conditions. Callers guarantee them; release
// builds trust them.
#pragma once

#include <bit>
#include <cassert>

inline bool vf_IsEngineSize(long n) {
  return n >= 1 && n <= 2048 && std::has_single_bit(static_cast<unsigned long>(n));
}

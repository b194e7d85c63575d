// Sizes of spectra, in one place. Not installed.
#pragma once

// The largest padded width or height of a frequency buffer; the engine's
// tables are built for it.
inline constexpr long kVfMaxSize = 2048;

// 1, 2, 4, ...: the only padded sizes. Zero and negative values are not.
inline bool vf_IsPowerOfTwo(long v) {
  return v > 0 && (v & (v - 1)) == 0;
}

// A padded size the engine transforms: a power of two up to kVfMaxSize.
inline bool vf_IsTransformSize(long v) {
  return vf_IsPowerOfTwo(v) && v <= kVfMaxSize;
}

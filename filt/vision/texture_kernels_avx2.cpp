// The texture kernels built with -mavx2 (no FMA; -ffp-contract=off like all
// numeric code), called only after a run-time check.

#include <cmath>

#include "vision/texture_kernels.h"

#if defined(__x86_64__) && defined(__AVX2__)

namespace {
#include "vision/texture_kernels_body.h"
}  // namespace

namespace vf_texture {
Kernels avx2Kernels() {
  return {interpolateDownRows, interpolateMiddleDownFourRows, magnitudeAcrossRow,
          magnitudeRow,        magnitudeInterleavedRow,       widenRow,
          scaleCellsRow};
}
}  // namespace vf_texture

#else

namespace vf_texture {
Kernels avx2Kernels() {
  return {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
}
}  // namespace vf_texture

#endif

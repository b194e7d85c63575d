// The texture kernels, plain build, and the choice between the builds.

#include "vision/texture_kernels.h"

#include <cmath>

#include "cpu/cpu_level.h"

namespace {
#include "vision/texture_kernels_body.h"
}  // namespace

namespace vf_texture {

Kernels plainKernels() {
  return {interpolateDownRows, interpolateMiddleDownFourRows, magnitudeAcrossRow,
          magnitudeRow,        magnitudeInterleavedRow,       widenRow,
          scaleCellsRow};
}

Kernels bestKernels() {
  // The AVX2 build where the library's other element loops run theirs.
  if (vf_UsesAvx2Loops(vf_BestEngineLevel())) {
    const Kernels k = avx2Kernels();
    if (k.interpolateDown != nullptr) return k;
  }
  return plainKernels();
}

}  // namespace vf_texture

// The texture kernels, plain build, and the choice between the builds.

#include "vision/texture_kernels.h"

#include <cmath>

namespace {
#include "vision/texture_kernels_body.h"
}  // namespace

namespace vf_texture {

Kernels plainKernels() {
  return {interpolateRows, magnitudeDownRows, magnitudeRow, magnitudeInterleavedRow};
}

Kernels bestKernels() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  // The runtime's feature bits include the operating system's support for
  // the vector registers.
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) {
    const Kernels k = avx2Kernels();
    if (k.interpolate != nullptr) return k;
  }
#endif
  return plainKernels();
}

}  // namespace vf_texture

// The engine's kernels for an instruction-set level (see cpu/cpu_level.h for the
// levels and how the running CPU's widest one is found).
#include "levels.h"

namespace {

void vf_ScalarTile(const float* from, long fromStride, float* to, long toStride) {
  for (long i = 0; i < 8; ++i) {
    for (long j = 0; j < 8; ++j) {
      to[2 * (j * toStride + i)] = from[2 * (i * fromStride + j)];
      to[2 * (j * toStride + i) + 1] = from[2 * (i * fromStride + j) + 1];
    }
  }
}

}  // namespace

vc_LevelKernels vf_LevelKernels(vc_EngineLevel level) {
  switch (level) {
#if defined(__x86_64__)
    case vc_EngineLevel::sse2:
      return vf_Sse2Kernels;
    case vc_EngineLevel::avx2:
      return vf_Avx2Kernels;
    case vc_EngineLevel::avx512:
      return vf_Avx512Kernels;
#endif
    default:
      return {1, nullptr, vf_ScalarTile, 0, nullptr};
  }
}

// Picking an instruction-set level. Asked afresh on every call: the check is a few
// loads from the runtime's CPU model, and the library keeps no state between calls.
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

bool vf_EngineLevelSupported(vc_EngineLevel level) {
#if defined(__x86_64__)
  // The runtime's feature bits also require the operating system to save the vector
  // registers (XCR0), so a level reported here can run.
  __builtin_cpu_init();
  switch (level) {
    case vc_EngineLevel::scalar:
    case vc_EngineLevel::sse2:
      return true;
    case vc_EngineLevel::avx2:
      return __builtin_cpu_supports("avx2");
    case vc_EngineLevel::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  }
  return false;
#else
  return level == vc_EngineLevel::scalar;
#endif
}

vc_EngineLevel vf_BestEngineLevel() {
  for (const vc_EngineLevel level : {vc_EngineLevel::avx512, vc_EngineLevel::avx2, vc_EngineLevel::sse2}) {
    if (vf_EngineLevelSupported(level)) {
      return level;
    }
  }
  return vc_EngineLevel::scalar;
}

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

bool vf_UsesAvx2Loops(vc_EngineLevel level) {
#if defined(__x86_64__)
  return (level == vc_EngineLevel::avx2 || level == vc_EngineLevel::avx512) && vf_EngineLevelSupported(level);
#else
  (void)level;
  return false;
#endif
}

#include "cpu/cpu_level.h"

#include <initializer_list>

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

bool vf_UsesAvx2Loops(vc_EngineLevel level) {
#if defined(__x86_64__)
  return (level == vc_EngineLevel::avx2 || level == vc_EngineLevel::avx512) && vf_EngineLevelSupported(level);
#else
  (void)level;
  return false;
#endif
}

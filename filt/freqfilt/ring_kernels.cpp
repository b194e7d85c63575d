// The choice of a ring loop per level.

#include "freqfilt/ring_kernels.h"

#include "freqfilt/ring_plain.h"

vc_RingRun vf_RingRun(vc_EngineLevel level) {
#if defined(__x86_64__)
  if ((level == vc_EngineLevel::avx2 || level == vc_EngineLevel::avx512) && vf_EngineLevelSupported(level))
    return vf_RingRunAvx2();
#endif
  (void)level;
  return vf_RingRunPlain;
}

// The choice of a ring loop per level.

#include "loops/ring_kernels.h"

#include "loops/ring_plain.h"

vc_RingRun vf_RingRun(vc_EngineLevel level) {
  if (vf_UsesAvx2Loops(level)) return vf_RingRunAvx2();
  return vf_RingRunPlain;
}

// The plain arithmetic loops and the choice of a set per level.

#include "loops/arithmetic_kernels.h"

#include "loops/arithmetic_plain.h"

namespace {

template <void (*element)(const float*, float*)>
void elementLoop(const float* a, float* r, long count) {
  for (long k = 0; k < count; ++k) element(a + 2 * k, r + 2 * k);
}

}  // namespace

vc_ArithmeticKernels vf_ArithmeticKernels(vc_EngineLevel level) {
  if (vf_UsesAvx2Loops(level)) return vf_ArithmeticKernelsAvx2();
  return {elementLoop<vf_AddElement>, elementLoop<vf_SubtractElement>, elementLoop<vf_MultiplyElement>};
}

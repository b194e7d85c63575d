// The plain arithmetic loops and the choice of a set per level.

#include "fft/arithmetic_kernels.h"

namespace {

// (u + x, v + y)
void addElement(const float* a, float* r) {
  const double x = a[0], y = a[1], u = r[0], v = r[1];
  r[0] = static_cast<float>(u + x);
  r[1] = static_cast<float>(v + y);
}

// (u - x, v - y)
void subtractElement(const float* a, float* r) {
  const double x = a[0], y = a[1], u = r[0], v = r[1];
  r[0] = static_cast<float>(u - x);
  r[1] = static_cast<float>(v - y);
}

// (x u - y v, u y + v x): every product and the sum or difference in double.
// Products commute exactly, so the result does not depend on which factor is
// the operand.
void multiplyElement(const float* a, float* r) {
  const double x = a[0], y = a[1], u = r[0], v = r[1];
  r[0] = static_cast<float>(x * u - y * v);
  r[1] = static_cast<float>(u * y + v * x);
}

template <void (*element)(const float*, float*)>
void elementLoop(const float* a, float* r, long count) {
  for (long k = 0; k < count; ++k) element(a + 2 * k, r + 2 * k);
}

}  // namespace

vc_ArithmeticKernels vf_ArithmeticKernels(vc_EngineLevel level) {
#if defined(__x86_64__)
  if ((level == vc_EngineLevel::avx2 || level == vc_EngineLevel::avx512) && vf_EngineLevelSupported(level))
    return vf_ArithmeticKernelsAvx2();
#endif
  (void)level;
  return {elementLoop<addElement>, elementLoop<subtractElement>, elementLoop<multiplyElement>};
}

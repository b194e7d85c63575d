// The AVX2 arithmetic loops: four complex elements (eight floats) per step,
// as two groups of four doubles, then the plain element for what is left.
// Per element they do the plain loops' operations in the same order; the
// horizontal subtract and add pair the products exactly as x*u - y*v and
// u*y + v*x.
//
// Built with -mavx2 (no FMA) and called only after a run-time check.

#if defined(__x86_64__)

#include <immintrin.h>

#include "loops/arithmetic_kernels.h"
#include "loops/arithmetic_plain.h"

namespace {

struct Doubles {
  __m256d low, high;  // elements 0-1 and 2-3 as (re, im, re, im)
};

inline Doubles load(const float* p) {
  const __m256 v = _mm256_loadu_ps(p);
  return {_mm256_cvtps_pd(_mm256_castps256_ps128(v)), _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1))};
}

inline void store(float* p, __m256d low, __m256d high) {
  _mm256_storeu_ps(p, _mm256_set_m128(_mm256_cvtpd_ps(high), _mm256_cvtpd_ps(low)));
}

// (x u - y v, u y + v x) of two elements: a = (x0 y0 x1 y1), r = (u0 v0 u1 v1).
inline __m256d product(__m256d a, __m256d r) {
  const __m256d xu = _mm256_mul_pd(a, r);                          // x0u0 y0v0 x1u1 y1v1
  const __m256d uy = _mm256_mul_pd(r, _mm256_permute_pd(a, 0x5));  // u0y0 v0x0 u1y1 v1x1
  return _mm256_blend_pd(_mm256_hsub_pd(xu, uy), _mm256_hadd_pd(xu, uy), 0xA);
}

inline __m256d sum(__m256d x, __m256d u) {
  return _mm256_add_pd(u, x);
}
inline __m256d difference(__m256d x, __m256d u) {
  return _mm256_sub_pd(u, x);
}

// Four elements per step through `pair` (operand, result), the rest one by
// one through the plain element.
template <__m256d (*pair)(__m256d, __m256d), void (*element)(const float*, float*)>
void loop(const float* a, float* r, long count) {
  long k = 0;
  for (; k + 4 <= count; k += 4) {
    const Doubles x = load(a + 2 * k), u = load(r + 2 * k);
    store(r + 2 * k, pair(x.low, u.low), pair(x.high, u.high));
  }
  for (; k < count; ++k) element(a + 2 * k, r + 2 * k);
}

}  // namespace

vc_ArithmeticKernels vf_ArithmeticKernelsAvx2() {
  return {loop<sum, vf_AddElement>, loop<difference, vf_SubtractElement>, loop<product, vf_MultiplyElement>};
}

#endif  // __x86_64__

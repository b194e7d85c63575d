// The AVX2 arithmetic loops: four complex elements (eight floats) per step,
// as two groups of four doubles, then the plain element for what is left.
// Per element they do the plain loops' operations in the same order; the
// horizontal subtract and add pair the products exactly as x*u - y*v and
// u*y + v*x.
//
// Built with -mavx2 (no FMA) and called only after a run-time check.

#if defined(__x86_64__)

#include <immintrin.h>

#include "fft/arithmetic_kernels.h"

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

inline void addPlain(const float* a, float* r) {
  const double x = a[0], y = a[1], u = r[0], v = r[1];
  r[0] = static_cast<float>(u + x);
  r[1] = static_cast<float>(v + y);
}
inline void subtractPlain(const float* a, float* r) {
  const double x = a[0], y = a[1], u = r[0], v = r[1];
  r[0] = static_cast<float>(u - x);
  r[1] = static_cast<float>(v - y);
}
inline void multiplyPlain(const float* a, float* r) {
  const double x = a[0], y = a[1], u = r[0], v = r[1];
  r[0] = static_cast<float>(x * u - y * v);
  r[1] = static_cast<float>(u * y + v * x);
}

void add(const float* a, float* r, long count) {
  long k = 0;
  for (; k + 4 <= count; k += 4) {
    const Doubles x = load(a + 2 * k), u = load(r + 2 * k);
    store(r + 2 * k, _mm256_add_pd(u.low, x.low), _mm256_add_pd(u.high, x.high));
  }
  for (; k < count; ++k) addPlain(a + 2 * k, r + 2 * k);
}

void subtract(const float* a, float* r, long count) {
  long k = 0;
  for (; k + 4 <= count; k += 4) {
    const Doubles x = load(a + 2 * k), u = load(r + 2 * k);
    store(r + 2 * k, _mm256_sub_pd(u.low, x.low), _mm256_sub_pd(u.high, x.high));
  }
  for (; k < count; ++k) subtractPlain(a + 2 * k, r + 2 * k);
}

void multiply(const float* a, float* r, long count) {
  long k = 0;
  for (; k + 4 <= count; k += 4) {
    const Doubles x = load(a + 2 * k), u = load(r + 2 * k);
    store(r + 2 * k, product(x.low, u.low), product(x.high, u.high));
  }
  for (; k < count; ++k) multiplyPlain(a + 2 * k, r + 2 * k);
}

}  // namespace

vc_ArithmeticKernels vf_ArithmeticKernelsAvx2() {
  return {add, subtract, multiply};
}

#endif  // __x86_64__

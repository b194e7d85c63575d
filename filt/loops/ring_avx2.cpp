// The AVX2 ring loop: four elements per step. Distances are formed in double,
// where they are exact (dx*dx + yy stays far below 2^53 for any buffer), and
// the tests compare the same values as the plain loop's integer tests; the
// profile index test k < count becomes |v| < count, which is the same for a
// whole count and false for a NaN. Elements that are not multiplied read
// entry 0, which always exists, and are then zeroed or kept.
//
// Built with -mavx2 (no FMA) and called only after a run-time check.

#if defined(__x86_64__)

#include <immintrin.h>

#include "loops/ring_kernels.h"
#include "loops/ring_plain.h"

namespace {

void ringRun(const vc_RingRow& row, long xa, long xb, long dxOffset) {
  const __m256d yy = _mm256_set1_pd(static_cast<double>(row.yy));
  const __m256d inner = _mm256_set1_pd(static_cast<double>(row.inner));
  const __m256d outer = _mm256_set1_pd(static_cast<double>(row.outer));
  const __m256d fW = _mm256_set1_pd(row.fW), S = _mm256_set1_pd(row.S);
  const __m256d count = _mm256_set1_pd(static_cast<double>(row.count));
  const __m256d signBit = _mm256_set1_pd(-0.0);
  const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
  long x = xa;
  __m256d dx = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x + dxOffset)), _mm256_set_pd(3.0, 2.0, 1.0, 0.0));
  for (; x + 4 <= xb; x += 4, dx = _mm256_add_pd(dx, _mm256_set1_pd(4.0))) {
    const __m256d d2 = _mm256_add_pd(_mm256_mul_pd(dx, dx), yy);
    const __m256d inRing =
        row.everyElement ? all
                         : _mm256_and_pd(_mm256_cmp_pd(inner, d2, _CMP_LT_OQ), _mm256_cmp_pd(d2, outer, _CMP_LT_OQ));
    const __m256d a = _mm256_andnot_pd(signBit, _mm256_mul_pd(_mm256_sub_pd(_mm256_sqrt_pd(d2), fW), S));
    const __m256d multiply = _mm256_and_pd(inRing, _mm256_cmp_pd(a, count, _CMP_LT_OQ));
    const __m128i k = _mm256_cvttpd_epi32(_mm256_and_pd(a, multiply));  // 0 where not multiplied
    const __m256d t = _mm256_cvtps_pd(_mm_i32gather_ps(row.profile, k, 4));

    const __m256 s = _mm256_loadu_ps(row.source + 2 * x);
    const __m256d low = _mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(s)), _mm256_permute4x64_pd(t, 0x50));
    const __m256d high = _mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(s, 1)), _mm256_permute4x64_pd(t, 0xFA));
    const __m256 product = _mm256_set_m128(_mm256_cvtpd_ps(high), _mm256_cvtpd_ps(low));
    // Each 64-bit mask lane covers the element's two floats.
    const __m256 other = row.keepOutside ? s : _mm256_setzero_ps();
    _mm256_storeu_ps(row.target + 2 * x, _mm256_blendv_ps(other, product, _mm256_castpd_ps(multiply)));
  }
  vf_RingRunPlain(row, x, xb, dxOffset);
}

}  // namespace

vc_RingRun vf_RingRunAvx2() {
  return ringRun;
}

#endif  // __x86_64__

// The AVX2 row kernels: eight elements per step, as two groups of four
// doubles. Per element they do the plain kernels' operations in the same
// order (re*re + im*im, the square root, the products and differences), and
// round to nearest even with the rounding instruction, which gives the plain
// form's floor-and-test result for every double and ignores the rounding
// mode. What the fast path cannot store exactly -- wrapped values outside
// the 32-bit range, NaNs among them -- goes through the plain form.
//
// Built with -mavx2 (no FMA) and called only after a run-time check.

#if defined(__x86_64__)

#include <immintrin.h>

#include "loops/pixel_math.h"
#include "loops/pixel_rows.h"

namespace {

// Squared magnitudes of the four elements at e, in order.
inline __m256d squares(const float* e) {
  const __m256 v = _mm256_loadu_ps(e);
  const __m256d a = _mm256_cvtps_pd(_mm256_castps256_ps128(v));    // re0 im0 re1 im1
  const __m256d b = _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1));  // re2 im2 re3 im3
  const __m256d re = _mm256_unpacklo_pd(a, b);                     // re0 re2 re1 re3
  const __m256d im = _mm256_unpackhi_pd(a, b);
  const __m256d s = _mm256_add_pd(_mm256_mul_pd(re, re), _mm256_mul_pd(im, im));
  return _mm256_permute4x64_pd(s, 0xD8);  // lanes 0 2 1 3: back in element order
}

inline __m256d scaledMagnitudes(const float* e, __m256d k) {
  return _mm256_mul_pd(_mm256_sqrt_pd(squares(e)), k);
}

inline __m256d roundEven(__m256d v) {
  return _mm256_round_pd(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
}

// round(v) clamped into 0..max as 32-bit integers; max(r, 0) returns 0 for a NaN r.
inline __m128i saturatedInts(__m256d v, __m256d max) {
  const __m256d r = _mm256_min_pd(_mm256_max_pd(roundEven(v), _mm256_setzero_pd()), max);
  return _mm256_cvttpd_epi32(r);
}

// Eight clamped values packed to 16 bits (exact: all are within 0..65535).
inline __m128i saturated8Values(const float* e, __m256d k, __m256d max) {
  return _mm_packus_epi32(saturatedInts(scaledMagnitudes(e, k), max), saturatedInts(scaledMagnitudes(e + 8, k), max));
}

template <class P>
void saturated(const float* e, P* d, long n, double k, double max) {
  const __m256d kv = _mm256_set1_pd(k), mv = _mm256_set1_pd(max);
  long x = 0;
  for (; x + 8 <= n; x += 8, e += 16) {
    const __m128i words = saturated8Values(e, kv, mv);
    if constexpr (sizeof(P) == 1)
      _mm_storel_epi64(reinterpret_cast<__m128i*>(d + x), _mm_packus_epi16(words, words));
    else
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), words);
  }
  for (; x < n; ++x, e += 2) d[x] = static_cast<P>(vf_pixel::roundSaturated(vf_pixel::magnitude(e) * k, max));
}

void saturated8(const float* e, unsigned char* d, long n, double k) {
  saturated(e, d, n, k, 255.0);
}
void saturated16(const float* e, unsigned short* d, long n, double k) {
  saturated(e, d, n, k, 65535.0);
}

// Rounded stretch values of four elements, and whether all four lie strictly
// inside the 32-bit range (false for a NaN).
inline __m256d stretchedRounded(const float* e, __m256d k, __m256d low, __m256d scale, bool& inRange) {
  const __m256d r = roundEven(_mm256_mul_pd(_mm256_sub_pd(scaledMagnitudes(e, k), low), scale));
  const __m256d magnitude = _mm256_andnot_pd(_mm256_set1_pd(-0.0), r);
  inRange = _mm256_movemask_pd(_mm256_cmp_pd(magnitude, _mm256_set1_pd(2147483648.0), _CMP_LT_OQ)) == 0xF;
  return r;
}

template <class P>
void stretched(const float* e, P* d, long n, double k, double low, double scale) {
  const __m256d kv = _mm256_set1_pd(k), lv = _mm256_set1_pd(low), sv = _mm256_set1_pd(scale);
  // The low 8 or 16 bits of each 32-bit integer; packing those is exact.
  const __m128i lowBits = _mm_set1_epi32(sizeof(P) == 1 ? 0xFF : 0xFFFF);
  long x = 0;
  for (; x + 8 <= n; x += 8, e += 16) {
    bool firstIn = false, secondIn = false;
    const __m256d r0 = stretchedRounded(e, kv, lv, sv, firstIn);
    const __m256d r1 = stretchedRounded(e + 8, kv, lv, sv, secondIn);
    if (!firstIn || !secondIn) {
      for (long i = 0; i < 8; ++i)
        d[x + i] = static_cast<P>(vf_pixel::roundWrapped((vf_pixel::magnitude(e + 2 * i) * k - low) * scale));
      continue;
    }
    const __m128i words = _mm_packus_epi32(_mm_and_si128(_mm256_cvttpd_epi32(r0), lowBits),
                                           _mm_and_si128(_mm256_cvttpd_epi32(r1), lowBits));
    if constexpr (sizeof(P) == 1)
      _mm_storel_epi64(reinterpret_cast<__m128i*>(d + x), _mm_packus_epi16(words, words));
    else
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), words);
  }
  for (; x < n; ++x, e += 2) d[x] = static_cast<P>(vf_pixel::roundWrapped((vf_pixel::magnitude(e) * k - low) * scale));
}

void stretched8(const float* e, unsigned char* d, long n, double k, double low, double scale) {
  stretched(e, d, n, k, low, scale);
}
void stretched16(const float* e, unsigned short* d, long n, double k, double low, double scale) {
  stretched(e, d, n, k, low, scale);
}

void magnitudes(const float* e, double* d, long n, double k) {
  const __m256d kv = _mm256_set1_pd(k);
  long x = 0;
  for (; x + 4 <= n; x += 4, e += 8) _mm256_storeu_pd(d + x, scaledMagnitudes(e, kv));
  for (; x < n; ++x, e += 2) d[x] = vf_pixel::magnitude(e) * k;
}

// MINPD(s, m) is s < m ? s : m, and MAXPD likewise: the plain kernel's tests.
void squaredRange(const float* e, long n, double& smallest, double& largest) {
  __m256d lo = _mm256_set1_pd(smallest), hi = _mm256_set1_pd(largest);
  long x = 0;
  for (; x + 4 <= n; x += 4, e += 8) {
    const __m256d s = squares(e);
    lo = _mm256_min_pd(s, lo);
    hi = _mm256_max_pd(s, hi);
  }
  alignas(32) double los[4], his[4];
  _mm256_store_pd(los, lo);
  _mm256_store_pd(his, hi);
  for (int i = 0; i < 4; ++i) {
    if (los[i] < smallest) smallest = los[i];
    if (his[i] > largest) largest = his[i];
  }
  for (; x < n; ++x, e += 2) {
    const double re = e[0], im = e[1];
    const double s = re * re + im * im;
    if (s < smallest) smallest = s;
    if (s > largest) largest = s;
  }
}

}  // namespace

vc_PixelRows vf_PixelRowsAvx2() {
  return {saturated8, saturated16, stretched8, stretched16, magnitudes, squaredRange};
}

#endif  // __x86_64__

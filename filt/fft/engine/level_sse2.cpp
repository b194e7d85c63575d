// The SSE2 level: two rows per batch, one per lane of a vector of two doubles. SSE2 is
// part of every x86-64 CPU, so this unit needs no extra build flags.
#include "lane_batch.h"

#if defined(__x86_64__)

#include <emmintrin.h>

namespace {

struct Lane {
  __m128d v;
  explicit Lane(double d) : v(_mm_set1_pd(d)) {}
  explicit Lane(__m128d x) : v(x) {}
};

inline Lane operator+(Lane a, Lane b) {
  return Lane(_mm_add_pd(a.v, b.v));
}
inline Lane operator-(Lane a, Lane b) {
  return Lane(_mm_sub_pd(a.v, b.v));
}
inline Lane operator*(Lane a, Lane b) {
  return Lane(_mm_mul_pd(a.v, b.v));
}
// A sign change, as the scalar unary minus: 0 - a would turn -0 into +0.
inline Lane operator-(Lane a) {
  return Lane(_mm_xor_pd(a.v, _mm_set1_pd(-0.0)));
}

struct Level {
  using Lane = ::Lane;
  static constexpr long kLanes = 2;
  static constexpr long kLeaf = 256;

  // The sign bits of the imaginary parts of one element (2 re, then 2 im) when
  // conjugating, else nothing.
  static __m128 imagSigns(bool conjugate) {
    return conjugate ? _mm_set_ps(-0.0f, -0.0f, 0.0f, 0.0f) : _mm_setzero_ps();
  }

  // Two complex values (re, im, re, im) <-> one element (2 re, then 2 im); a partial
  // batch reads and writes only the first value.
  static void gatherColumns(const float* from, long used, float* to, bool conjugate) {
    const __m128 flip = imagSigns(conjugate);
    const __m128 v =
        used == kLanes ? _mm_loadu_ps(from) : _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(from)));
    _mm_store_ps(to, _mm_xor_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 1, 2, 0)), flip));
  }
  static void mirrorColumns(const float* from, float* to, long lo, long hi) {
    for (long j = lo; j < hi; ++j) {
      to[-2 * j] = from[j];
      to[-2 * j + 1] = -from[2 + j];
    }
  }
  static void scatterColumns(const float* from, float* to, long used, bool conjugate) {
    const __m128 flip = imagSigns(conjugate);
    const __m128 e = _mm_xor_ps(_mm_load_ps(from), flip);
    const __m128 v = _mm_shuffle_ps(e, e, _MM_SHUFFLE(3, 1, 2, 0));
    if (used == kLanes) {
      _mm_storeu_ps(to, v);
    } else {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_castps_si128(v));
    }
  }

  static Lane load(const float* p) {
    return Lane(_mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)))));
  }
  static void store(float* p, Lane v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(v.v)));
  }

  static void gather(const float* const* rows, long n, float* lanes, bool conjugate) {
    // Two values of each of the two rows interleave into elements i and i + 1.
    const __m128 flip = imagSigns(conjugate);
    long i = 0;
    for (; i + 2 <= n; i += 2) {
      const __m128 a = _mm_loadu_ps(rows[0] + 2 * i), b = _mm_loadu_ps(rows[1] + 2 * i);
      _mm_store_ps(lanes + 4 * i, _mm_xor_ps(_mm_unpacklo_ps(a, b), flip));
      _mm_store_ps(lanes + 4 * i + 4, _mm_xor_ps(_mm_unpackhi_ps(a, b), flip));
    }
    vf_GatherRest<kLanes>(rows, i, n, lanes, conjugate);
  }

  static void scatter(const float* lanes, const long* order, long count, float* const* rows, bool conjugate) {
    const __m128 flip = imagSigns(conjugate);
    long k = 0;
    for (; k + 2 <= count; k += 2) {
      const __m128 x = _mm_xor_ps(_mm_load_ps(lanes + 4 * order[k]), flip);
      const __m128 y = _mm_xor_ps(_mm_load_ps(lanes + 4 * order[k + 1]), flip);
      _mm_storeu_ps(rows[0] + 2 * k, _mm_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0)));
      _mm_storeu_ps(rows[1] + 2 * k, _mm_shuffle_ps(x, y, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    vf_ScatterRest<kLanes>(lanes, order, k, count, rows, conjugate);
  }

  static void moveTile(const float* from, long fromStride, float* to, long toStride) {
    // 2 x 2 blocks of complex values (64-bit lanes).
    for (long i = 0; i < 8; i += 2) {
      for (long j = 0; j < 8; j += 2) {
        const __m128d a = _mm_loadu_pd(reinterpret_cast<const double*>(from + 2 * (i * fromStride + j)));
        const __m128d b = _mm_loadu_pd(reinterpret_cast<const double*>(from + 2 * ((i + 1) * fromStride + j)));
        _mm_storeu_pd(reinterpret_cast<double*>(to + 2 * (j * toStride + i)), _mm_unpacklo_pd(a, b));
        _mm_storeu_pd(reinterpret_cast<double*>(to + 2 * ((j + 1) * toStride + i)), _mm_unpackhi_pd(a, b));
      }
    }
  }
};

}  // namespace

constinit const vc_LevelKernels vf_Sse2Kernels = vf_VectorKernels<Level>();

#endif

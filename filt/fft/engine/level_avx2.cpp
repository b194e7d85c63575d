// The AVX2 level: four rows per batch, one per lane of a vector of four doubles.
// Built with -mavx2 (no -mfma, and -ffp-contract=off like all numeric code); called
// only when the CPU has AVX2.
#include "lane_batch.h"

#if defined(__x86_64__)

#include <immintrin.h>

namespace {

struct Lane {
  __m256d v;
  explicit Lane(double d) : v(_mm256_set1_pd(d)) {}
  explicit Lane(__m256d x) : v(x) {}
};

inline Lane operator+(Lane a, Lane b) {
  return Lane(_mm256_add_pd(a.v, b.v));
}
inline Lane operator-(Lane a, Lane b) {
  return Lane(_mm256_sub_pd(a.v, b.v));
}
inline Lane operator*(Lane a, Lane b) {
  return Lane(_mm256_mul_pd(a.v, b.v));
}
// A sign change, as the scalar unary minus: 0 - a would turn -0 into +0.
inline Lane operator-(Lane a) {
  return Lane(_mm256_xor_pd(a.v, _mm256_set1_pd(-0.0)));
}

// Within each 128-bit half: the columns of the 4 x 4 float matrix with rows r[0 ... 3].
inline void vf_Transpose4x4Halves(const __m256 (&r)[4], __m256 (&c)[4]) {
  const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpacklo_ps(r[2], r[3]);
  const __m256 t2 = _mm256_unpackhi_ps(r[0], r[1]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
  c[0] = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0));
  c[1] = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2));
  c[2] = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0));
  c[3] = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

struct Level {
  using Lane = ::Lane;
  static constexpr long kLanes = 4;
  static constexpr long kLeaf = 128;

  // The sign bits of the imaginary parts of one element (4 re, then 4 im) when
  // conjugating, else nothing.
  static __m256 imagSigns(bool conjugate) {
    return conjugate ? _mm256_set_ps(-0.0f, -0.0f, -0.0f, -0.0f, 0.0f, 0.0f, 0.0f, 0.0f) : _mm256_setzero_ps();
  }

  // Four complex values (re, im, ...) <-> one element (4 re, then 4 im): a
  // permutation of the 8 floats, with a masked load or store for a partial batch
  // (masked-off floats are neither read nor written).
  static __m256i usedMask(long used) {
    const __m256i position = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(2 * used)), position);
  }
  static void gatherColumns(const float* from, long used, float* to, bool conjugate) {
    const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256 flip = imagSigns(conjugate);
    const __m256 v = used == kLanes ? _mm256_loadu_ps(from) : _mm256_maskload_ps(from, usedMask(used));
    _mm256_store_ps(to, _mm256_xor_ps(_mm256_permutevar8x32_ps(v, split), flip));
  }
  static void mirrorColumns(const float* from, float* to, long lo, long hi) {
    // Value j goes to complex position 3 - j of the four ending at `to`.
    const __m256i reverse = _mm256_setr_epi32(3, 7, 2, 6, 1, 5, 0, 4);
    const __m256 odd = _mm256_set_ps(-0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f);
    const __m256i position = _mm256_setr_epi32(3, 3, 2, 2, 1, 1, 0, 0);
    const __m256i mask = _mm256_and_si256(_mm256_cmpgt_epi32(position, _mm256_set1_epi32(static_cast<int>(lo - 1))),
                                          _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(hi)), position));
    const __m256 v = _mm256_xor_ps(_mm256_permutevar8x32_ps(_mm256_load_ps(from), reverse), odd);
    _mm256_maskstore_ps(to - 6, mask, v);
  }
  static void scatterColumns(const float* from, float* to, long used, bool conjugate) {
    const __m256i merge = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256 flip = imagSigns(conjugate);
    const __m256 v = _mm256_permutevar8x32_ps(_mm256_xor_ps(_mm256_load_ps(from), flip), merge);
    if (used == kLanes) {
      _mm256_storeu_ps(to, v);
    } else {
      _mm256_maskstore_ps(to, usedMask(used), v);
    }
  }

  static Lane load(const float* p) { return Lane(_mm256_cvtps_pd(_mm_load_ps(p))); }
  static void store(float* p, Lane v) { _mm_store_ps(p, _mm256_cvtpd_ps(v.v)); }

  static void gather(const float* const* rows, long n, float* lanes, bool conjugate) {
    // Four values of each of the four rows; the half-wise transpose gives the real
    // and imaginary parts of elements i, i + 1 (low halves) and i + 2, i + 3 (high).
    const __m256 flip = conjugate ? _mm256_set1_ps(-0.0f) : _mm256_setzero_ps();
    long i = 0;
    for (; i + 4 <= n; i += 4) {
      __m256 r[4], c[4];
      for (int k = 0; k < 4; ++k) {
        r[k] = _mm256_loadu_ps(rows[k] + 2 * i);
      }
      vf_Transpose4x4Halves(r, c);
      c[1] = _mm256_xor_ps(c[1], flip);
      c[3] = _mm256_xor_ps(c[3], flip);
      _mm256_store_ps(lanes + 8 * i, _mm256_permute2f128_ps(c[0], c[1], 0x20));
      _mm256_store_ps(lanes + 8 * i + 8, _mm256_permute2f128_ps(c[2], c[3], 0x20));
      _mm256_store_ps(lanes + 8 * i + 16, _mm256_permute2f128_ps(c[0], c[1], 0x31));
      _mm256_store_ps(lanes + 8 * i + 24, _mm256_permute2f128_ps(c[2], c[3], 0x31));
    }
    vf_GatherRest<kLanes>(rows, i, n, lanes, conjugate);
  }

  static void scatter(const float* lanes, const long* order, long count, float* const* rows, bool conjugate) {
    const __m256 flip = imagSigns(conjugate);
    long k = 0;
    for (; k + 4 <= count; k += 4) {
      __m256 e[4];
      for (int j = 0; j < 4; ++j) {
        e[j] = _mm256_xor_ps(_mm256_load_ps(lanes + 8 * order[k + j]), flip);
      }
      const __m256 c[4] = {_mm256_permute2f128_ps(e[0], e[2], 0x20), _mm256_permute2f128_ps(e[0], e[2], 0x31),
                           _mm256_permute2f128_ps(e[1], e[3], 0x20), _mm256_permute2f128_ps(e[1], e[3], 0x31)};
      __m256 r[4];
      vf_Transpose4x4Halves(c, r);
      for (int j = 0; j < 4; ++j) {
        _mm256_storeu_ps(rows[j] + 2 * k, r[j]);
      }
    }
    vf_ScatterRest<kLanes>(lanes, order, k, count, rows, conjugate);
  }

  static void moveTile(const float* from, long fromStride, float* to, long toStride) {
    // Four 4 x 4 blocks of complex values (64-bit lanes), each transposed in registers.
    for (long bi = 0; bi < 8; bi += 4) {
      for (long bj = 0; bj < 8; bj += 4) {
        __m256d r[4];
        for (long i = 0; i < 4; ++i) {
          r[i] = _mm256_loadu_pd(reinterpret_cast<const double*>(from + 2 * ((bi + i) * fromStride + bj)));
        }
        const __m256d t0 = _mm256_unpacklo_pd(r[0], r[1]), t1 = _mm256_unpackhi_pd(r[0], r[1]);
        const __m256d t2 = _mm256_unpacklo_pd(r[2], r[3]), t3 = _mm256_unpackhi_pd(r[2], r[3]);
        const __m256d c[4] = {_mm256_permute2f128_pd(t0, t2, 0x20), _mm256_permute2f128_pd(t1, t3, 0x20),
                              _mm256_permute2f128_pd(t0, t2, 0x31), _mm256_permute2f128_pd(t1, t3, 0x31)};
        for (long j = 0; j < 4; ++j) {
          _mm256_storeu_pd(reinterpret_cast<double*>(to + 2 * ((bj + j) * toStride + bi)), c[j]);
        }
      }
    }
  }
};

}  // namespace

constinit const vc_LevelKernels vf_Avx2Kernels = vf_VectorKernels<Level>();

#endif

// The AVX-512 level: eight rows per batch, one per lane of a vector of eight doubles.
// Built with -mavx512f -mavx512dq (and -ffp-contract=off, like all numeric code);
// called only when the CPU has both.
#include "lane_batch.h"

#include <cstdint>

#if defined(__x86_64__)

// g++ 12's AVX-512 intrinsics pass an undefined vector as the unused merge operand and
// then warn about it where they are inlined (GCC bug 105593); the warning is about
// the header's own code, so it is silenced for the header alone.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

struct Lane {
  __m512d v;
  explicit Lane(double d) : v(_mm512_set1_pd(d)) {}
  explicit Lane(__m512d x) : v(x) {}
};

inline Lane operator+(Lane a, Lane b) {
  return Lane(_mm512_add_pd(a.v, b.v));
}
inline Lane operator-(Lane a, Lane b) {
  return Lane(_mm512_sub_pd(a.v, b.v));
}
inline Lane operator*(Lane a, Lane b) {
  return Lane(_mm512_mul_pd(a.v, b.v));
}
// A sign change, as the scalar unary minus: 0 - a would turn -0 into +0.
inline Lane operator-(Lane a) {
  return Lane(_mm512_xor_pd(a.v, _mm512_set1_pd(-0.0)));
}

// Columns c of the 8 x 8 float matrix whose rows are r[0 ... 7], into c[0 ... 7].
inline void vf_Transpose8x8(const __m256 (&r)[8], __m256 (&c)[8]) {
  const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
  const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
  const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
  const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
  const __m256 s0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 s1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 s2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 s3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 s4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 s5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 s6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
  const __m256 s7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
  c[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
  c[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
  c[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
  c[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
  c[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
  c[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
  c[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
  c[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
}

// An 8 x 8 transpose of 64-bit units (r[i]: row i, c[j]: column j) in three steps:
// the unpacklo/unpackhi of rows 2m and 2m + 1, then pairs of 128-bit quarters, then
// halves. The element gathers replace the first or the last step by one that also
// splits or merges the real and imaginary parts.
inline void vf_UnpackRowPairs(const __m512d (&r)[8], __m512d (&t)[8]) {
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm512_unpacklo_pd(r[i], r[i + 1]);
    t[i + 1] = _mm512_unpackhi_pd(r[i], r[i + 1]);
  }
}
inline void vf_PairQuarters(const __m512d (&t)[8], __m512d (&u)[8]) {
  for (int i = 0; i < 8; i += 4) {
    u[i] = _mm512_shuffle_f64x2(t[i], t[i + 2], 0x88);
    u[i + 1] = _mm512_shuffle_f64x2(t[i + 1], t[i + 3], 0x88);
    u[i + 2] = _mm512_shuffle_f64x2(t[i], t[i + 2], 0xdd);
    u[i + 3] = _mm512_shuffle_f64x2(t[i + 1], t[i + 3], 0xdd);
  }
}
inline void vf_PairHalves(const __m512d (&u)[8], __m512d (&c)[8]) {
  for (int j = 0; j < 4; ++j) {
    c[j] = _mm512_shuffle_f64x2(u[j], u[j + 4], 0x88);
    c[j + 4] = _mm512_shuffle_f64x2(u[j], u[j + 4], 0xdd);
  }
}

// Eight values of each of eight rows (r[k]: row k, complex values as 64-bit units)
// into eight lane-interleaved elements (c[e]: the real parts of value e of rows 0 ... 7,
// then the imaginary parts). The transpose of 64-bit units, whose last step picks the
// floats straight into split order.
inline void vf_RowsToElements(const __m512d (&r)[8], __m512 (&c)[8]) {
  __m512d t[8], u[8];
  vf_UnpackRowPairs(r, t);
  vf_PairQuarters(t, u);
  const __m512i low = _mm512_setr_epi32(0, 2, 8, 10, 16, 18, 24, 26, 1, 3, 9, 11, 17, 19, 25, 27);
  const __m512i high = _mm512_setr_epi32(4, 6, 12, 14, 20, 22, 28, 30, 5, 7, 13, 15, 21, 23, 29, 31);
  for (int j = 0; j < 4; ++j) {
    c[j] = _mm512_permutex2var_ps(_mm512_castpd_ps(u[j]), low, _mm512_castpd_ps(u[j + 4]));
    c[j + 4] = _mm512_permutex2var_ps(_mm512_castpd_ps(u[j]), high, _mm512_castpd_ps(u[j + 4]));
  }
}

// The inverse: eight elements e[0 ... 7] into eight values of each of eight rows. The
// first step interleaves each element's real and imaginary parts while it pairs them.
inline void vf_ElementsToRows(const __m512 (&e)[8], __m512d (&r)[8]) {
  const __m512i low = _mm512_setr_epi32(0, 8, 16, 24, 2, 10, 18, 26, 4, 12, 20, 28, 6, 14, 22, 30);
  const __m512i high = _mm512_setr_epi32(1, 9, 17, 25, 3, 11, 19, 27, 5, 13, 21, 29, 7, 15, 23, 31);
  __m512d t[8], u[8];
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm512_castps_pd(_mm512_permutex2var_ps(e[i], low, e[i + 1]));
    t[i + 1] = _mm512_castps_pd(_mm512_permutex2var_ps(e[i], high, e[i + 1]));
  }
  vf_PairQuarters(t, u);
  vf_PairHalves(u, r);
}

struct Level {
  using Lane = ::Lane;
  static constexpr long kLanes = 8;
  static constexpr long kLeaf = 64;

  // Eight complex values (re, im, re, im, ...) <-> one element (8 re, then 8 im): a
  // permutation of the 16 floats, with a masked load or store for a partial batch
  // (masked-off floats are neither read nor written).
  static void gatherColumns(const float* from, long used, float* to, bool conjugate) {
    const __m512i split = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
    const __mmask16 mask = static_cast<__mmask16>((1u << (2 * used)) - 1u);
    const __m512 v = _mm512_permutexvar_ps(split, _mm512_maskz_loadu_ps(mask, from));
    _mm512_store_ps(to, conjugate ? _mm512_xor_ps(v, imagSigns()) : v);
  }
  static void scatterColumns(const float* from, float* to, long used, bool conjugate) {
    const __m512i merge = _mm512_setr_epi32(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    const __mmask16 mask = static_cast<__mmask16>((1u << (2 * used)) - 1u);
    __m512 v = _mm512_load_ps(from);
    if (conjugate) {
      v = _mm512_xor_ps(v, imagSigns());
    }
    _mm512_mask_storeu_ps(to, mask, _mm512_permutexvar_ps(merge, v));
  }
  static void mirrorColumns(const float* from, float* to, long lo, long hi) {
    // Value j goes to complex position 7 - j of the eight ending at `to`.
    const __m512i reverse = _mm512_setr_epi32(7, 15, 6, 14, 5, 13, 4, 12, 3, 11, 2, 10, 1, 9, 0, 8);
    const __m512i odd = _mm512_setr_epi32(0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0,
                                          INT32_MIN, 0, INT32_MIN, 0, INT32_MIN);
    // Values lo ... hi-1 land on positions 8 - hi ... 7 - lo, floats 2(8 - hi) ...
    const unsigned mask = ((1u << (2 * (8 - lo))) - 1u) & ~((1u << (2 * (8 - hi))) - 1u);
    const __m512 v = _mm512_xor_ps(_mm512_permutexvar_ps(reverse, _mm512_load_ps(from)), _mm512_castsi512_ps(odd));
    if (mask == 0xffffu) {
      _mm512_storeu_ps(to - 14, v);
    } else {
      _mm512_mask_storeu_ps(to - 14, static_cast<__mmask16>(mask), v);
    }
  }
  static __m512 imagSigns() {
    return _mm512_castsi512_ps(_mm512_setr_epi32(0, 0, 0, 0, 0, 0, 0, 0, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN,
                                                 INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN));
  }

  static Lane load(const float* p) { return Lane(_mm512_cvtps_pd(_mm256_load_ps(p))); }
  static void store(float* p, Lane v) { _mm256_store_ps(p, _mm512_cvtpd_ps(v.v)); }

  static void gather(const float* const* rows, long n, float* lanes, bool conjugate) {
    // Eight values of each of the eight rows at a time (vf_RowsToElements); then
    // four, as an 8 x 8 float matrix whose columns are the real parts, then the
    // imaginary parts, of the four elements.
    long i = 0;
    for (; i + 8 <= n; i += 8) {
      __m512d r[8];
      __m512 c[8];
      for (int k = 0; k < 8; ++k) {
        r[k] = _mm512_loadu_pd(reinterpret_cast<const double*>(rows[k] + 2 * i));
      }
      vf_RowsToElements(r, c);
      for (int k = 0; k < 8; ++k) {
        _mm512_store_ps(lanes + 16 * (i + k), conjugate ? _mm512_xor_ps(c[k], imagSigns()) : c[k]);
      }
    }
    const __m256 flip = conjugate ? _mm256_set1_ps(-0.0f) : _mm256_setzero_ps();
    for (; i + 4 <= n; i += 4) {
      __m256 r[8], c[8];
      for (int k = 0; k < 8; ++k) {
        r[k] = _mm256_loadu_ps(rows[k] + 2 * i);
      }
      vf_Transpose8x8(r, c);
      for (int k = 0; k < 8; k += 2) {
        _mm256_store_ps(lanes + 16 * i + 8 * k, c[k]);
        _mm256_store_ps(lanes + 16 * i + 8 * k + 8, _mm256_xor_ps(c[k + 1], flip));
      }
    }
    vf_GatherRest<kLanes>(rows, i, n, lanes, conjugate);
  }

  static void scatter(const float* lanes, const long* order, long count, float* const* rows, bool conjugate) {
    long k = 0;
    for (; k + 8 <= count; k += 8) {
      __m512 e[8];
      for (int j = 0; j < 8; ++j) {
        const __m512 v = _mm512_load_ps(lanes + 16 * order[k + j]);
        e[j] = conjugate ? _mm512_xor_ps(v, imagSigns()) : v;
      }
      __m512d r[8];
      vf_ElementsToRows(e, r);
      for (int j = 0; j < 8; ++j) {
        _mm512_storeu_pd(reinterpret_cast<double*>(rows[j] + 2 * k), r[j]);
      }
    }
    const __m256 flip = conjugate ? _mm256_set1_ps(-0.0f) : _mm256_setzero_ps();
    for (; k + 4 <= count; k += 4) {
      __m256 c[8], r[8];
      for (int e = 0; e < 4; ++e) {
        const float* from = lanes + 16 * order[k + e];
        c[2 * e] = _mm256_load_ps(from);
        c[2 * e + 1] = _mm256_xor_ps(_mm256_load_ps(from + 8), flip);
      }
      vf_Transpose8x8(c, r);
      for (int j = 0; j < 8; ++j) {
        _mm256_storeu_ps(rows[j] + 2 * k, r[j]);
      }
    }
    vf_ScatterRest<kLanes>(lanes, order, k, count, rows, conjugate);
  }

  static void moveTile(const float* from, long fromStride, float* to, long toStride) {
    // Each row of the tile is eight complex values, one vector of eight 64-bit lanes.
    __m512d r[8], t[8], u[8], c[8];
    for (int i = 0; i < 8; ++i) {
      r[i] = _mm512_loadu_pd(reinterpret_cast<const double*>(from + 2 * i * fromStride));
    }
    vf_UnpackRowPairs(r, t);
    vf_PairQuarters(t, u);
    vf_PairHalves(u, c);
    for (int j = 0; j < 8; ++j) {
      _mm512_storeu_pd(reinterpret_cast<double*>(to + 2 * j * toStride), c[j]);
    }
  }
};

}  // namespace

constinit const vc_LevelKernels vf_Avx512Kernels = vf_VectorKernels<Level>();

#endif

// One-dimensional row transform: split-radix decimation in frequency.
//
// Convention: unscaled, in place on n interleaved complex floats (n a power of two),
// natural order in and out. direction >= 0 computes X[k] = sum_m z[m] exp(-2 pi i mk/n);
// direction < 0 computes the same sum with exp(+2 pi i mk/n), as the conjugate of the
// forward transform of the conjugate.
//
// Rounding: each butterfly loads its operands as floats, forms its sums and products in
// double and rounds each result once when it stores it. The twiddles are the doubles of
// the stage recurrences (twiddles.h). Nothing may be contracted into fused
// multiply-adds (the engine is built with -ffp-contract=off).
//
// Order: within one stage the butterflies touch disjoint values, and after the
// butterflies of span s on a block [b, b + s) the values of its sub-blocks
// [b, b + s/2), [b + s/2, b + 3s/4) and [b + 3s/4, b + s) never meet again. So a
// block's stages may run depth first, sub-block after sub-block, and every value still
// goes through exactly the operations, with exactly the twiddles, of the stage-by-stage
// order: the results are the same bits. Depth first keeps a block in the innermost
// cache once it fits there; below `leaf` values a block runs stage by stage.
//
// The kernel is written once, as a template over a set of rows. A row set names its
// lane type (the arithmetic type of one value across the rows it carries) and gives
//     Lane re(long i), Lane im(long i)      load element i (float widened to the lane)
//     void put(long i, Lane re, Lane im)    round to float and store element i
//     void swap(long i, long j)             exchange elements i and j (in-place rows)
// A lane is built from a double by broadcast and supports + - * and unary -. Row sets
// are small values (pointers) and are passed by value: a copy in registers cannot be
// changed by the kernel's stores, so its pointers need not be reloaded after each. The
// scalar row set below carries one row with double lanes; a vector row set carries
// several independent rows of equal length, one per lane, and performs per lane exactly
// the operations of the scalar one, so it gives identical bits.
#pragma once

#include "twiddles.h"

#include <utility>

// One row, one double per value.
struct vc_ScalarRow {
  using Lane = double;
  float* z;

  Lane re(long i) const { return z[2 * i]; }
  Lane im(long i) const { return z[2 * i + 1]; }
  void put(long i, Lane r, Lane m) const {
    z[2 * i] = static_cast<float>(r);
    z[2 * i + 1] = static_cast<float>(m);
  }
  void swap(long i, long j) const {
    std::swap(z[2 * i], z[2 * j]);
    std::swap(z[2 * i + 1], z[2 * j + 1]);
  }
};

// The L-shaped butterfly of Sorensen, Heideman and Burrus (1986) on the four values at
// i0, i0 + q, i0 + 2q, i0 + 3q. With a = z0 - z2 and b = z1 - z3:
//     z0 <- z0 + z2,  z1 <- z1 + z3,
//     z2 <- (a - ib) conj(w1),  z3 <- (a + ib) conj(w3).
template <class Rows>
inline void vf_SplitRadixButterfly(const Rows z, long i0, long q, const vc_StageTwiddle& w) {
  using Lane = typename Rows::Lane;
  const Lane c1(w.c1), s1(w.s1), c3(w.c3), s3(w.s3);
  const long i1 = i0 + q;
  const long i2 = i1 + q;
  const long i3 = i2 + q;
  const Lane r0 = z.re(i0), m0 = z.im(i0);
  const Lane r1 = z.re(i1), m1 = z.im(i1);
  const Lane r2 = z.re(i2), m2 = z.im(i2);
  const Lane r3 = z.re(i3), m3 = z.im(i3);
  const Lane ar = r0 - r2, am = m0 - m2;
  const Lane br = r1 - r3, bm = m1 - m3;
  z.put(i0, r0 + r2, m0 + m2);
  z.put(i1, r1 + r3, m1 + m3);
  const Lane t1 = ar + bm, t2 = br - am;
  const Lane t3 = ar - bm, t4 = br + am;
  z.put(i2, t1 * c1 - t2 * s1, -t2 * c1 - t1 * s1);
  z.put(i3, t3 * c3 + t4 * s3, t4 * c3 - t3 * s3);
}

// The length-2 butterfly of the last stage: (z0, z1) <- (z0 + z1, z0 - z1).
template <class Rows>
inline void vf_RadixTwoButterfly(const Rows z, long i0) {
  using Lane = typename Rows::Lane;
  const Lane r0 = z.re(i0), m0 = z.im(i0);
  const Lane r1 = z.re(i0 + 1), m1 = z.im(i0 + 1);
  z.put(i0, r0 + r1, m0 + m1);
  z.put(i0 + 1, r0 - r1, m0 - m1);
}

template <class Rows>
inline void vf_ConjugateRow(const Rows z, long n) {
  for (long i = 0; i < n; ++i) {
    z.put(i, z.re(i), -z.im(i));
  }
}

// Stage twiddles are passed as the first entry of a vc_StageTwiddles set: the sequence
// of span s starts s/4 - 1 entries after it. (A plain pointer, so that translation
// units built for other instruction sets call no inline member shared with this one.)

// The stages of one block of n values at `base`, stage by stage: spans n, n/2, ..., 4,
// then the length-2 butterflies. Results stay in bit-reversed order.
template <class Rows>
void vf_SplitRadixStagesT(const Rows z, long base, long n, const vc_StageTwiddle* w) {
  if (n < 2) {
    return;
  }
  for (long s = n; s >= 4; s /= 2) {
    const long q = s / 4;
    const vc_StageTwiddle* ws = w + (q - 1);
    for (long j = 0; j < q; ++j) {
      long is = j;
      long id = 2 * s;
      do {
        for (long i0 = is; i0 < n - 1; i0 += id) {
          vf_SplitRadixButterfly(z, base + i0, q, ws[j]);
        }
        is = 2 * id - s + j;
        id *= 4;
      } while (is < n - 1);
    }
  }

  long is = 0;
  long id = 4;
  do {
    for (long i0 = is; i0 < n; i0 += id) {
      vf_RadixTwoButterfly(z, base + i0);
    }
    is = 2 * id - 2;
    id *= 4;
  } while (is < n - 1);
}

// The same stages, depth first (see above) down to blocks of `leaf` values (leaf >= 2).
template <class Rows>
void vf_SplitRadixDepthFirstT(const Rows z, long base, long n, const vc_StageTwiddle* w, long leaf) {
  if (n <= leaf) {
    vf_SplitRadixStagesT(z, base, n, w);
    return;
  }
  const long q = n / 4;
  const vc_StageTwiddle* ws = w + (q - 1);
  for (long j = 0; j < q; ++j) {
    vf_SplitRadixButterfly(z, base + j, q, ws[j]);
  }
  vf_SplitRadixDepthFirstT(z, base, 2 * q, w, leaf);
  vf_SplitRadixDepthFirstT(z, base + 2 * q, q, w, leaf);
  vf_SplitRadixDepthFirstT(z, base + 3 * q, q, w, leaf);
}

// Transforms the row(s) of z, each of length n, in place. w holds the sequences of
// spans up to n at least; bitReverse is the table of vf_BitReverseTable for n.
template <class Rows>
void vf_RowTransformT(const Rows z, long n, int direction, const vc_StageTwiddle* w, const long* bitReverse,
                      long leaf) {
  if (n < 2) {
    return;
  }
  if (direction < 0) {
    vf_ConjugateRow(z, n);
  }
  vf_SplitRadixDepthFirstT(z, 0, n, w, leaf);
  for (long i = 1; i < n; ++i) {
    if (bitReverse[i] > 0) {
      z.swap(i - 1, bitReverse[i] - 1);
    }
  }
  if (direction < 0) {
    vf_ConjugateRow(z, n);
  }
}

// The scalar instantiation: one row of n complex floats at row. A scalar row of up to
// 2048 values (16 KiB) fits the innermost cache whole, so it runs stage by stage.
inline void vf_RowTransform(float* row, long n, int direction, const vc_StageTwiddle* w, const long* bitReverse) {
  vf_RowTransformT(vc_ScalarRow{row}, n, direction, w, bitReverse, 2048);
}

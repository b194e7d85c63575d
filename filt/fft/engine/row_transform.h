// One-dimensional row transform: split-radix decimation in frequency.
//
// Convention: unscaled, in place on n interleaved complex floats (n a power of two),
// natural order in and out. direction >= 0 computes X[k] = sum_m z[m] exp(-2 pi i mk/n);
// direction < 0 computes the same sum with exp(+2 pi i mk/n), as the conjugate of the
// forward transform of the conjugate.
//
// Rounding: each butterfly loads its operands as floats, forms its sums and products in
// double and rounds each result once when it stores it. The twiddles of a stage come
// from a recurrence carried in double, started at 1 and multiplied each step by the
// stage's single-precision table values, so every build gets the same bits. Nothing
// may be contracted into fused multiply-adds (the engine is built with
// -ffp-contract=off).
//
// The kernel is written once, as a template over a set of rows. A row set names its
// lane type (the arithmetic type of one value across the rows it carries) and gives
//     Lane re(long i), Lane im(long i)      load element i (float widened to the lane)
//     void put(long i, Lane re, Lane im)    round to float and store element i
//     void swap(long i, long j)             exchange elements i and j
// A lane is built from a double by broadcast and supports + - * and unary -. The
// scalar row set below carries one row with double lanes; a vector row set carries
// several independent rows of equal length, one per lane, and performs per lane exactly
// the operations of the scalar one, so it gives identical bits.
#pragma once

#include "twiddles.h"

#include <bit>
#include <utility>

// One row, one double per value.
struct vc_ScalarRow
{
    using Lane = double;
    float* z;

    Lane re(long i) const { return z[2 * i]; }
    Lane im(long i) const { return z[2 * i + 1]; }
    void put(long i, Lane r, Lane m) const
    {
        z[2 * i] = static_cast<float>(r);
        z[2 * i + 1] = static_cast<float>(m);
    }
    void swap(long i, long j) const
    {
        std::swap(z[2 * i], z[2 * j]);
        std::swap(z[2 * i + 1], z[2 * j + 1]);
    }
};

// The L-shaped butterfly of Sorensen, Heideman and Burrus (1986) on the four values at
// i0, i0 + q, i0 + 2q, i0 + 3q. With a = z0 - z2 and b = z1 - z3:
//     z0 <- z0 + z2,  z1 <- z1 + z3,
//     z2 <- (a - ib) conj(w1),  z3 <- (a + ib) conj(w3).
template <class Rows>
inline void vf_SplitRadixButterfly(const Rows& z, long i0, long q, typename Rows::Lane c1,
                                   typename Rows::Lane s1, typename Rows::Lane c3,
                                   typename Rows::Lane s3)
{
    using Lane = typename Rows::Lane;
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
inline void vf_RadixTwoButterfly(const Rows& z, long i0)
{
    using Lane = typename Rows::Lane;
    const Lane r0 = z.re(i0), m0 = z.im(i0);
    const Lane r1 = z.re(i0 + 1), m1 = z.im(i0 + 1);
    z.put(i0, r0 + r1, m0 + m1);
    z.put(i0 + 1, r0 - r1, m0 - m1);
}

template <class Rows>
inline void vf_ConjugateRow(const Rows& z, long n)
{
    for (long i = 0; i < n; ++i) {
        z.put(i, z.re(i), -z.im(i));
    }
}

// Transforms the rows of z, each of length n, in place. bitReverse is the table of
// vf_BitReverseTable for n.
template <class Rows>
void vf_RowTransformT(const Rows& z, long n, int direction, const vc_Twiddles& table,
                      const long* bitReverse)
{
    using Lane = typename Rows::Lane;
    if (n < 2) {
        return;
    }
    if (direction < 0) {
        vf_ConjugateRow(z, n);
    }

    // Spans s = n, n/2, ..., 4; table entry log2(s) holds theta = 2 pi / s.
    int k = std::countr_zero(static_cast<unsigned long>(n));
    for (long s = n; s >= 4; s /= 2, --k) {
        const long q = s / 4;
        const double c1 = table.cos1[k], s1 = table.sin1[k];
        const double c3 = table.cos3[k], s3 = table.sin3[k];
        double w1r = 1.0, w1i = 0.0, w3r = 1.0, w3i = 0.0;
        for (long j = 0; j < q; ++j) {
            const Lane lc1(w1r), ls1(w1i), lc3(w3r), ls3(w3i);
            long is = j;
            long id = 2 * s;
            do {
                for (long i0 = is; i0 < n - 1; i0 += id) {
                    vf_SplitRadixButterfly(z, i0, q, lc1, ls1, lc3, ls3);
                }
                is = 2 * id - s + j;
                id *= 4;
            } while (is < n - 1);
            const double t1 = w1r;
            w1r = t1 * c1 - w1i * s1;
            w1i = t1 * s1 + w1i * c1;
            const double t3 = w3r;
            w3r = t3 * c3 - w3i * s3;
            w3i = t3 * s3 + w3i * c3;
        }
    }

    long is = 0;
    long id = 4;
    do {
        for (long i0 = is; i0 < n; i0 += id) {
            vf_RadixTwoButterfly(z, i0);
        }
        is = 2 * id - 2;
        id *= 4;
    } while (is < n - 1);

    for (long i = 1; i < n; ++i) {
        if (bitReverse[i] > 0) {
            z.swap(i - 1, bitReverse[i] - 1);
        }
    }

    if (direction < 0) {
        vf_ConjugateRow(z, n);
    }
}

// The scalar instantiation: one row of n complex floats at row.
inline void vf_RowTransform(float* row, long n, int direction, const vc_Twiddles& table,
                            const long* bitReverse)
{
    vf_RowTransformT(vc_ScalarRow{row}, n, direction, table, bitReverse);
}

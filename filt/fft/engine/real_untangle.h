// Untangling a real row from its half-length complex transform.
//
// A row of W real samples x0 ... x(W-1) is read as n = W/2 complex values
// z_m = x_2m + i x_(2m+1) and transformed forward with length n, giving Z[0 ... n-1].
// The untangle turns Z into the half spectrum X[0 ... W/2] of the real row, in place,
// X[W/2] landing on element n (the first element of the row's second half):
//     H1 = (Z[k] + conj Z[n-k]) / 2,  H2 = (Z[k] - conj Z[n-k]) / (2i),
//     X[k] = H1 + w_k H2,  X[n-k] = conj(H1 - w_k H2),  w_k = exp(-2 pi i k/W),
// for k = 1 ... W/4 - 1; X[W/4] = conj Z[W/4]; X[0] = Re Z[0] + Im Z[0] and
// X[W/2] = Re Z[0] - Im Z[0], both with imaginary part exactly 0.
//
// Rounding: values are loaded as floats, combined in the lane type (double for the
// scalar lane) and rounded once on store. The product w_k H2 is formed first and then
// added to or subtracted from H1. The w_k are not evaluated per k but come from the
// recurrence w_1 = (1 + wpr) + i wpi, w_(k+1) = w_k + w_k (wpr + i wpi), with
// wpr = -2 sin^2(theta/2) and wpi = -sin(theta) (theta = pi/n) rounded to float, the real
// part of w carried in double and its imaginary part rounded to float after each step.
// The recurrence is shared by all lanes, so it is scalar. Row sets are those of
// row_transform.h.
#pragma once

#include <cmath>

struct vc_UntangleStep
{
    double wpr;
    double wpi;
};

inline vc_UntangleStep vf_MakeUntangleStep(long width)
{
    constexpr double pi = 3.141592653589793;
    const double theta = pi / static_cast<double>(width / 2);
    const double half = std::sin(0.5 * theta);
    return {static_cast<float>(-2.0 * half * half), static_cast<float>(-std::sin(theta))};
}

template <class Rows>
void vf_UntangleRealRowT(const Rows& z, long width, const vc_UntangleStep& step)
{
    using Lane = typename Rows::Lane;
    const long n = width / 2;
    const Lane half(0.5), minusHalf(-0.5);
    double wr = 1.0 + step.wpr;
    double wi = step.wpi;
    for (long k = 1; k < width / 4; ++k) {
        const long m = n - k;
        const Lane rk = z.re(k), ik = z.im(k);
        const Lane rm = z.re(m), im = z.im(m);
        const Lane h1r = half * (rk + rm), h1i = half * (ik - im);
        const Lane h2r = half * (ik + im), h2i = minusHalf * (rk - rm);
        const Lane lwr(wr), lwi(wi);
        const Lane pr = lwr * h2r - lwi * h2i;
        const Lane pi = lwr * h2i + lwi * h2r;
        z.put(k, h1r + pr, h1i + pi);
        z.put(m, h1r - pr, -(h1i - pi));
        const double t = wr;
        wr = t + (t * step.wpr - wi * step.wpi);
        wi = static_cast<float>(wi + (t * step.wpi + wi * step.wpr));
    }
    if (width >= 4) {
        z.put(width / 4, z.re(width / 4), -z.im(width / 4));
    }
    const Lane r0 = z.re(0), i0 = z.im(0);
    const Lane zero(0.0);
    z.put(0, r0 + i0, zero);
    z.put(n, r0 - i0, zero);
}

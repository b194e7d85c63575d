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
// The sequence is the same for every row of a width, so it is evaluated once per call
// (vc_UntangleTwiddles) and broadcast to all lanes. Row sets are those of
// row_transform.h.
#pragma once

#include <cmath>
#include <cstddef>
#include <memory>

// w_k = re + i im of one k.
struct vc_UntangleTwiddle {
  double re, im;
};

// w_1 ... w_(W/4 - 1) of one width W, at entries 0 ... W/4 - 2.
class vc_UntangleTwiddles {
 public:
  explicit vc_UntangleTwiddles(long width)
      : w_(std::make_unique_for_overwrite<vc_UntangleTwiddle[]>(
            static_cast<std::size_t>(width >= 8 ? width / 4 - 1 : 0))) {
    constexpr double pi = 3.141592653589793;
    const double theta = pi / static_cast<double>(width >= 2 ? width / 2 : 1);
    const double half = std::sin(0.5 * theta);
    const double wpr = static_cast<float>(-2.0 * half * half);
    const double wpi = static_cast<float>(-std::sin(theta));
    double wr = 1.0 + wpr;
    double wi = wpi;
    for (long k = 1; k < width / 4; ++k) {
      w_[static_cast<std::size_t>(k - 1)] = {wr, wi};
      const double t = wr;
      wr = t + (t * wpr - wi * wpi);
      wi = static_cast<float>(wi + (t * wpi + wi * wpr));
    }
  }

  const vc_UntangleTwiddle* data() const { return w_.get(); }

 private:
  std::unique_ptr<vc_UntangleTwiddle[]> w_;
};

template <class Rows>
void vf_UntangleRealRowT(const Rows z, long width, const vc_UntangleTwiddle* w) {
  using Lane = typename Rows::Lane;
  const long n = width / 2;
  const Lane half(0.5), minusHalf(-0.5);
  for (long k = 1; k < width / 4; ++k) {
    const long m = n - k;
    const Lane rk = z.re(k), ik = z.im(k);
    const Lane rm = z.re(m), im = z.im(m);
    const Lane h1r = half * (rk + rm), h1i = half * (ik - im);
    const Lane h2r = half * (ik + im), h2i = minusHalf * (rk - rm);
    const Lane lwr(w[k - 1].re), lwi(w[k - 1].im);
    const Lane pr = lwr * h2r - lwi * h2i;
    const Lane pi = lwr * h2i + lwi * h2r;
    z.put(k, h1r + pr, h1i + pi);
    z.put(m, h1r - pr, -(h1i - pi));
  }
  if (width >= 4) {
    z.put(width / 4, z.re(width / 4), -z.im(width / 4));
  }
  const Lane r0 = z.re(0), i0 = z.im(0);
  const Lane zero(0.0);
  z.put(0, r0 + i0, zero);
  z.put(n, r0 - i0, zero);
}

#include "support/dft_oracle.h"

#include <cmath>
#include <numbers>

#if VEXFILT_ORACLE_FFTW
#include <fftw3.h>
#endif

namespace oracle {

#if VEXFILT_ORACLE_FFTW

const char* name() {
  return "FFTW";
}

void forward2D(long w, long h, const Cvec& z, Cvec& Z) {
  Z = z;
  auto* p = reinterpret_cast<fftw_complex*>(Z.data());
  // Rows are the fast dimension, so the plan is h x w.
  const fftw_plan plan = fftw_plan_dft_2d(int(h), int(w), p, p, FFTW_FORWARD, FFTW_ESTIMATE);
  fftw_execute(plan);
  fftw_destroy_plan(plan);
}

bool affordable(long, long) {
  return true;
}

void cleanup() {
  fftw_cleanup();
}

#else

const char* name() {
  return "DFT";
}

namespace {

// The n-point DFT of the n values at in[0], in[stride], ... into out[0 .. n-1].
void dft1D(long n, const std::complex<double>* in, long stride, const Cvec& twiddle, std::complex<double>* out) {
  for (long u = 0; u < n; ++u) {
    std::complex<double> sum = 0.0;
    long k = 0;  // u x mod n, kept exact by stepping
    for (long x = 0; x < n; ++x) {
      sum += in[x * stride] * twiddle[std::size_t(k)];
      k += u;
      if (k >= n) k -= n;
    }
    out[u] = sum;
  }
}

// exp(-2 pi i k / n) for k = 0 .. n-1.
Cvec twiddles(long n) {
  Cvec t(static_cast<std::size_t>(n));
  for (long k = 0; k < n; ++k) t[std::size_t(k)] = std::polar(1.0, -2.0 * std::numbers::pi * double(k) / double(n));
  return t;
}

}  // namespace

void forward2D(long w, long h, const Cvec& z, Cvec& Z) {
  Cvec rows(z.size()), column(static_cast<std::size_t>(h));
  const Cvec tw = twiddles(w), th = twiddles(h);
  for (long y = 0; y < h; ++y) dft1D(w, z.data() + y * w, 1, tw, rows.data() + y * w);
  Z.resize(z.size());
  for (long x = 0; x < w; ++x) {
    dft1D(h, rows.data() + x, w, th, column.data());
    for (long y = 0; y < h; ++y) Z[std::size_t(y * w + x)] = column[std::size_t(y)];
  }
}

bool affordable(long w, long h) {
  return double(w) * double(h) * double(w + h) <= double(1L << 26);
}

void cleanup() {}

#endif

}  // namespace oracle

#include "vision/windows_dft.h"

#include <cmath>
#include <numbers>

#include "vexstd/exception.h"
#include "vexsys/attention.h"

namespace vf_vision {
namespace {

long vf_NextPowerOfTwo(long n) {
  long m = 1;
  while (m < n) m <<= 1;
  return m;
}

// exp(-2 pi i num / den) with num reduced modulo den first, so large
// products stay exact before the angle is formed.
vcComplexD vf_Twiddle(long long num, long long den) {
  const long long r = ((num % den) + den) % den;
  return std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(r) / static_cast<double>(den));
}

}  // namespace

vc_Dft1D::vc_Dft1D(long n) : n_(n < 1 ? 1 : n) {
  const bool power = (n_ & (n_ - 1)) == 0;
  m_ = power ? n_ : vf_NextPowerOfTwo(2 * n_ - 1);
  twiddle_.resize(static_cast<std::size_t>(m_ / 2 > 0 ? m_ / 2 : 1));
  for (long k = 0; k < m_ / 2; ++k) twiddle_[static_cast<std::size_t>(k)] = vf_Twiddle(k, m_);
  reverse_.resize(static_cast<std::size_t>(m_));
  int bits = 0;
  while ((1L << bits) < m_) ++bits;
  for (long i = 0; i < m_; ++i) {
    long r = 0;
    for (int b = 0; b < bits; ++b)
      if (i & (1L << b)) r |= 1L << (bits - 1 - b);
    reverse_[static_cast<std::size_t>(i)] = r;
  }
  if (power) return;
  // Bluestein: X[k] = conj(c[k]) sum_n (x[n] conj(c[n])) c[k - n] with
  // c[k] = exp(i pi k^2 / n); the convolution runs through length m_.
  chirp_.resize(static_cast<std::size_t>(n_));
  for (long k = 0; k < n_; ++k)
    chirp_[static_cast<std::size_t>(k)] = vf_Twiddle(static_cast<long long>(k) * k, 2LL * n_);  // exp(-i pi k^2/n)
  chirpHat_.assign(static_cast<std::size_t>(m_), vcComplexD(0.0, 0.0));
  chirpHat_[0] = std::conj(chirp_[0]);
  for (long k = 1; k < n_; ++k) {
    chirpHat_[static_cast<std::size_t>(k)] = std::conj(chirp_[static_cast<std::size_t>(k)]);
    chirpHat_[static_cast<std::size_t>(m_ - k)] = std::conj(chirp_[static_cast<std::size_t>(k)]);
  }
  radix2(chirpHat_.data(), false, m_, twiddle_);
}

void vc_Dft1D::radix2(vcComplexD* a, bool inverse, long m, const std::vector<vcComplexD>& twiddle) const {
  for (long i = 0; i < m; ++i) {
    const long r = reverse_[static_cast<std::size_t>(i)];
    if (r > i) std::swap(a[i], a[r]);
  }
  for (long len = 2; len <= m; len <<= 1) {
    const long half = len >> 1;
    const long step = m / len;
    for (long start = 0; start < m; start += len) {
      for (long j = 0; j < half; ++j) {
        vcComplexD w = twiddle[static_cast<std::size_t>(j * step)];
        if (inverse) w = std::conj(w);
        const vcComplexD u = a[start + j];
        const vcComplexD v = a[start + j + half] * w;
        a[start + j] = u + v;
        a[start + j + half] = u - v;
      }
    }
  }
}

void vc_Dft1D::run(vcComplexD* data, bool inverse, std::vector<vcComplexD>& scratch) const {
  if (chirp_.empty()) {
    radix2(data, inverse, m_, twiddle_);
    return;
  }
  // The inverse is the conjugate of the forward transform of the conjugate.
  scratch.assign(static_cast<std::size_t>(m_), vcComplexD(0.0, 0.0));
  for (long k = 0; k < n_; ++k) {
    const vcComplexD x = inverse ? std::conj(data[k]) : data[k];
    scratch[static_cast<std::size_t>(k)] = x * chirp_[static_cast<std::size_t>(k)];
  }
  radix2(scratch.data(), false, m_, twiddle_);
  for (long k = 0; k < m_; ++k) scratch[static_cast<std::size_t>(k)] *= chirpHat_[static_cast<std::size_t>(k)];
  radix2(scratch.data(), true, m_, twiddle_);
  const double scale = 1.0 / static_cast<double>(m_);
  for (long k = 0; k < n_; ++k) {
    const vcComplexD y = scratch[static_cast<std::size_t>(k)] * scale * chirp_[static_cast<std::size_t>(k)];
    data[k] = inverse ? std::conj(y) : y;
  }
}

void vf_Dft2D(std::vector<vcComplexD>& data, long width, long height, bool inverse) {
  const vc_Dft1D rows(width);
  const vc_Dft1D cols(height);
  std::vector<vcComplexD> scratch;
  for (long y = 0; y < height; ++y) {
    if (y % 16 == 0) vfThrowExceptionOnFailure(vsys_attention_check());
    rows.run(data.data() + y * width, inverse, scratch);
  }
  std::vector<vcComplexD> column(static_cast<std::size_t>(height));
  for (long x = 0; x < width; ++x) {
    if (x % 16 == 0) vfThrowExceptionOnFailure(vsys_attention_check());
    for (long y = 0; y < height; ++y)
      column[static_cast<std::size_t>(y)] = data[static_cast<std::size_t>(y * width + x)];
    cols.run(column.data(), inverse, scratch);
    for (long y = 0; y < height; ++y)
      data[static_cast<std::size_t>(y * width + x)] = column[static_cast<std::size_t>(y)];
  }
}

}  // namespace vf_vision

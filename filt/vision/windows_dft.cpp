#include "vision/windows_dft.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "vexstd/exception.h"
#include "vexsys/attention.h"

namespace vf_vision {
namespace {

// Complex product without the library's NaN and infinity recovery (which
// costs a call per product); the inputs here are always finite.
inline vcComplexD vf_Mul(vcComplexD a, vcComplexD b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// exp(-2 pi i num / den), the numerator reduced modulo den first so that
// the angle is formed from an exact fraction.
vcComplexD vf_Twiddle(long long num, long long den) {
  const long long r = ((num % den) + den) % den;
  return std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(r) / static_cast<double>(den));
}

std::vector<int> vf_Radices(long n) {
  std::vector<int> r;
  while (n % 4 == 0) r.push_back(4), n /= 4;
  while (n % 2 == 0) r.push_back(2), n /= 2;
  while (n % 3 == 0) r.push_back(3), n /= 3;
  while (n % 5 == 0) r.push_back(5), n /= 5;
  return r;
}

}  // namespace

bool vf_IsFastLength(long n) {
  if (n < 1) return false;
  for (long p : {2L, 3L, 5L})
    while (n % p == 0) n /= p;
  return n == 1;
}

long vf_FastLengthBelow(long n) {
  while (n > 1 && !vf_IsFastLength(n)) --n;
  return n < 1 ? 1 : n;
}

vc_Dft1D::vc_Dft1D(long n) : n_(n < 1 ? 1 : n) {
  const bool fast = vf_IsFastLength(n_);
  if (fast) {
    m_ = n_;
  } else {
    m_ = 1;
    while (m_ < 2 * n_ - 1) m_ <<= 1;
  }
  radices_ = vf_Radices(m_);
  twiddle_.resize(static_cast<std::size_t>(m_));
  for (long k = 0; k < m_; ++k) twiddle_[static_cast<std::size_t>(k)] = vf_Twiddle(k, m_);
  if (fast) return;
  // Bluestein: X[k] = c[k] sum_n (x[n] c[n]) conj(c[k - n]) with c[k] =
  // exp(-i pi k^2 / n); the convolution runs through length m_ >= 2n - 1.
  chirp_.resize(static_cast<std::size_t>(n_));
  for (long k = 0; k < n_; ++k)
    chirp_[static_cast<std::size_t>(k)] = vf_Twiddle(static_cast<long long>(k) * k, 2LL * n_);
  chirpHat_.assign(static_cast<std::size_t>(m_), vcComplexD(0.0, 0.0));
  chirpHat_[0] = std::conj(chirp_[0]);
  for (long k = 1; k < n_; ++k) {
    chirpHat_[static_cast<std::size_t>(k)] = std::conj(chirp_[static_cast<std::size_t>(k)]);
    chirpHat_[static_cast<std::size_t>(m_ - k)] = std::conj(chirp_[static_cast<std::size_t>(k)]);
  }
  std::vector<vcComplexD> work(static_cast<std::size_t>(m_));
  stockham(chirpHat_.data(), 1, false, work.data());
}

// Stockham decimation in frequency: a stage of radix p over length l = p m
// (stride s, so far l * s == m_) reads x[u + S (j + t m)] and writes
// y[u + S (p j + r)] = w_l^(r j) sum_t x[u + S (j + t m)] w_p^(r t), with
// S = batch * s and u running over the S interleaved sub-sequences. The
// output lands in natural order after the last stage.
void vc_Dft1D::stockham(vcComplexD* data, long batch, bool inverse, vcComplexD* work) const {
  const double sign = inverse ? 1.0 : -1.0;
  const vcComplexD w3(-0.5, sign * std::sqrt(3.0) / 2.0);  // exp(-+2 pi i / 3)
  const vcComplexD w5a = std::polar(1.0, sign * 2.0 * std::numbers::pi / 5.0);
  const vcComplexD w5b = std::polar(1.0, sign * 4.0 * std::numbers::pi / 5.0);
  vcComplexD* x = data;
  vcComplexD* y = work;
  long l = m_;
  long s = 1;
  for (int p : radices_) {
    const long m = l / p;
    const long S = batch * s;
    for (long j = 0; j < m; ++j) {
      // w_l^(r j) = twiddle_[s r j]
      vcComplexD tw[5];
      for (int r = 0; r < p; ++r) {
        const vcComplexD t = twiddle_[static_cast<std::size_t>(s * r * j)];
        tw[r] = inverse ? std::conj(t) : t;
      }
      const vcComplexD* in = x + S * j;
      vcComplexD* out = y + S * p * j;
      const long step = S * m;
      switch (p) {
        case 2:
          for (long u = 0; u < S; ++u) {
            const vcComplexD a = in[u], b = in[u + step];
            out[u] = a + b;
            out[u + S] = vf_Mul(a - b, tw[1]);
          }
          break;
        case 4:
          for (long u = 0; u < S; ++u) {
            const vcComplexD a = in[u], b = in[u + step], c = in[u + 2 * step], d = in[u + 3 * step];
            const vcComplexD apc = a + c, amc = a - c, bpd = b + d, bmd = b - d;
            // (b - d) times -i (forward) or +i (inverse)
            const vcComplexD ib(-sign * bmd.imag(), sign * bmd.real());
            out[u] = apc + bpd;
            out[u + S] = vf_Mul(amc + ib, tw[1]);
            out[u + 2 * S] = vf_Mul(apc - bpd, tw[2]);
            out[u + 3 * S] = vf_Mul(amc - ib, tw[3]);
          }
          break;
        case 3:
          for (long u = 0; u < S; ++u) {
            const vcComplexD a = in[u], b = in[u + step], c = in[u + 2 * step];
            out[u] = a + b + c;
            out[u + S] = vf_Mul(a + vf_Mul(b, w3) + vf_Mul(c, std::conj(w3)), tw[1]);
            out[u + 2 * S] = vf_Mul(a + vf_Mul(b, std::conj(w3)) + vf_Mul(c, w3), tw[2]);
          }
          break;
        default:  // 5
          for (long u = 0; u < S; ++u) {
            const vcComplexD a = in[u], b = in[u + step], c = in[u + 2 * step], d = in[u + 3 * step],
                             e = in[u + 4 * step];
            out[u] = a + b + c + d + e;
            out[u + S] = vf_Mul(
                a + vf_Mul(b, w5a) + vf_Mul(c, w5b) + vf_Mul(d, std::conj(w5b)) + vf_Mul(e, std::conj(w5a)), tw[1]);
            out[u + 2 * S] = vf_Mul(
                a + vf_Mul(b, w5b) + vf_Mul(c, std::conj(w5a)) + vf_Mul(d, w5a) + vf_Mul(e, std::conj(w5b)), tw[2]);
            out[u + 3 * S] = vf_Mul(
                a + vf_Mul(b, std::conj(w5b)) + vf_Mul(c, w5a) + vf_Mul(d, std::conj(w5a)) + vf_Mul(e, w5b), tw[3]);
            out[u + 4 * S] = vf_Mul(
                a + vf_Mul(b, std::conj(w5a)) + vf_Mul(c, std::conj(w5b)) + vf_Mul(d, w5b) + vf_Mul(e, w5a), tw[4]);
          }
          break;
      }
    }
    std::swap(x, y);
    l = m;
    s *= p;
  }
  if (x != data)
    for (long i = 0; i < batch * m_; ++i) data[i] = x[i];
}

void vc_Dft1D::run(vcComplexD* data, long batch, bool inverse, std::vector<vcComplexD>& scratch) const {
  if (chirp_.empty()) {
    if (scratch.size() < static_cast<std::size_t>(batch * m_)) scratch.resize(static_cast<std::size_t>(batch * m_));
    stockham(data, batch, inverse, scratch.data());
    return;
  }
  // Bluestein, one sequence at a time. The inverse is the conjugate of the
  // forward transform of the conjugate.
  const std::size_t need = static_cast<std::size_t>(2 * m_);
  if (scratch.size() < need) scratch.resize(need);
  vcComplexD* a = scratch.data();
  vcComplexD* work = scratch.data() + m_;
  const double scale = 1.0 / static_cast<double>(m_);
  for (long b = 0; b < batch; ++b) {
    for (long k = 0; k < m_; ++k) a[k] = vcComplexD(0.0, 0.0);
    for (long k = 0; k < n_; ++k) {
      const vcComplexD x = data[b + batch * k];
      a[k] = vf_Mul(inverse ? std::conj(x) : x, chirp_[static_cast<std::size_t>(k)]);
    }
    stockham(a, 1, false, work);
    for (long k = 0; k < m_; ++k) a[k] = vf_Mul(a[k], chirpHat_[static_cast<std::size_t>(k)]);
    stockham(a, 1, true, work);
    for (long k = 0; k < n_; ++k) {
      const vcComplexD y = a[k] * scale * chirp_[static_cast<std::size_t>(k)];
      data[b + batch * k] = inverse ? std::conj(y) : y;
    }
  }
}

void vf_Dft2D(std::vector<vcComplexD>& data, long width, long height, bool inverse) {
  const vc_Dft1D rows(width);
  const vc_Dft1D cols(height);
  std::vector<vcComplexD> scratch;
  std::vector<vcComplexD> block;
  // Rows in blocks of up to 64, gathered with the rows interleaved (element
  // x of row b at x * rows + b) so that every stage runs long contiguous
  // inner loops over the rows of the block.
  constexpr long kBlock = 64;
  for (long y0 = 0; y0 < height; y0 += kBlock) {
    vfThrowExceptionOnFailure(vsys_attention_check());
    const long bh = std::min(kBlock, height - y0);
    block.resize(static_cast<std::size_t>(bh * width));
    for (long b = 0; b < bh; ++b)
      for (long x = 0; x < width; ++x)
        block[static_cast<std::size_t>(x * bh + b)] = data[static_cast<std::size_t>((y0 + b) * width + x)];
    rows.run(block.data(), bh, inverse, scratch);
    for (long b = 0; b < bh; ++b)
      for (long x = 0; x < width; ++x)
        data[static_cast<std::size_t>((y0 + b) * width + x)] = block[static_cast<std::size_t>(x * bh + b)];
  }
  // Columns in blocks of 64 adjacent columns, gathered so that a block's
  // transform runs over contiguous memory with the columns interleaved.
  for (long x0 = 0; x0 < width; x0 += kBlock) {
    vfThrowExceptionOnFailure(vsys_attention_check());
    const long bw = std::min(kBlock, width - x0);
    block.resize(static_cast<std::size_t>(bw * height));
    for (long y = 0; y < height; ++y)
      for (long b = 0; b < bw; ++b)
        block[static_cast<std::size_t>(y * bw + b)] = data[static_cast<std::size_t>(y * width + x0 + b)];
    cols.run(block.data(), bw, inverse, scratch);
    for (long y = 0; y < height; ++y)
      for (long b = 0; b < bw; ++b)
        data[static_cast<std::size_t>(y * width + x0 + b)] = block[static_cast<std::size_t>(y * bw + b)];
  }
}

void vf_RealDft2D(const double* image, long width, long height, std::vector<vcComplexD>& out) {
  const long w = width;
  const long h = height;
  out.resize(static_cast<std::size_t>(w * h));
  const vc_Dft1D rows(w);
  const vc_Dft1D cols(h);
  std::vector<vcComplexD> scratch;
  std::vector<vcComplexD> block;
  constexpr long kBlock = 64;
  const long half = w / 2 + 1;  // columns 0 .. w/2
  // Rows y and y + 1 as one complex row z = a + i b, in blocks of pairs laid
  // out as in vf_Dft2D; then A(k) = (Z(k) + conj Z(-k)) / 2 and B(k) = (Z(k)
  // - conj Z(-k)) / 2i, kept for k <= w/2.
  const long pairs = (h + 1) / 2;
  for (long p0 = 0; p0 < pairs; p0 += kBlock) {
    vfThrowExceptionOnFailure(vsys_attention_check());
    const long bp = std::min(kBlock, pairs - p0);
    block.resize(static_cast<std::size_t>(bp * w));
    for (long b = 0; b < bp; ++b) {
      const long y = 2 * (p0 + b);
      const double* a = image + y * w;
      const double* c = y + 1 < h ? image + (y + 1) * w : nullptr;
      for (long x = 0; x < w; ++x) block[static_cast<std::size_t>(x * bp + b)] = vcComplexD(a[x], c ? c[x] : 0.0);
    }
    rows.run(block.data(), bp, false, scratch);
    for (long b = 0; b < bp; ++b) {
      const long y = 2 * (p0 + b);
      vcComplexD* o0 = out.data() + y * w;
      vcComplexD* o1 = y + 1 < h ? out.data() + (y + 1) * w : nullptr;
      for (long k = 0; k < half; ++k) {
        const vcComplexD z = block[static_cast<std::size_t>(k * bp + b)];
        const vcComplexD zc = std::conj(block[static_cast<std::size_t>(((w - k) % w) * bp + b)]);
        o0[k] = 0.5 * (z + zc);
        if (o1) {
          const vcComplexD d = z - zc;
          o1[k] = vcComplexD(0.5 * d.imag(), -0.5 * d.real());
        }
      }
    }
  }
  for (long x0 = 0; x0 < half; x0 += kBlock) {
    vfThrowExceptionOnFailure(vsys_attention_check());
    const long bw = std::min(kBlock, half - x0);
    block.resize(static_cast<std::size_t>(bw * h));
    for (long y = 0; y < h; ++y)
      for (long b = 0; b < bw; ++b)
        block[static_cast<std::size_t>(y * bw + b)] = out[static_cast<std::size_t>(y * w + x0 + b)];
    cols.run(block.data(), bw, false, scratch);
    for (long y = 0; y < h; ++y)
      for (long b = 0; b < bw; ++b)
        out[static_cast<std::size_t>(y * w + x0 + b)] = block[static_cast<std::size_t>(y * bw + b)];
  }
  for (long y = 0; y < h; ++y) {
    const vcComplexD* mirror = out.data() + ((h - y) % h) * w;
    vcComplexD* row = out.data() + y * w;
    for (long k = half; k < w; ++k) row[k] = std::conj(mirror[w - k]);
  }
}

}  // namespace vf_vision

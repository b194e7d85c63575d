#include "filt/vision/windows.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "filt/fft.h"
#include "vexsys/attention.h"
#include "vision/windows_dft.h"

using vf_vision::vcComplexD;

namespace {

void vf_CheckBound(const vc_PelBuffer& image) {
  if (!image.isBound()) throw vcFrequencyDefs::UnboundWindow();
}

void vf_ApplySeparable(vcPelBuffer<double>& image, const std::vector<double>& wx, const std::vector<double>& wy) {
  double* row = image.pointToOffset();
  const long stride = image.rep().rowStride();
  for (long y = 0; y < image.height(); ++y, row += stride)
    for (long x = 0; x < image.width(); ++x)
      row[x] *= wx[static_cast<std::size_t>(x)] * wy[static_cast<std::size_t>(y)];
}

// Sum over (0..n-1) of d[i] exp(-2 pi i k i / n) for every k: one 1-D
// transform of the edge differences.
std::vector<vcComplexD> vf_EdgeTransform(std::vector<vcComplexD> d) {
  const vf_vision::vc_Dft1D plan(static_cast<long>(d.size()));
  std::vector<vcComplexD> scratch;
  plan.run(d.data(), 1, false, scratch);
  return d;
}

}  // namespace

std::vector<double> vfHannWindow(long n) {
  return vfTukeyWindow(n, 1.0);
}

std::vector<double> vfTukeyWindow(long n, double alpha) {
  if (n < 1) throw std::invalid_argument("vfTukeyWindow: the length must be at least 1");
  if (!(alpha >= 0.0 && alpha <= 1.0)) throw std::invalid_argument("vfTukeyWindow: alpha must be in [0, 1]");
  std::vector<double> w(static_cast<std::size_t>(n), 1.0);
  const double taper = alpha / 2.0;  // fraction of the length tapered at each end
  for (long i = 0; i < n; ++i) {
    // Distance of the pixel centre from the nearer end, as a fraction of n.
    const double t = std::min(i + 0.5, n - i - 0.5) / static_cast<double>(n);
    if (t < taper) {
      const double s = std::sin(std::numbers::pi / 2.0 * t / taper);
      w[static_cast<std::size_t>(i)] = s * s;
    }
  }
  return w;
}

void vfApplyHannWindow(vcPelBuffer<double>& image) {
  vfApplyTukeyWindow(image, 1.0);
}

void vfApplyTukeyWindow(vcPelBuffer<double>& image, double alpha) {
  vf_CheckBound(image);
  if (!(alpha >= 0.0 && alpha <= 1.0)) throw std::invalid_argument("vfApplyTukeyWindow: alpha must be in [0, 1]");
  if (image.width() < 1 || image.height() < 1) return;
  vf_ApplySeparable(image, vfTukeyWindow(image.width(), alpha), vfTukeyWindow(image.height(), alpha));
}

std::vector<std::complex<double>> vfSmoothComponentSpectrum(const vcPelBuffer_const<double>& image) {
  vf_CheckBound(image);
  const long w = image.width();
  const long h = image.height();
  if (w < 1 || h < 1) return {};
  // Boundary image v: on the top row u(H-1, x) - u(0, x), on the bottom row
  // its negative, likewise for the columns (summed in the corners). Its
  // transform separates: V(q, r) = A(r) (1 - exp(2 pi i q / H)) + B(q) (1 -
  // exp(2 pi i r / W)), A and B the 1-D transforms of the row and column
  // differences.
  std::vector<vcComplexD> a(static_cast<std::size_t>(w));
  std::vector<vcComplexD> b(static_cast<std::size_t>(h));
  for (long x = 0; x < w; ++x) a[static_cast<std::size_t>(x)] = image.get(x, h - 1) - image.get(x, 0);
  for (long y = 0; y < h; ++y) b[static_cast<std::size_t>(y)] = image.get(w - 1, y) - image.get(0, y);
  a = vf_EdgeTransform(std::move(a));
  b = vf_EdgeTransform(std::move(b));
  std::vector<vcComplexD> ex(static_cast<std::size_t>(w));
  std::vector<vcComplexD> ey(static_cast<std::size_t>(h));
  std::vector<double> cx(static_cast<std::size_t>(w));
  std::vector<double> cy(static_cast<std::size_t>(h));
  for (long x = 0; x < w; ++x) {
    const double t = 2.0 * std::numbers::pi * static_cast<double>(x) / static_cast<double>(w);
    ex[static_cast<std::size_t>(x)] = vcComplexD(1.0 - std::cos(t), -std::sin(t));
    cx[static_cast<std::size_t>(x)] = 2.0 * std::cos(t);
  }
  for (long y = 0; y < h; ++y) {
    const double t = 2.0 * std::numbers::pi * static_cast<double>(y) / static_cast<double>(h);
    ey[static_cast<std::size_t>(y)] = vcComplexD(1.0 - std::cos(t), -std::sin(t));
    cy[static_cast<std::size_t>(y)] = 2.0 * std::cos(t);
  }
  std::vector<vcComplexD> s(static_cast<std::size_t>(w * h));
  for (long y = 0; y < h; ++y) {
    // The row's factors as plain doubles (the loop then keeps them in
    // registers instead of passing complex temporaries through memory).
    const double cyv = cy[static_cast<std::size_t>(y)];
    const double qr = ey[static_cast<std::size_t>(y)].real(), qi = ey[static_cast<std::size_t>(y)].imag();
    const double rr = b[static_cast<std::size_t>(y)].real(), ri = b[static_cast<std::size_t>(y)].imag();
    vcComplexD* row = s.data() + y * w;
    // (0, 0): d == 0, the smooth part has mean 0 (left at 0).
    for (long x = y == 0 ? 1 : 0; x < w; ++x) {
      const double d = cx[static_cast<std::size_t>(x)] + cyv - 4.0;
      const double pr = a[static_cast<std::size_t>(x)].real(), pi = a[static_cast<std::size_t>(x)].imag();
      const double tr = ex[static_cast<std::size_t>(x)].real(), ti = ex[static_cast<std::size_t>(x)].imag();
      const double re = pr * qr - pi * qi + rr * tr - ri * ti;
      const double im = pr * qi + pi * qr + rr * ti + ri * tr;
      const double k = 1.0 / d;
      row[x] = vcComplexD(re * k, im * k);
    }
  }
  return s;
}

vcPeriodicSmooth vfPeriodicSmoothDecomposition(const vcPelBuffer_const<double>& image) {
  vf_CheckBound(image);
  const long w = image.width();
  const long h = image.height();
  std::vector<vcComplexD> s = vfSmoothComponentSpectrum(image);
  vcPeriodicSmooth out{vcPelBuffer<double>(w, h), vcPelBuffer<double>(w, h)};
  out.periodic.offset(image.offset());
  out.smooth.offset(image.offset());
  if (w < 1 || h < 1) return out;
  vf_vision::vf_Dft2D(s, w, h, true);
  const double k = 1.0 / (static_cast<double>(w) * static_cast<double>(h));
  for (long y = 0; y < h; ++y) {
    for (long x = 0; x < w; ++x) {
      const double sv = s[static_cast<std::size_t>(y * w + x)].real() * k;
      out.smooth.set(x, y, sv);
      out.periodic.set(x, y, image.get(x, y) - sv);
    }
  }
  return out;
}

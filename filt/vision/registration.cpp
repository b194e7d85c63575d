// Translation by phase correlation: the coarse stage on the library's FFT,
// the fine stage in double precision on the overlap (see registration.h for
// the method and its measured accuracy).
#include "filt/vision/registration.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "filt/fft.h"
#include "filt/vision/windows.h"
#include "vexsys/attention.h"
#include "vision/registration_support.h"
#include "vision/windows_dft.h"

using vf_vision::vcComplexD;

namespace {

constexpr double kTau = 2.0 * std::numbers::pi;

bool vf_IsPowerOfTwo(long n) { return n > 0 && (n & (n - 1)) == 0; }

// Signed frequency of index k of an n-point transform, in [-n/2, n/2).
long vf_SignedIndex(long k, long n) { return k < (n + 1) / 2 ? k : k - n; }

// Removes the mean and, for the window treatments, applies the window and
// then removes the window-weighted mean again, so that neither the image's
// mean nor the window's own shape reaches the spectrum.
void vf_PrepareEdges(vcPelBuffer<double>& image, const vcPhaseCorrelationOptions& options, vcEdgeTreatment edges) {
  const long w = image.width();
  const long h = image.height();
  const long stride = image.rep().rowStride();
  double* p = image.pointToOffset();
  double sum = 0.0;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) sum += p[y * stride + x];
  const double mean = sum / static_cast<double>(w * h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) p[y * stride + x] -= mean;
  if (edges == vcEdgeTreatment::periodicSmooth || edges == vcEdgeTreatment::none) return;
  const double alpha = edges == vcEdgeTreatment::hann ? 1.0 : options.tukeyAlpha;
  const std::vector<double> wx = vfTukeyWindow(w, alpha);
  const std::vector<double> wy = vfTukeyWindow(h, alpha);
  double su = 0.0;
  double sw = 0.0;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const double wv = wx[static_cast<std::size_t>(x)] * wy[static_cast<std::size_t>(y)];
      su += p[y * stride + x] * wv;
      sw += wv;
    }
  const double wmean = sw > 0.0 ? su / sw : 0.0;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      const double wv = wx[static_cast<std::size_t>(x)] * wy[static_cast<std::size_t>(y)];
      p[y * stride + x] = (p[y * stride + x] - wmean) * wv;
    }
}

// Splits the transform Z of reference + i * moving (two real images) into
// the two spectra: R(k) = (Z(k) + conj Z(-k)) / 2, M(k) = (Z(k) - conj
// Z(-k)) / 2i.
void vf_SplitPair(const std::vector<vcComplexD>& z, long w, long h, std::vector<vcComplexD>& r,
                  std::vector<vcComplexD>& m) {
  r.resize(z.size());
  m.resize(z.size());
  for (long y = 0; y < h; ++y) {
    const long ny = (h - y) % h;
    for (long x = 0; x < w; ++x) {
      const long nx = (w - x) % w;
      const vcComplexD a = z[static_cast<std::size_t>(y * w + x)];
      const vcComplexD b = std::conj(z[static_cast<std::size_t>(ny * w + nx)]);
      r[static_cast<std::size_t>(y * w + x)] = 0.5 * (a + b);
      const vcComplexD d = a - b;
      m[static_cast<std::size_t>(y * w + x)] = vcComplexD(0.5 * d.imag(), -0.5 * d.real());
    }
  }
}

// Circular box sum over (2 radius + 1)^2 neighbours, separable: running
// sums along the rows, then running sums of whole rows down the columns.
void vf_BoxSum(std::vector<double>& a, long w, long h, long radius, std::vector<double>& tmp) {
  tmp.resize(a.size());
  auto wrap = [](long i, long n) { return i < 0 ? i + n : (i >= n ? i - n : i); };
  for (long y = 0; y < h; ++y) {
    const double* row = a.data() + y * w;
    double* out = tmp.data() + y * w;
    double s = 0.0;
    for (long i = -radius; i <= radius; ++i) s += row[((i % w) + w) % w];
    for (long x = 0; x < w; ++x) {
      out[x] = s;
      s += row[wrap(x + radius + 1, w)] - row[wrap(x - radius, w)];
    }
  }
  std::vector<double> sum(static_cast<std::size_t>(w), 0.0);
  for (long i = -radius; i <= radius; ++i) {
    const double* row = tmp.data() + ((i % h) + h) % h * w;
    for (long x = 0; x < w; ++x) sum[static_cast<std::size_t>(x)] += row[x];
  }
  for (long y = 0; y < h; ++y) {
    double* out = a.data() + y * w;
    const double* add = tmp.data() + wrap(y + radius + 1, h) * w;
    const double* sub = tmp.data() + wrap(y - radius, h) * w;
    for (long x = 0; x < w; ++x) {
      out[x] = sum[static_cast<std::size_t>(x)];
      sum[static_cast<std::size_t>(x)] += add[x] - sub[x];
    }
  }
}

// The coarse stage's result.
struct vc_Coarse {
  bool valid = false;  // false: nothing to correlate (flat images)
  double gx = 0.0;     // shift estimate in full-resolution pixels
  double gy = 0.0;
  double confidence = 0.0;
  bool ambiguous = false;
};

// Zero-mean normalised correlation of the two images over their overlap at
// the integer shift (sx, sy); -2 when the overlap is under a tenth of the
// image.
double vf_OverlapCorrelation(const vcPelBuffer_const<double>& r, const vcPelBuffer_const<double>& m, long sx,
                             long sy) {
  const long w = r.width();
  const long h = r.height();
  const long xs = std::max(0L, -sx), xe = std::min(w, w - sx);
  const long ys = std::max(0L, -sy), ye = std::min(h, h - sy);
  if (xe <= xs || ye <= ys || (xe - xs) * (ye - ys) * 10 < w * h) return -2.0;
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (long y = ys; y < ye; ++y)
    for (long x = xs; x < xe; ++x) {
      const double a = r.get(x, y);
      const double b = m.get(x + sx, y + sy);
      sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b;
    }
  const double n = static_cast<double>((xe - xs) * (ye - ys));
  const double va = saa - sa * sa / n;
  const double vb = sbb - sb * sb / n;
  if (!(va > 0.0 && vb > 0.0)) return -2.0;
  return (sab - sa * sb / n) / std::sqrt(va * vb);
}

vcPelBuffer<double> vf_BlockAverage(const vcPelBuffer_const<double>& image, long f) {
  const long w = image.width() / f;
  const long h = image.height() / f;
  vcPelBuffer<double> out(w, h);
  const double k = 1.0 / static_cast<double>(f * f);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      double s = 0.0;
      for (long j = 0; j < f; ++j)
        for (long i = 0; i < f; ++i) s += image.get(x * f + i, y * f + j);
      out.set(x, y, s * k);
    }
  return out;
}

vc_Coarse vf_CoarseStage(const vcPelBuffer_const<double>& reference, const vcPelBuffer_const<double>& moving,
                         long f, const vcPhaseCorrelationOptions& options, vcPelBuffer<double>* surface) {
  // The plain (block-averaged) images stay for the large-shift check; the
  // prepared ones are deep copies (image handles share their pixels).
  const vcPelBuffer<double> rPlain = f > 1 ? vf_BlockAverage(reference, f) : vf_vision::vf_ToDouble(reference);
  const vcPelBuffer<double> mPlain = f > 1 ? vf_BlockAverage(moving, f) : vf_vision::vf_ToDouble(moving);
  vcPelBuffer<double> r = vf_vision::vf_ToDouble<double>(rPlain);
  vcPelBuffer<double> m = vf_vision::vf_ToDouble<double>(mPlain);
  const long cw = r.width();
  const long ch = r.height();
  // The periodic-plus-smooth decomposition needs the transform's period to be
  // the image's; the library pads to powers of two, so other sizes take the
  // Tukey window here (the coarse stage only needs the shift to a pixel).
  vcEdgeTreatment edges = options.edges;
  if (edges == vcEdgeTreatment::periodicSmooth && !(vf_IsPowerOfTwo(cw) && vf_IsPowerOfTwo(ch)))
    edges = vcEdgeTreatment::tukey;
  vf_PrepareEdges(r, options, edges);
  vf_PrepareEdges(m, options, edges);

  vcFrequencyBuffer pair;
  vfForwardFFT<double>(r, m, pair);
  const long pw = pair.width();
  const long ph = pair.height();
  const vcPelBuffer<double> zr = pair.getRealImage(false);
  const vcPelBuffer<double> zi = pair.getImaginaryImage(false);
  std::vector<vcComplexD> z(static_cast<std::size_t>(pw * ph));
  for (long y = 0; y < ph; ++y)
    for (long x = 0; x < pw; ++x) z[static_cast<std::size_t>(y * pw + x)] = vcComplexD(zr.get(x, y), zi.get(x, y));
  std::vector<vcComplexD> rs, ms;
  vf_SplitPair(z, pw, ph, rs, ms);
  if (edges == vcEdgeTreatment::periodicSmooth) {
    const std::vector<vcComplexD> sr = vfSmoothComponentSpectrum(r);
    const std::vector<vcComplexD> sm = vfSmoothComponentSpectrum(m);
    for (std::size_t i = 0; i < rs.size(); ++i) rs[i] -= sr[i], ms[i] -= sm[i];
  }
  // Cross-power spectrum normalised in double with a floor: magnitudes below
  // 1e-6 of the largest are divided by the floor instead, so bins that hold
  // nothing but the float transform's round-off (about 1e-7 of the largest)
  // are not lifted to full weight; exactly-zero bins stay zero.
  std::vector<double> qre(z.size()), qim(z.size());
  double qmax = 0.0;
  for (std::size_t i = 0; i < z.size(); ++i) {
    const vcComplexD q(rs[i].real() * ms[i].real() + rs[i].imag() * ms[i].imag(),
                       rs[i].real() * ms[i].imag() - rs[i].imag() * ms[i].real());  // conj(R) M
    qre[i] = q.real();
    qim[i] = q.imag();
    qmax = std::max(qmax, std::abs(q));
  }
  vc_Coarse out;
  if (!(qmax > 0.0) || !std::isfinite(qmax)) return out;
  const double floor = 1e-6 * qmax;
  double weightSum = 0.0;
  for (std::size_t i = 0; i < z.size(); ++i) {
    const double mag = std::sqrt(qre[i] * qre[i] + qim[i] * qim[i]);
    const double d = std::max(mag, floor);
    qre[i] /= d;
    qim[i] /= d;
    weightSum += mag / d;
  }
  qre[0] = qim[0] = 0.0;  // the means are gone; the zero frequency holds only round-off
  vcPelBuffer<double> qr(pw, ph), qi(pw, ph);
  for (long y = 0; y < ph; ++y)
    for (long x = 0; x < pw; ++x) {
      qr.set(x, y, qre[static_cast<std::size_t>(y * pw + x)]);
      qi.set(x, y, qim[static_cast<std::size_t>(y * pw + x)]);
    }
  const vcFrequencyBuffer cross(qr, qi);
  vcPelBuffer<double> cre, cim;
  vfInverseFFT(cross, cre, cim);  // times 1 / (pw ph)
  const double norm = static_cast<double>(pw * ph) / weightSum;

  long px = 0, py = 0;
  double best = -1e300;
  for (long y = 0; y < ph; ++y)
    for (long x = 0; x < pw; ++x)
      if (cre.get(x, y) > best) best = cre.get(x, y), px = x, py = y;
  double second = 0.0;
  for (long y = 0; y < ph; ++y) {
    const long dy = std::min((y - py + ph) % ph, (py - y + ph) % ph);
    for (long x = 0; x < pw; ++x) {
      const long dx = std::min((x - px + pw) % pw, (px - x + pw) % pw);
      if (std::max(dx, dy) > 3) second = std::max(second, cre.get(x, y));
    }
  }
  if (surface) {
    *surface = vcPelBuffer<double>(pw, ph);
    for (long y = 0; y < ph; ++y)
      for (long x = 0; x < pw; ++x) surface->set((x + pw / 2) % pw, (y + ph / 2) % ph, cre.get(x, y) * norm);
  }
  if (!(best > 0.0)) return out;
  out.valid = true;
  out.confidence = std::clamp(1.0 - second / best, 0.0, 1.0);
  // Parabola through the peak and its neighbours: a start for the fine stage.
  auto vertex = [](double l, double c, double r) {
    const double d = l - 2.0 * c + r;
    return d < 0.0 ? std::clamp(0.5 * (l - r) / d, -0.5, 0.5) : 0.0;
  };
  const double fx = vertex(cre.get((px + pw - 1) % pw, py), best, cre.get((px + 1) % pw, py));
  const double fy = vertex(cre.get(px, (py + ph - 1) % ph), best, cre.get(px, (py + 1) % ph));
  long sx = vf_SignedIndex(px, pw);
  long sy = vf_SignedIndex(py, ph);
  if (options.largeShifts) {
    // The circular surface knows the shift modulo the padded size: try both
    // representatives of each axis within the image and keep the one whose
    // overlap correlates best.
    double bestScore = -3.0, nextScore = -3.0;
    long bx = sx, by = sy;
    for (long cx : {sx, sx < 0 ? sx + pw : sx - pw})
      for (long cy : {sy, sy < 0 ? sy + ph : sy - ph}) {
        if (std::abs(cx) >= cw || std::abs(cy) >= ch) continue;
        const double score = vf_OverlapCorrelation(rPlain, mPlain, cx, cy);
        if (score > bestScore) {
          nextScore = bestScore, bestScore = score, bx = cx, by = cy;
        } else if (score > nextScore) {
          nextScore = score;
        }
      }
    sx = bx;
    sy = by;
    out.ambiguous = bestScore <= -2.0 || bestScore - nextScore < 0.05;
  }
  out.gx = static_cast<double>(f) * (static_cast<double>(sx) + fx);
  out.gy = static_cast<double>(f) * (static_cast<double>(sy) + fy);
  return out;
}

// The fine stage: the weighted cross-power spectrum of the overlap and the
// maximum of its continuous correlation surface. Returns false when it
// cannot improve on the coarse estimate (tiny overlap, no coherent
// frequencies, no convergence near the start).
bool vf_FineStage(const vcPelBuffer_const<double>& reference, const vcPelBuffer_const<double>& moving,
                  const vcPhaseCorrelationOptions& options, long f, double gx, double gy, double& dx, double& dy) {
  const long w = reference.width();
  const long h = reference.height();
  const long ix = std::lround(gx);
  const long iy = std::lround(gy);
  // Overlap: moving pixel x + ix shows reference pixel x.
  long xs = std::max(0L, -ix), xe = std::min(w, w - ix);
  long ys = std::max(0L, -iy), ye = std::min(h, h - iy);
  if (xe - xs < 16 || ye - ys < 16) return false;
  const long fw = vf_vision::vf_FastLengthBelow(std::min(xe - xs, options.fineSide));
  const long fh = vf_vision::vf_FastLengthBelow(std::min(ye - ys, options.fineSide));
  xs += (xe - xs - fw) / 2;
  ys += (ye - ys - fh) / 2;
  vcPelBuffer<double> r(fw, fh), m(fw, fh);
  for (long y = 0; y < fh; ++y)
    for (long x = 0; x < fw; ++x) {
      r.set(x, y, reference.get(xs + x, ys + y));
      m.set(x, y, moving.get(xs + ix + x, ys + iy + y));
    }
  vf_PrepareEdges(r, options, options.edges);
  vf_PrepareEdges(m, options, options.edges);
  const std::size_t n = static_cast<std::size_t>(fw * fh);
  std::vector<vcComplexD> z(n);
  for (long y = 0; y < fh; ++y)
    for (long x = 0; x < fw; ++x) z[static_cast<std::size_t>(y * fw + x)] = vcComplexD(r.get(x, y), m.get(x, y));
  vf_vision::vf_Dft2D(z, fw, fh, false);
  std::vector<vcComplexD> rs, ms;
  vf_SplitPair(z, fw, fh, rs, ms);
  if (options.edges == vcEdgeTreatment::periodicSmooth) {
    const std::vector<vcComplexD> sr = vfSmoothComponentSpectrum(r);
    const std::vector<vcComplexD> sm = vfSmoothComponentSpectrum(m);
    for (std::size_t i = 0; i < n; ++i) rs[i] -= sr[i], ms[i] -= sm[i];
  }
  vfThrowExceptionOnFailure(vsys_attention_check());
  // Cross-power spectrum with the residual shift of the start (e) taken out,
  // so that the phase hardly turns over a 7 x 7 neighbourhood and the
  // neighbourhood averages measure the coherence.
  const double ex = gx - static_cast<double>(ix);
  const double ey = gy - static_cast<double>(iy);
  std::vector<double> are(n), aim(n), pr(n), pm(n), tmp;
  std::vector<vcComplexD> q(n);
  for (long y = 0; y < fh; ++y) {
    const double ky = static_cast<double>(vf_SignedIndex(y, fh)) / static_cast<double>(fh);
    for (long x = 0; x < fw; ++x) {
      const double kx = static_cast<double>(vf_SignedIndex(x, fw)) / static_cast<double>(fw);
      const std::size_t i = static_cast<std::size_t>(y * fw + x);
      const vcComplexD cr(rs[i].real() * ms[i].real() + rs[i].imag() * ms[i].imag(),
                          rs[i].real() * ms[i].imag() - rs[i].imag() * ms[i].real());  // conj(R) M
      const vcComplexD e = std::polar(1.0, kTau * (kx * ex + ky * ey));
      const vcComplexD c(cr.real() * e.real() - cr.imag() * e.imag(), cr.real() * e.imag() + cr.imag() * e.real());
      q[i] = c;
      are[i] = c.real();
      aim[i] = c.imag();
      pr[i] = std::norm(rs[i]);
      pm[i] = std::norm(ms[i]);
    }
  }
  constexpr long kRadius = 3;
  vf_BoxSum(are, fw, fh, kRadius, tmp);
  vf_BoxSum(aim, fw, fh, kRadius, tmp);
  vf_BoxSum(pr, fw, fh, kRadius, tmp);
  vf_BoxSum(pm, fw, fh, kRadius, tmp);
  // Coherence weights gamma^2 / (1 - gamma^2) on the unit phasors, gamma^2
  // capped at 0.99 (weight 99) so that a few perfectly coherent bins do not
  // outweigh the rest; the Nyquist row and column (whose phase of a
  // sub-pixel shift is not defined for real images) and the zero frequency
  // get no weight.
  double total = 0.0;
  for (long y = 0; y < fh; ++y)
    for (long x = 0; x < fw; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * fw + x);
      const bool nyquist = (fw % 2 == 0 && x == fw / 2) || (fh % 2 == 0 && y == fh / 2);
      const double den = pr[i] * pm[i];
      const double mag = std::abs(q[i]);
      if (nyquist || (x == 0 && y == 0) || !(den > 0.0) || !(mag > 0.0)) {
        q[i] = 0.0;
        continue;
      }
      const double g2 = std::min((are[i] * are[i] + aim[i] * aim[i]) / den, 0.99);
      const double wgt = g2 / (1.0 - g2);
      q[i] *= wgt / mag;
      total += wgt;
    }
  if (!(total > 0.0) || !std::isfinite(total)) return false;

  // Newton's method on C(x, y) = Re sum_k q(k) exp(2 pi i (kx x / fw + ky y /
  // fh)), with row sums A_j(ky) = sum_kx kx^j q exp(2 pi i kx x / fw), so
  // that value, gradient and Hessian cost three complex products per bin.
  const double a = kTau / static_cast<double>(fw);
  const double b = kTau / static_cast<double>(fh);
  double x = 0.0, y = 0.0;
  const double limit = static_cast<double>(f) + 2.0;
  std::vector<vcComplexD> ex_(static_cast<std::size_t>(fw));
  bool converged = false;
  for (int iter = 0; iter < 30 && !converged; ++iter) {
    vfThrowExceptionOnFailure(vsys_attention_check());
    for (long k = 0; k < fw; ++k) ex_[static_cast<std::size_t>(k)] = std::polar(1.0, a * vf_SignedIndex(k, fw) * x);
    double gxv = 0, gyv = 0, hxx = 0, hyy = 0, hxy = 0;
    for (long row = 0; row < fh; ++row) {
      const vcComplexD* qr = q.data() + row * fw;
      double a0r = 0, a0i = 0, a1r = 0, a1i = 0, a2r = 0, a2i = 0;
      for (long k = 0; k < fw; ++k) {
        const vcComplexD e = ex_[static_cast<std::size_t>(k)];
        const double vr = qr[k].real() * e.real() - qr[k].imag() * e.imag();
        const double vi = qr[k].real() * e.imag() + qr[k].imag() * e.real();
        const double kx = static_cast<double>(vf_SignedIndex(k, fw));
        a0r += vr, a0i += vi;
        a1r += kx * vr, a1i += kx * vi;
        a2r += kx * kx * vr, a2i += kx * kx * vi;
      }
      const double ky = static_cast<double>(vf_SignedIndex(row, fh));
      const vcComplexD ey_ = std::polar(1.0, b * ky * y);
      const vcComplexD A0 = ey_ * vcComplexD(a0r, a0i);
      const vcComplexD A1 = ey_ * vcComplexD(a1r, a1i);
      const vcComplexD A2 = ey_ * vcComplexD(a2r, a2i);
      // d/dx brings i a kx, d/dy brings i b ky: Re(i z) = -Im z.
      gxv += -a * A1.imag();
      gyv += -b * ky * A0.imag();
      hxx += -a * a * A2.real();
      hyy += -b * b * ky * ky * A0.real();
      hxy += -a * b * ky * A1.real();
    }
    const double det = hxx * hyy - hxy * hxy;
    double sx, sy;
    if (hxx < 0.0 && det > 0.0) {
      sx = -(hyy * gxv - hxy * gyv) / det;
      sy = -(hxx * gyv - hxy * gxv) / det;
    } else {  // not concave here: climb the gradient a little
      sx = gxv > 0 ? 0.25 : (gxv < 0 ? -0.25 : 0.0);
      sy = gyv > 0 ? 0.25 : (gyv < 0 ? -0.25 : 0.0);
    }
    sx = std::clamp(sx, -0.5, 0.5);
    sy = std::clamp(sy, -0.5, 0.5);
    x += sx;
    y += sy;
    if (!std::isfinite(x) || !std::isfinite(y) || std::abs(x) > limit || std::abs(y) > limit) return false;
    converged = std::abs(sx) < 1e-7 && std::abs(sy) < 1e-7;
  }
  if (!converged) return false;
  dx = static_cast<double>(ix) + ex + x;
  dy = static_cast<double>(iy) + ey + y;
  return true;
}

}  // namespace

namespace vf_vision {

void vf_CheckPair(const vc_PelBuffer& reference, const vc_PelBuffer& moving, long width, long height) {
  if (!reference.isBound() || !moving.isBound()) throw vcFrequencyDefs::UnboundWindow();
  if (reference.width() != width || reference.height() != height || moving.width() != width ||
      moving.height() != height)
    throw vcFrequencyDefs::InvalidSize("Images must have the correlator's size.");
}

}  // namespace vf_vision

vcPhaseCorrelator::vcPhaseCorrelator(long width, long height, const vcPhaseCorrelationOptions& options)
    : width_(width), height_(height), factor_(1), options_(options) {
  if (width < 8 || height < 8 || width > 65536 || height > 65536)
    throw vcFrequencyDefs::InvalidSize("Phase correlation needs images of 8 to 65536 pixels a side.");
  if (!(options.tukeyAlpha >= 0.0 && options.tukeyAlpha <= 1.0))
    throw vcFrequencyDefs::InvalidArgument("tukeyAlpha must be in [0, 1].");
  if (options.coarseSide < 16 || options.coarseSide > 2048)
    throw vcFrequencyDefs::InvalidArgument("coarseSide must be in 16 .. 2048.");
  if (options.fineSide < 16) throw vcFrequencyDefs::InvalidArgument("fineSide must be at least 16.");
  if (!(options.ambiguityThreshold >= 0.0 && options.ambiguityThreshold <= 1.0))
    throw vcFrequencyDefs::InvalidArgument("ambiguityThreshold must be in [0, 1].");
  const int edges = static_cast<int>(options.edges);
  if (edges < 0 || edges > 3) throw vcFrequencyDefs::InvalidArgument("Unknown edge treatment.");
  while ((width_ + factor_ - 1) / factor_ > options.coarseSide || (height_ + factor_ - 1) / factor_ > options.coarseSide)
    ++factor_;
}

vcTranslation vcPhaseCorrelator::runDouble(const vcPelBuffer_const<double>& reference,
                                           const vcPelBuffer_const<double>& moving,
                                           vcPelBuffer<double>* surface) const {
  vcTranslation result;
  const vc_Coarse coarse = vf_CoarseStage(reference, moving, factor_, options_, surface);
  if (!coarse.valid) return result;  // nothing to measure: confidence 0, ambiguous
  result.confidence = coarse.confidence;
  result.ambiguous = coarse.ambiguous || coarse.confidence < options_.ambiguityThreshold;
  result.dx = std::round(coarse.gx);
  result.dy = std::round(coarse.gy);
  if (!options_.subPixel) return result;
  double dx = 0.0, dy = 0.0;
  if (vf_FineStage(reference, moving, options_, factor_, coarse.gx, coarse.gy, dx, dy)) {
    result.dx = dx;
    result.dy = dy;
  } else {
    // The coarse estimate stands, with its parabolic sub-pixel part.
    result.dx = coarse.gx;
    result.dy = coarse.gy;
    result.ambiguous = true;
  }
  return result;
}

vcTranslation vcPhaseCorrelator::run(const vcPelBuffer_const<unsigned char>& reference,
                                     const vcPelBuffer_const<unsigned char>& moving,
                                     vcPelBuffer<double>* surface) const {
  vf_vision::vf_CheckPair(reference, moving, width_, height_);
  return runDouble(vf_vision::vf_ToDouble(reference), vf_vision::vf_ToDouble(moving), surface);
}

vcTranslation vcPhaseCorrelator::run(const vcPelBuffer_const<unsigned short>& reference,
                                     const vcPelBuffer_const<unsigned short>& moving,
                                     vcPelBuffer<double>* surface) const {
  vf_vision::vf_CheckPair(reference, moving, width_, height_);
  return runDouble(vf_vision::vf_ToDouble(reference), vf_vision::vf_ToDouble(moving), surface);
}

vcTranslation vcPhaseCorrelator::run(const vcPelBuffer_const<double>& reference,
                                     const vcPelBuffer_const<double>& moving, vcPelBuffer<double>* surface) const {
  vf_vision::vf_CheckPair(reference, moving, width_, height_);
  return runDouble(reference, moving, surface);
}

namespace {
template <class T>
vcTranslation vf_PhaseCorrelateOnce(const vcPelBuffer_const<T>& reference, const vcPelBuffer_const<T>& moving,
                                    const vcPhaseCorrelationOptions& options) {
  if (!reference.isBound() || !moving.isBound()) throw vcFrequencyDefs::UnboundWindow();
  return vcPhaseCorrelator(reference.width(), reference.height(), options).run(reference, moving);
}
}  // namespace

vcTranslation vfPhaseCorrelate(const vcPelBuffer_const<unsigned char>& reference,
                               const vcPelBuffer_const<unsigned char>& moving,
                               const vcPhaseCorrelationOptions& options) {
  return vf_PhaseCorrelateOnce(reference, moving, options);
}
vcTranslation vfPhaseCorrelate(const vcPelBuffer_const<unsigned short>& reference,
                               const vcPelBuffer_const<unsigned short>& moving,
                               const vcPhaseCorrelationOptions& options) {
  return vf_PhaseCorrelateOnce(reference, moving, options);
}
vcTranslation vfPhaseCorrelate(const vcPelBuffer_const<double>& reference, const vcPelBuffer_const<double>& moving,
                               const vcPhaseCorrelationOptions& options) {
  return vf_PhaseCorrelateOnce(reference, moving, options);
}

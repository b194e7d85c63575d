// Translation by phase correlation: the coarse stage on the library's FFT,
// the fine stage in double precision on the overlap (see registration.h for
// the method and its measured accuracy).
#include "filt/vision/registration.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
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

bool vf_IsPowerOfTwo(long n) {
  return n > 0 && (n & (n - 1)) == 0;
}

// Signed frequency of index k of an n-point transform, in [-n/2, n/2).
long vf_SignedIndex(long k, long n) {
  return k < (n + 1) / 2 ? k : k - n;
}

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
// the integer shift (sx, sy), from every second pixel of every second row
// (it only ranks candidate shifts); -2 when the overlap is under a tenth of
// the image or flat.
double vf_OverlapCorrelation(const vcPelBuffer_const<double>& r, const vcPelBuffer_const<double>& m, long sx, long sy) {
  const long w = r.width();
  const long h = r.height();
  const long xs = std::max(0L, -sx), xe = std::min(w, w - sx);
  const long ys = std::max(0L, -sy), ye = std::min(h, h - sy);
  if (xe <= xs || ye <= ys || (xe - xs) * (ye - ys) * 10 < w * h) return -2.0;
  const long rstride = r.rep().rowStride(), mstride = m.rep().rowStride();
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, n = 0;
  for (long y = ys; y < ye; y += 2) {
    const double* a = r.pointToOffset() + y * rstride;
    const double* b = m.pointToOffset() + (y + sy) * mstride + sx;
    for (long x = xs; x < xe; x += 2) {
      sa += a[x], sb += b[x], saa += a[x] * a[x], sbb += b[x] * b[x], sab += a[x] * b[x];
      n += 1.0;
    }
  }
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
  std::vector<double> acc(static_cast<std::size_t>(w));
  for (long y = 0; y < h; ++y) {
    std::fill(acc.begin(), acc.end(), 0.0);
    for (long j = 0; j < f; ++j) {
      const double* row = image.pointToOffset() + (y * f + j) * image.rep().rowStride();
      for (long x = 0; x < w; ++x)
        for (long i = 0; i < f; ++i) acc[static_cast<std::size_t>(x)] += row[x * f + i];
    }
    double* dst = out.pointToOffset() + y * out.rep().rowStride();
    for (long x = 0; x < w; ++x) dst[x] = acc[static_cast<std::size_t>(x)] * k;
  }
  return out;
}

vc_Coarse vf_CoarseStage(const vcPelBuffer_const<double>& reference, const vcPelBuffer_const<double>& moving, long f,
                         const vcPhaseCorrelationOptions& options, vcPelBuffer<double>* surface) {
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
  vcEdgeTreatment edges = options.coarseEdges;
  if (edges == vcEdgeTreatment::periodicSmooth && !(vf_IsPowerOfTwo(cw) && vf_IsPowerOfTwo(ch)))
    edges = vcEdgeTreatment::tukey;
  vf_PrepareEdges(r, options, edges);
  vf_PrepareEdges(m, options, edges);
  vc_Coarse out;

  // Two separate transforms: one transform of r + i m would share its
  // single-precision round-off between the two spectra, and that shared
  // part correlates at zero shift.
  auto spectrum = [](const vcPelBuffer<double>& image, long& pw, long& ph) {
    vcFrequencyBuffer buffer;
    vfForwardFFT<double>(image, buffer);
    pw = buffer.width();
    ph = buffer.height();
    const vcPelBuffer<double> re = buffer.getRealImage(false);
    const vcPelBuffer<double> im = buffer.getImaginaryImage(false);
    std::vector<vcComplexD> z(static_cast<std::size_t>(pw * ph));
    for (long y = 0; y < ph; ++y) {
      const double* a = re.pointToOffset() + y * re.rep().rowStride();
      const double* b = im.pointToOffset() + y * im.rep().rowStride();
      for (long x = 0; x < pw; ++x) z[static_cast<std::size_t>(y * pw + x)] = vcComplexD(a[x], b[x]);
    }
    return z;
  };
  long pw = 0, ph = 0;
  std::vector<vcComplexD> rs = spectrum(r, pw, ph);
  std::vector<vcComplexD> ms = spectrum(m, pw, ph);
  if (edges == vcEdgeTreatment::periodicSmooth) {
    const std::vector<vcComplexD> sr = vfSmoothComponentSpectrum(r);
    const std::vector<vcComplexD> sm = vfSmoothComponentSpectrum(m);
    for (std::size_t i = 0; i < rs.size(); ++i) rs[i] -= sr[i], ms[i] -= sm[i];
  }
  // The cross-power spectrum, normalised in double, partly: conj(R) M /
  // (|R| |M|)^0.75, each magnitude with its own floor of 1e-5 of that
  // spectrum's largest. Full whitening (exponent 1) lifts the bins that hold
  // only the edge taper's leakage and round-off (most bins of a smooth
  // image) to the weight of the content, and they peak at zero shift: a
  // smooth 128 x 128 test image moved by (2.5, -1.25) gives (0, 0) at
  // exponent 1 and 0.9, (2, -1) at 0.75, while photographs keep every
  // integer shift right. The floor keeps bins of single-precision round-off
  // (about 1e-7 of the largest) below full weight; exactly-zero bins stay
  // zero.
  double rmax = 0.0, mmax = 0.0;
  std::vector<double> ra(rs.size()), ma(rs.size());
  for (std::size_t i = 0; i < rs.size(); ++i) {
    ra[i] = std::sqrt(std::norm(rs[i]));
    ma[i] = std::sqrt(std::norm(ms[i]));
    if (i > 0) rmax = std::max(rmax, ra[i]), mmax = std::max(mmax, ma[i]);
  }
  if (!(rmax > 0.0 && mmax > 0.0) || !std::isfinite(rmax) || !std::isfinite(mmax)) return out;
  constexpr double kFloor = 1e-5;
  const double rfloor = kFloor * rmax, mfloor = kFloor * mmax;
  std::vector<double> qre(rs.size()), qim(rs.size());
  double weightSum = 0.0;
  for (std::size_t i = 0; i < rs.size(); ++i) {
    // p^-0.75 = 1 / (sqrt(p) sqrt(sqrt(p)))
    const double root = std::sqrt(std::max(ra[i], rfloor) * std::max(ma[i], mfloor));
    const double k = 1.0 / (root * std::sqrt(root));
    qre[i] = (rs[i].real() * ms[i].real() + rs[i].imag() * ms[i].imag()) * k;  // conj(R) M
    qim[i] = (rs[i].real() * ms[i].imag() - rs[i].imag() * ms[i].real()) * k;
    weightSum += ra[i] * ma[i] * k;
  }
  qre[0] = qim[0] = 0.0;  // the means are gone; the zero frequency holds only round-off
  vcPelBuffer<double> qr(pw, ph), qi(pw, ph);
  for (long y = 0; y < ph; ++y) {
    double* a = qr.pointToOffset() + y * qr.rep().rowStride();
    double* b = qi.pointToOffset() + y * qi.rep().rowStride();
    for (long x = 0; x < pw; ++x)
      a[x] = qre[static_cast<std::size_t>(y * pw + x)], b[x] = qim[static_cast<std::size_t>(y * pw + x)];
  }
  const vcFrequencyBuffer cross(qr, qi);
  vcPelBuffer<double> cre, cim;
  vfInverseFFT(cross, cre, cim);  // times 1 / (pw ph)
  const double norm = static_cast<double>(pw * ph) / weightSum;

  const double* c = cre.pointToOffset();
  const long cs = cre.rep().rowStride();
  auto at = [&](long x, long y) { return c[((y % ph + ph) % ph) * cs + ((x % pw) + pw) % pw]; };
  if (surface) {
    *surface = vcPelBuffer<double>(pw, ph);
    for (long y = 0; y < ph; ++y)
      for (long x = 0; x < pw; ++x) surface->set((x + pw / 2) % pw, (y + ph / 2) % ph, at(x, y) * norm);
  }
  // Candidates: the four highest local maxima of the surface. Each is
  // followed uphill on the normalised correlation of the images over their
  // overlap (the shift's own measure of fit), which also settles the shift
  // modulo the size when large shifts are allowed; the best fit wins. The
  // surface alone can be fooled: the leakage of the edges peaks at zero
  // shift on smooth images, and it knows shifts only modulo the size.
  struct Peak {
    long x, y;
    double v;
  };
  std::vector<Peak> peaks;
  for (long y = 0; y < ph; ++y) {
    const double* up = c + ((y + ph - 1) % ph) * cs;
    const double* mid = c + y * cs;
    const double* down = c + ((y + 1) % ph) * cs;
    for (long x = 0; x < pw; ++x) {
      const double v = mid[x];
      if (!(v > 0.0) || (peaks.size() == 4 && v <= peaks.back().v)) continue;
      const long l = x == 0 ? pw - 1 : x - 1, r = x == pw - 1 ? 0 : x + 1;
      if (mid[l] > v || mid[r] > v || up[l] > v || up[x] > v || up[r] > v || down[l] > v || down[x] > v || down[r] > v)
        continue;
      peaks.push_back({x, y, v});
      std::sort(peaks.begin(), peaks.end(), [](const Peak& p, const Peak& q) { return p.v > q.v; });
      if (peaks.size() > 4) peaks.pop_back();
    }
  }
  if (peaks.empty()) return out;
  std::map<std::pair<long, long>, double> fits;  // each shift's fit, computed once
  auto ncc = [&](long sx, long sy) {
    const auto key = std::make_pair(sx, sy);
    const auto it = fits.find(key);
    if (it != fits.end()) return it->second;
    return fits[key] = vf_OverlapCorrelation(rPlain, mPlain, sx, sy);
  };
  double bestFit = -3.0, nextFit = -3.0;
  long bx = 0, by = 0;
  double bestPeak = 0.0;
  for (const Peak& p : peaks) {
    if (p.v < 0.25 * peaks.front().v) break;  // far below the highest: not a contender
    const long sx0 = vf_SignedIndex(p.x, pw), sy0 = vf_SignedIndex(p.y, ph);
    std::vector<std::pair<long, long>> starts{{sx0, sy0}};
    if (options.largeShifts) {
      starts.push_back({sx0 < 0 ? sx0 + pw : sx0 - pw, sy0});
      starts.push_back({sx0, sy0 < 0 ? sy0 + ph : sy0 - ph});
      starts.push_back({sx0 < 0 ? sx0 + pw : sx0 - pw, sy0 < 0 ? sy0 + ph : sy0 - ph});
    }
    for (auto [sx, sy] : starts) {
      if (std::abs(sx) >= cw || std::abs(sy) >= ch) continue;
      double fit = ncc(sx, sy);
      for (int step = 0; step < 8; ++step) {
        long nx = sx, ny = sy;
        double nf = fit;
        for (long j = -1; j <= 1; ++j)
          for (long i = -1; i <= 1; ++i) {
            if (!(i || j)) continue;
            const double v = ncc(sx + i, sy + j);
            if (v > nf) nf = v, nx = sx + i, ny = sy + j;
          }
        if (nx == sx && ny == sy) break;
        sx = nx, sy = ny, fit = nf;
      }
      if (fit > bestFit + 1e-12) {
        if (!(sx == bx && sy == by)) nextFit = bestFit;
        bestFit = fit, bx = sx, by = sy, bestPeak = p.v;
      } else if (fit > nextFit && !(sx == bx && sy == by)) {
        nextFit = fit;
      }
    }
  }
  if (bestFit <= -2.0) return out;
  // Confidence: the surface at the chosen peak against the highest value more
  // than 3 pixels away from it.
  double second = 0.0;
  const long qx = ((bx % pw) + pw) % pw, qy = ((by % ph) + ph) % ph;
  for (long y = 0; y < ph; ++y) {
    const long dy = std::min((y - qy + ph) % ph, (qy - y + ph) % ph);
    const double* row = c + y * cs;
    if (dy > 3) {
      for (long x = 0; x < pw; ++x) second = std::max(second, row[x]);
      continue;
    }
    for (long x = 0; x < pw; ++x) {
      const long dx = std::min((x - qx + pw) % pw, (qx - x + pw) % pw);
      if (dx > 3) second = std::max(second, row[x]);
    }
  }
  const double chosen = std::max(bestPeak, at(bx, by));
  out.valid = true;
  out.confidence = chosen > 0.0 ? std::clamp(1.0 - second / chosen, 0.0, 1.0) : 0.0;
  out.ambiguous = options.largeShifts && bestFit - nextFit < 1e-3;
  // Parabola through the fit at the chosen shift and its neighbours: the start
  // of the fine stage.
  auto vertex = [](double l, double m, double r) {
    const double d = l - 2.0 * m + r;
    return d < 0.0 ? std::clamp(0.5 * (l - r) / d, -0.5, 0.5) : 0.0;
  };
  const double fx = vertex(ncc(bx - 1, by), bestFit, ncc(bx + 1, by));
  const double fy = vertex(ncc(bx, by - 1), bestFit, ncc(bx, by + 1));
  out.gx = static_cast<double>(f) * (static_cast<double>(bx) + fx);
  out.gy = static_cast<double>(f) * (static_cast<double>(by) + fy);
  return out;
}

// The maximum near the start e = (ex, ey) of the continuous correlation
// surface of the coherence-weighted cross-power spectrum of r and m (fw x
// fh, natural order), relative to e: the answer is e + (x, y). False when no
// frequency is coherent or Newton's method does not settle within `limit`.
bool vf_WeightedPeak(const std::vector<vcComplexD>& rs, const std::vector<vcComplexD>& ms, long fw, long fh, double ex,
                     double ey, double limit, double& xOut, double& yOut) {
  const std::size_t n = rs.size();
  // Cross-power spectrum with the residual shift of the start (e) taken out,
  // so that the phase hardly turns over a 7 x 7 neighbourhood and the
  // neighbourhood averages measure the coherence.
  std::vector<double> are(n), aim(n), pr(n), pm(n), tmp;
  std::vector<vcComplexD> q(n);
  // The ramp exp(2 pi i (kx ex / fw + ky ey / fh)) separates into a row and
  // a column factor.
  std::vector<vcComplexD> rampX(static_cast<std::size_t>(fw));
  for (long x = 0; x < fw; ++x)
    rampX[static_cast<std::size_t>(x)] =
        std::polar(1.0, kTau * static_cast<double>(vf_SignedIndex(x, fw)) * ex / static_cast<double>(fw));
  for (long y = 0; y < fh; ++y) {
    const vcComplexD ry =
        std::polar(1.0, kTau * static_cast<double>(vf_SignedIndex(y, fh)) * ey / static_cast<double>(fh));
    for (long x = 0; x < fw; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * fw + x);
      const vcComplexD cr(rs[i].real() * ms[i].real() + rs[i].imag() * ms[i].imag(),
                          rs[i].real() * ms[i].imag() - rs[i].imag() * ms[i].real());  // conj(R) M
      const vcComplexD rx = rampX[static_cast<std::size_t>(x)];
      const vcComplexD e(rx.real() * ry.real() - rx.imag() * ry.imag(), rx.real() * ry.imag() + rx.imag() * ry.real());
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
      const double mag = std::sqrt(std::norm(q[i]));
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
  xOut = x;
  yOut = y;
  return true;
}

// A taper of a crop of n pixels for the window that follows the content:
// 0 up to `margin` pixels from either end, a raised cosine over `len`
// pixels, 1 in between; continuous in t, so it can be evaluated at
// positions shifted by a fraction of a pixel.
double vf_Taper(double t, long n, double margin, double len) {
  const double d = std::min(t - margin, static_cast<double>(n - 1) - margin - t);
  if (d <= 0.0) return 0.0;
  if (d >= len) return 1.0;
  const double s = std::sin(0.5 * std::numbers::pi * d / len);
  return s * s;
}

// The fine stage. The overlapping parts of the two images at the coarse
// shift are cut out: moving crop(x) = reference crop(x - e), e the residual
// shift (under about a pixel or two). Both crops are tapered to zero at
// their edges -- the reference by a window w, the moving crop by the same
// window moved by the current estimate of e -- so that, once the estimate is
// right, the tapered moving crop is exactly the tapered reference crop moved
// by e: w(x - e) m(x) = (w r)(x - e). Neither the cut edges nor content
// outside the overlap then pull on the answer, which a fixed window (pulls
// toward whole pixels) or the periodic-plus-smooth decomposition (leaves the
// cut's kinks) do not avoid on clean, smooth images. Each pass moves the
// window to the last answer; the passes stop when the answer moves by less
// than 1e-3 px, at most three passes (the window's residual pull is a small
// fraction of how far it is off, so two passes usually settle it). Returns false when it cannot improve
// on the coarse estimate (tiny overlap, no coherent frequencies, Newton's
// method not settling near the start).
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
  for (long y = 0; y < fh; ++y) {
    const double* a = reference.pointToOffset() + (ys + y) * reference.rep().rowStride() + xs;
    const double* b = moving.pointToOffset() + (ys + iy + y) * moving.rep().rowStride() + xs + ix;
    double* ra = r.pointToOffset() + y * r.rep().rowStride();
    double* mb = m.pointToOffset() + y * m.rep().rowStride();
    for (long x = 0; x < fw; ++x) ra[x] = a[x], mb[x] = b[x];
  }
  const std::size_t n = static_cast<std::size_t>(fw * fh);
  const double limit = static_cast<double>(f) + 2.0;
  double ex = gx - static_cast<double>(ix);
  double ey = gy - static_cast<double>(iy);
  std::vector<vcComplexD> z(n), rs, ms;

  if (!options.followingWindow) {
    // One pass with the image-wide edge treatment of the options.
    vf_PrepareEdges(r, options, options.edges);
    vf_PrepareEdges(m, options, options.edges);
    for (long y = 0; y < fh; ++y)
      for (long x = 0; x < fw; ++x) z[static_cast<std::size_t>(y * fw + x)] = vcComplexD(r.get(x, y), m.get(x, y));
    vf_vision::vf_Dft2D(z, fw, fh, false);
    vf_SplitPair(z, fw, fh, rs, ms);
    if (options.edges == vcEdgeTreatment::periodicSmooth) {
      const std::vector<vcComplexD> sr = vfSmoothComponentSpectrum(r);
      const std::vector<vcComplexD> sm = vfSmoothComponentSpectrum(m);
      for (std::size_t i = 0; i < n; ++i) rs[i] -= sr[i], ms[i] -= sm[i];
    }
    double x = 0.0, y = 0.0;
    if (!vf_WeightedPeak(rs, ms, fw, fh, ex, ey, limit, x, y)) return false;
    dx = static_cast<double>(ix) + ex + x;
    dy = static_cast<double>(iy) + ey + y;
    return true;
  }

  // The window: tapers over a fraction taper / 2 of each axis at each end,
  // zero over the outer `margin` pixels so that it can move by up to
  // margin - 1 px and stay inside the crop.
  const double margin = 3.0;
  const double maxMove = margin - 1.0;
  const double lx = std::max(2.0, 0.5 * options.followingTaper * static_cast<double>(fw));
  const double ly = std::max(2.0, 0.5 * options.followingTaper * static_cast<double>(fh));
  std::vector<double> wx(static_cast<std::size_t>(fw)), wy(static_cast<std::size_t>(fh));
  for (long x = 0; x < fw; ++x) wx[static_cast<std::size_t>(x)] = vf_Taper(static_cast<double>(x), fw, margin, lx);
  for (long y = 0; y < fh; ++y) wy[static_cast<std::size_t>(y)] = vf_Taper(static_cast<double>(y), fh, margin, ly);
  // One level for both crops (the reference's window-weighted mean): the
  // relation w(x - e) (m(x) - mu) = (w (r - mu))(x - e) needs the same mu.
  double su = 0.0, sw = 0.0;
  for (long y = 0; y < fh; ++y)
    for (long x = 0; x < fw; ++x) {
      const double wv = wx[static_cast<std::size_t>(x)] * wy[static_cast<std::size_t>(y)];
      su += wv * r.get(x, y);
      sw += wv;
    }
  const double mu = sw > 0.0 ? su / sw : 0.0;
  std::vector<double> mx(static_cast<std::size_t>(fw)), my(static_cast<std::size_t>(fh));
  for (int pass = 0; pass < 3; ++pass) {
    const double wxShift = std::clamp(ex, -maxMove, maxMove);
    const double wyShift = std::clamp(ey, -maxMove, maxMove);
    for (long x = 0; x < fw; ++x)
      mx[static_cast<std::size_t>(x)] = vf_Taper(static_cast<double>(x) - wxShift, fw, margin, lx);
    for (long y = 0; y < fh; ++y)
      my[static_cast<std::size_t>(y)] = vf_Taper(static_cast<double>(y) - wyShift, fh, margin, ly);
    for (long y = 0; y < fh; ++y) {
      const double* ra = r.pointToOffset() + y * r.rep().rowStride();
      const double* mb = m.pointToOffset() + y * m.rep().rowStride();
      const double wyv = wy[static_cast<std::size_t>(y)], myv = my[static_cast<std::size_t>(y)];
      vcComplexD* zr = z.data() + y * fw;
      for (long x = 0; x < fw; ++x) {
        const double mv = (mb[x] - mu) * mx[static_cast<std::size_t>(x)] * myv;
        const double rv = pass == 0 ? (ra[x] - mu) * wx[static_cast<std::size_t>(x)] * wyv : 0.0;
        zr[x] = vcComplexD(rv, mv);
      }
    }
    vf_vision::vf_Dft2D(z, fw, fh, false);
    if (pass == 0) {
      vf_SplitPair(z, fw, fh, rs, ms);
    } else {
      // z = i * spectrum of the moving crop
      for (std::size_t i = 0; i < n; ++i) ms[i] = vcComplexD(z[i].imag(), -z[i].real());
    }
    double x = 0.0, y = 0.0;
    if (!vf_WeightedPeak(rs, ms, fw, fh, ex, ey, limit, x, y)) return false;
    ex += x;
    ey += y;
    if (std::abs(ex) > limit || std::abs(ey) > limit) return false;
    if (std::abs(x) < 1e-3 && std::abs(y) < 1e-3) break;
  }
  dx = static_cast<double>(ix) + ex;
  dy = static_cast<double>(iy) + ey;
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
  if (width < 8 || height < 8 || width > 16384 || height > 16384)
    throw vcFrequencyDefs::InvalidSize("Phase correlation needs images of 8 to 16384 pixels a side.");
  if (!(options.tukeyAlpha >= 0.0 && options.tukeyAlpha <= 1.0))
    throw vcFrequencyDefs::InvalidArgument("tukeyAlpha must be in [0, 1].");
  if (options.coarseSide < 16 || options.coarseSide > 2048)
    throw vcFrequencyDefs::InvalidArgument("coarseSide must be in 16 .. 2048.");
  if (options.fineSide < 16) throw vcFrequencyDefs::InvalidArgument("fineSide must be at least 16.");
  if (!(options.followingTaper > 0.0 && options.followingTaper <= 1.0))
    throw vcFrequencyDefs::InvalidArgument("followingTaper must be in (0, 1].");
  if (!(options.ambiguityThreshold >= 0.0 && options.ambiguityThreshold <= 1.0))
    throw vcFrequencyDefs::InvalidArgument("ambiguityThreshold must be in [0, 1].");
  const int edges = static_cast<int>(options.edges);
  if (edges < 0 || edges > 3) throw vcFrequencyDefs::InvalidArgument("Unknown edge treatment.");
  while ((width_ + factor_ - 1) / factor_ > options.coarseSide ||
         (height_ + factor_ - 1) / factor_ > options.coarseSide)
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
  // The fine answer must stay within a coarse pixel of the coarse one; an
  // image whose spectrum is a few lines (where the crops' leakage moves the
  // fine maximum) may pull it farther, and then the coarse answer stands.
  const double reach = std::max(1.0, static_cast<double>(factor_));
  if (vf_FineStage(reference, moving, options_, factor_, coarse.gx, coarse.gy, dx, dy) &&
      std::abs(dx - coarse.gx) <= reach && std::abs(dy - coarse.gy) <= reach) {
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

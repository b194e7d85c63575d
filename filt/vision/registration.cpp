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

// The frequency of index k for the residual-shift ramp of the fine stage:
// the signed index, but 0 for the Nyquist index of an even n, whose phase
// of a sub-pixel shift is not defined for real images (so that the ramped
// cross-power spectrum stays Hermitian, as the spectrum itself).
long vf_RampIndex(long k, long n) {
  return n % 2 == 0 && k == n / 2 ? 0 : vf_SignedIndex(k, n);
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

template <class T>
vcPelBuffer<double> vf_BlockAverage(const vcPelBuffer_const<T>& image, long f) {
  const long w = image.width() / f;
  const long h = image.height() / f;
  vcPelBuffer<double> out(w, h);
  const double k = 1.0 / static_cast<double>(f * f);
  std::vector<double> acc(static_cast<std::size_t>(w));
  for (long y = 0; y < h; ++y) {
    std::fill(acc.begin(), acc.end(), 0.0);
    for (long j = 0; j < f; ++j) {
      const T* row = image.pointToOffset() + (y * f + j) * image.rep().rowStride();
      for (long x = 0; x < w; ++x)
        for (long i = 0; i < f; ++i) acc[static_cast<std::size_t>(x)] += static_cast<double>(row[x * f + i]);
    }
    double* dst = out.pointToOffset() + y * out.rep().rowStride();
    for (long x = 0; x < w; ++x) dst[x] = acc[static_cast<std::size_t>(x)] * k;
  }
  return out;
}

template <class T>
vc_Coarse vf_CoarseStage(const vcPelBuffer_const<T>& reference, const vcPelBuffer_const<T>& moving, long f,
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
  vcPelBuffer<double> qr(pw, ph), qi(pw, ph);
  double weightSum = 0.0;
  for (long y = 0; y < ph; ++y) {
    double* qa = qr.pointToOffset() + y * qr.rep().rowStride();
    double* qb = qi.pointToOffset() + y * qi.rep().rowStride();
    for (long x = 0; x < pw; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * pw + x);
      // p^-0.75 = 1 / (sqrt(p) sqrt(sqrt(p)))
      const double root = std::sqrt(std::max(ra[i], rfloor) * std::max(ma[i], mfloor));
      const double k = 1.0 / (root * std::sqrt(root));
      qa[x] = (rs[i].real() * ms[i].real() + rs[i].imag() * ms[i].imag()) * k;  // conj(R) M
      qb[x] = (rs[i].real() * ms[i].imag() - rs[i].imag() * ms[i].real()) * k;
      weightSum += ra[i] * ma[i] * k;
    }
  }
  // The means are gone; the zero frequency holds only round-off.
  qr.pointToOffset()[0] = qi.pointToOffset()[0] = 0.0;
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
  // Candidates: the four highest local maxima of the surface, each with its
  // aliases one period away along either axis (the surface knows shifts only
  // modulo its size). Each is followed uphill on the normalised correlation
  // of the images over their overlap (the shift's own measure of fit); the
  // best fit wins. The surface alone can be fooled: the leakage of the edges
  // peaks at zero shift on smooth images. The aliases are weighed in every
  // mode: without largeShifts a winner past half the size is reported as its
  // alias within half the size and flagged (vf_Correlate).
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
    const long ax = sx0 < 0 ? sx0 + pw : sx0 - pw, ay = sy0 < 0 ? sy0 + ph : sy0 - ph;
    const std::pair<long, long> starts[] = {{sx0, sy0}, {ax, sy0}, {sx0, ay}, {ax, ay}};
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
  out.ambiguous = bestFit - nextFit < 1e-3;  // two shifts fit alike
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
// surface of the coherence-weighted cross-power spectrum of a reference and
// a moving crop (fw x fh), relative to e: the answer is e + (x, y).
//
// Both crops are real, so their cross-power spectrum is Hermitian, q(-k) =
// conj q(k), and so are the coherence weights: all the sums below run over
// the half plane of rows ky = 0 .. fh/2, every row but the first counted
// twice (the Nyquist row of an even fh gets no weight), which gives the
// whole plane's sums at half the work. The 7 x 7 neighbourhood sums of those
// rows need 3 rows more on either side, so the per-bin products are formed
// on the band of rows -3 .. fh/2 + 3 (modulo fh). The reference's band and
// its neighbourhood power are kept from one moving crop to the next (the
// passes of the fine stage move only the moving crop's window).
class vc_CoherentPeak {
 public:
  vc_CoherentPeak(long fw, long fh) : fw_(fw), fh_(fh), rows_(fh / 2 + 1), band_(fh / 2 + 1 + 2 * kRadius) {
    const std::size_t b = static_cast<std::size_t>(band_ * fw_);
    rs_.resize(b);
    ms_.resize(b);
  }

  // The spectrum row of band row j (j = 0 .. band_ - 1).
  long spectrumRow(long j) const { return ((j - kRadius) % fh_ + fh_) % fh_; }
  long bandRows() const { return band_; }
  // The band rows of the two spectra (band_ x fw, row j holds spectrum row
  // spectrumRow(j)), filled by the caller.
  vcComplexD* referenceBand() { return rs_.data(); }
  vcComplexD* movingBand() { return ms_.data(); }

  // Call once the reference band is filled.
  void referenceDone() {
    cre_.resize(rs_.size());  // scratch here
    for (std::size_t i = 0; i < rs_.size(); ++i) cre_[i] = std::norm(rs_[i]);
    prBox_.resize(static_cast<std::size_t>(rows_ * fw_));
    boxSum(cre_.data(), prBox_.data());
  }

  // False when no frequency is coherent or Newton's method does not settle
  // within `limit`.
  bool find(double ex, double ey, double limit, double& xOut, double& yOut);

 private:
  static constexpr long kRadius = 3;
  // Sums over (2 kRadius + 1)^2 neighbours, circular along the rows: from
  // band_ rows of `in` to rows_ rows of `out` (which may be `in`). Running
  // sums along the rows, then running sums of whole rows down the columns.
  void boxSum(const double* in, double* out);

  long fw_, fh_, rows_, band_;
  std::vector<vcComplexD> rs_, ms_;
  std::vector<double> prBox_, cre_, cim_, pm_, tmp_, reBox_, imBox_;
  // After find's weighting, reBox_ and imBox_ hold the weighted spectrum q.
};

void vc_CoherentPeak::boxSum(const double* in, double* out) {
  const long w = fw_;
  const long r = kRadius;
  tmp_.resize(static_cast<std::size_t>(band_ * w));
  auto wrap = [w](long i) { return i < 0 ? i + w : (i >= w ? i - w : i); };
  for (long j = 0; j < band_; ++j) {
    const double* row = in + j * w;
    double* o = tmp_.data() + j * w;
    double s = 0.0;
    for (long i = -r; i <= r; ++i) s += row[((i % w) + w) % w];
    for (long x = 0; x < w; ++x) {
      o[x] = s;
      s += row[wrap(x + r + 1)] - row[wrap(x - r)];
    }
  }
  // `in` is read: `out` may overwrite it from here on.
  double* sum = out;  // row 0 of the output starts as the sum of band rows 0 .. 2r
  for (long x = 0; x < w; ++x) sum[x] = 0.0;
  for (long j = 0; j <= 2 * r; ++j) {
    const double* row = tmp_.data() + j * w;
    for (long x = 0; x < w; ++x) sum[x] += row[x];
  }
  for (long o = 1; o < rows_; ++o) {
    const double* prev = out + (o - 1) * w;
    const double* add = tmp_.data() + (o + 2 * r) * w;
    const double* sub = tmp_.data() + (o - 1) * w;
    double* cur = out + o * w;
    for (long x = 0; x < w; ++x) cur[x] = prev[x] + add[x] - sub[x];
  }
}

bool vc_CoherentPeak::find(double ex, double ey, double limit, double& xOut, double& yOut) {
  const long w = fw_;
  const std::size_t nb = static_cast<std::size_t>(band_ * w);
  cre_.resize(nb);
  cim_.resize(nb);
  pm_.resize(nb);
  // Cross-power spectrum with the residual shift of the start (e) taken
  // out, so that the phase hardly turns over a 7 x 7 neighbourhood and the
  // neighbourhood sums measure the coherence. The ramp exp(2 pi i (kx ex /
  // fw + ky ey / fh)) separates into a row and a column factor.
  std::vector<vcComplexD> rampX(static_cast<std::size_t>(w));
  for (long x = 0; x < w; ++x)
    rampX[static_cast<std::size_t>(x)] =
        std::polar(1.0, kTau * static_cast<double>(vf_RampIndex(x, w)) * ex / static_cast<double>(w));
  for (long j = 0; j < band_; ++j) {
    const vcComplexD ry =
        std::polar(1.0, kTau * static_cast<double>(vf_RampIndex(spectrumRow(j), fh_)) * ey / static_cast<double>(fh_));
    const vcComplexD* rr = rs_.data() + j * w;
    const vcComplexD* mr = ms_.data() + j * w;
    double* cr = cre_.data() + j * w;
    double* ci = cim_.data() + j * w;
    double* pm = pm_.data() + j * w;
    for (long x = 0; x < w; ++x) {
      const double ar = rr[x].real(), ai = rr[x].imag(), br = mr[x].real(), bi = mr[x].imag();
      const double pr = ar * br + ai * bi;  // conj(R) M
      const double pi = ar * bi - ai * br;
      const vcComplexD rx = rampX[static_cast<std::size_t>(x)];
      const double er = rx.real() * ry.real() - rx.imag() * ry.imag();
      const double ei = rx.real() * ry.imag() + rx.imag() * ry.real();
      cr[x] = pr * er - pi * ei;
      ci[x] = pr * ei + pi * er;
      pm[x] = br * br + bi * bi;
    }
  }
  const std::size_t nq = static_cast<std::size_t>(rows_ * w);
  reBox_.resize(nq);
  imBox_.resize(nq);
  boxSum(cre_.data(), reBox_.data());
  boxSum(cim_.data(), imBox_.data());
  boxSum(pm_.data(), pm_.data());  // in place: rows_ rows of neighbourhood power
  // Coherence weights gamma^2 / (1 - gamma^2) on the unit phasors, gamma^2
  // capped at 0.99 (weight 99) so that a few perfectly coherent bins do not
  // outweigh the rest; the Nyquist row and column (whose phase of a
  // sub-pixel shift is not defined for real images) and the zero frequency
  // get no weight. Rows past the first count twice (their mirror rows).
  // The coherence describes the neighbourhood, not the bin: a bin far weaker
  // than the neighbourhood's coherent mean |sum c| / 49 holds mostly noise
  // (a null of the content) or, in a sparse spectrum, only round-off next to
  // a strong bin, and its phase must not count fully. Below a tenth of that
  // mean its weight falls in proportion to its magnitude. Measured on the
  // 42 photograph pairs: 0.018 px RMS against 0.021 without (a twentieth:
  // 0.019, a fifth: 0.0175 but a worse worst case); 60 integer-frequency
  // waves moved circularly by less than half a pixel: errors of 0.06 to 0.3
  // px without, about 0.001 px with it.
  // q replaces the neighbourhood sums in reBox_ and imBox_, bin by bin.
  double* qre = reBox_.data();
  double* qim = imBox_.data();
  double total = 0.0;
  for (long o = 0; o < rows_; ++o) {
    const std::size_t c0 = static_cast<std::size_t>((o + kRadius) * w);
    const std::size_t b0 = static_cast<std::size_t>(o * w);
    if (fh_ % 2 == 0 && o == fh_ / 2) {
      std::fill(qre + b0, qre + b0 + w, 0.0);
      std::fill(qim + b0, qim + b0 + w, 0.0);
      continue;
    }
    const double twice = o == 0 ? 1.0 : 2.0;
    for (long x = 0; x < w; ++x) {
      const std::size_t b = b0 + static_cast<std::size_t>(x);
      const double den = prBox_[b] * pm_[b];
      const double cr = cre_[c0 + static_cast<std::size_t>(x)], ci = cim_[c0 + static_cast<std::size_t>(x)];
      const double mag = std::sqrt(cr * cr + ci * ci);
      const double sre = qre[b], sim = qim[b];
      qre[b] = qim[b] = 0.0;
      if ((fw_ % 2 == 0 && x == fw_ / 2) || (x == 0 && o == 0)) continue;
      if (!(den > 0.0) || !(mag > 0.0)) continue;
      // gamma^2 = num / den (at most 1 by Cauchy-Schwarz), so gamma^2 / (1 -
      // gamma^2) = num / (den - num): one division per bin.
      const double num = sre * sre + sim * sim;
      double k = num >= 0.99 * den ? twice * 99.0 / mag : twice * num / ((den - num) * mag);
      // share = mag / (|sum c| / 49) below 0.1: k times share / 0.1.
      const double coherent = std::sqrt(num);
      if (490.0 * mag < coherent) k *= 490.0 * mag / coherent;
      qre[b] = cr * k;
      qim[b] = ci * k;
      total += k * mag;
    }
  }
  if (!(total > 0.0) || !std::isfinite(total)) return false;

  // Newton's method on C(x, y) = Re sum_k q(k) exp(2 pi i (kx x / fw + ky y /
  // fh)), with row sums A_j(ky) = sum_kx kx^j q exp(2 pi i kx x / fw), so
  // that value, gradient and Hessian cost three complex products per bin.
  const double a = kTau / static_cast<double>(w);
  const double b = kTau / static_cast<double>(fh_);
  std::vector<double> kx(static_cast<std::size_t>(w)), er(static_cast<std::size_t>(w)), ei(static_cast<std::size_t>(w));
  for (long k = 0; k < w; ++k) kx[static_cast<std::size_t>(k)] = static_cast<double>(vf_SignedIndex(k, w));
  const long rows = fh_ % 2 == 0 ? rows_ - 1 : rows_;  // the Nyquist row holds no weight
  double x = 0.0, y = 0.0;
  bool converged = false;
  for (int iter = 0; iter < 30 && !converged; ++iter) {
    vfThrowExceptionOnFailure(vsys_attention_check());
    for (long k = 0; k < w; ++k) {
      const vcComplexD e = std::polar(1.0, a * kx[static_cast<std::size_t>(k)] * x);
      er[static_cast<std::size_t>(k)] = e.real();
      ei[static_cast<std::size_t>(k)] = e.imag();
    }
    double gxv = 0, gyv = 0, hxx = 0, hyy = 0, hxy = 0;
    for (long row = 0; row < rows; ++row) {
      const double* qr = qre + row * w;
      const double* qi = qim + row * w;
      // Two interleaved partial sums per accumulator (even and odd k), added
      // at the end of the row: independent chains the compiler can pair.
      double s[2][6] = {};
      long k = 0;
      for (; k + 1 < w; k += 2)
        for (int l = 0; l < 2; ++l) {
          const std::size_t i = static_cast<std::size_t>(k + l);
          const double vr = qr[i] * er[i] - qi[i] * ei[i];
          const double vi = qr[i] * ei[i] + qi[i] * er[i];
          const double kk = kx[i];
          s[l][0] += vr, s[l][1] += vi;
          s[l][2] += kk * vr, s[l][3] += kk * vi;
          s[l][4] += kk * kk * vr, s[l][5] += kk * kk * vi;
        }
      for (; k < w; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        const double vr = qr[i] * er[i] - qi[i] * ei[i];
        const double vi = qr[i] * ei[i] + qi[i] * er[i];
        const double kk = kx[i];
        s[0][0] += vr, s[0][1] += vi;
        s[0][2] += kk * vr, s[0][3] += kk * vi;
        s[0][4] += kk * kk * vr, s[0][5] += kk * kk * vi;
      }
      const double ky = static_cast<double>(row);
      const vcComplexD ey_ = std::polar(1.0, b * ky * y);
      const vcComplexD A0 = ey_ * vcComplexD(s[0][0] + s[1][0], s[0][1] + s[1][1]);
      const vcComplexD A1 = ey_ * vcComplexD(s[0][2] + s[1][2], s[0][3] + s[1][3]);
      const vcComplexD A2 = ey_ * vcComplexD(s[0][4] + s[1][4], s[0][5] + s[1][5]);
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
// window to the last answer. The window's residual pull is a small fraction
// of how far it is off (measured on photographs: a window 0.16 px off moves
// the answer by 0.002 px, one 0.002 px off by 3e-5 px, about 1.5 %), so the
// passes stop once a pass moves the answer by less than 5e-3 px (the pull
// left is then about 1e-4 px), at most three passes; two is the rule. The
// first pass transforms both crops at once (as one complex image), the
// later ones only the re-windowed moving crop, as a real image. Returns
// false when it cannot improve on the coarse estimate (tiny overlap, no
// coherent frequencies, Newton's method not settling near the start).
template <class T>
bool vf_FineStage(const vcPelBuffer_const<T>& reference, const vcPelBuffer_const<T>& moving,
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
  const std::size_t n = static_cast<std::size_t>(fw * fh);
  std::vector<double> r(n), m(n);  // the crops, row-major fw x fh
  for (long y = 0; y < fh; ++y) {
    const T* a = reference.pointToOffset() + (ys + y) * reference.rep().rowStride() + xs;
    const T* b = moving.pointToOffset() + (ys + iy + y) * moving.rep().rowStride() + xs + ix;
    double* ra = r.data() + y * fw;
    double* mb = m.data() + y * fw;
    for (long x = 0; x < fw; ++x) ra[x] = static_cast<double>(a[x]), mb[x] = static_cast<double>(b[x]);
  }
  const double limit = static_cast<double>(f) + 2.0;
  double ex = gx - static_cast<double>(ix);
  double ey = gy - static_cast<double>(iy);
  std::vector<vcComplexD> z(n);
  vc_CoherentPeak peak(fw, fh);
  // The band rows of the peak finder from a full spectrum.
  auto band = [&](const std::vector<vcComplexD>& spectrum, vcComplexD* out) {
    for (long j = 0; j < peak.bandRows(); ++j) {
      const vcComplexD* row = spectrum.data() + peak.spectrumRow(j) * fw;
      std::copy(row, row + fw, out + j * fw);
    }
  };

  if (!options.followingWindow) {
    // One pass with the image-wide edge treatment of the options.
    vcPelBuffer<double> rb(fw, fh), mb(fw, fh);
    for (long y = 0; y < fh; ++y)
      for (long x = 0; x < fw; ++x) {
        rb.set(x, y, r[static_cast<std::size_t>(y * fw + x)]);
        mb.set(x, y, m[static_cast<std::size_t>(y * fw + x)]);
      }
    vf_PrepareEdges(rb, options, options.edges);
    vf_PrepareEdges(mb, options, options.edges);
    for (long y = 0; y < fh; ++y)
      for (long x = 0; x < fw; ++x) z[static_cast<std::size_t>(y * fw + x)] = vcComplexD(rb.get(x, y), mb.get(x, y));
    vf_vision::vf_Dft2D(z, fw, fh, false);
    std::vector<vcComplexD> rs, ms;
    vf_SplitPair(z, fw, fh, rs, ms);
    if (options.edges == vcEdgeTreatment::periodicSmooth) {
      const std::vector<vcComplexD> sr = vfSmoothComponentSpectrum(rb);
      const std::vector<vcComplexD> sm = vfSmoothComponentSpectrum(mb);
      for (std::size_t i = 0; i < n; ++i) rs[i] -= sr[i], ms[i] -= sm[i];
    }
    band(rs, peak.referenceBand());
    band(ms, peak.movingBand());
    peak.referenceDone();
    double x = 0.0, y = 0.0;
    if (!peak.find(ex, ey, limit, x, y)) return false;
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
  for (long y = 0; y < fh; ++y) {
    const double* ra = r.data() + y * fw;
    const double wyv = wy[static_cast<std::size_t>(y)];
    for (long x = 0; x < fw; ++x) {
      const double wv = wx[static_cast<std::size_t>(x)] * wyv;
      su += wv * ra[x];
      sw += wv;
    }
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
    if (pass == 0) {
      for (long y = 0; y < fh; ++y) {
        const double* ra = r.data() + y * fw;
        const double* mb = m.data() + y * fw;
        const double wyv = wy[static_cast<std::size_t>(y)], myv = my[static_cast<std::size_t>(y)];
        vcComplexD* zr = z.data() + y * fw;
        for (long x = 0; x < fw; ++x)
          zr[x] = vcComplexD((ra[x] - mu) * wx[static_cast<std::size_t>(x)] * wyv,
                             (mb[x] - mu) * mx[static_cast<std::size_t>(x)] * myv);
      }
      vf_vision::vf_Dft2D(z, fw, fh, false);
      // Split Z = R + i M on the band rows: R(k) = (Z(k) + conj Z(-k)) / 2,
      // M(k) = (Z(k) - conj Z(-k)) / 2i.
      for (long j = 0; j < peak.bandRows(); ++j) {
        const long ky = peak.spectrumRow(j);
        const vcComplexD* za = z.data() + ky * fw;
        const vcComplexD* zb = z.data() + ((fh - ky) % fh) * fw;
        vcComplexD* ro = peak.referenceBand() + j * fw;
        vcComplexD* mo = peak.movingBand() + j * fw;
        for (long x = 0; x < fw; ++x) {
          const vcComplexD a = za[x];
          const vcComplexD b = std::conj(zb[(fw - x) % fw]);
          ro[x] = 0.5 * (a + b);
          const vcComplexD d = a - b;
          mo[x] = vcComplexD(0.5 * d.imag(), -0.5 * d.real());
        }
      }
      peak.referenceDone();
    } else {
      std::vector<double>& mw = r;  // the reference crop is not needed any more
      for (long y = 0; y < fh; ++y) {
        const double* mb = m.data() + y * fw;
        const double myv = my[static_cast<std::size_t>(y)];
        double* out = mw.data() + y * fw;
        for (long x = 0; x < fw; ++x) out[x] = (mb[x] - mu) * mx[static_cast<std::size_t>(x)] * myv;
      }
      vf_vision::vf_RealDft2D(mw.data(), fw, fh, z);
      band(z, peak.movingBand());
    }
    double x = 0.0, y = 0.0;
    if (!peak.find(ex, ey, limit, x, y)) return false;
    ex += x;
    ey += y;
    if (std::abs(ex) > limit || std::abs(ey) > limit) return false;
    if (std::abs(x) < 5e-3 && std::abs(y) < 5e-3) break;
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

namespace {

// The shift of the coarse stage's answer: rounded (integer mode) or refined
// by the fine stage.
template <class T>
void vf_Measure(const vcPelBuffer_const<T>& reference, const vcPelBuffer_const<T>& moving, long factor_,
                const vcPhaseCorrelationOptions& options_, const vc_Coarse& coarse, vcTranslation& result) {
  result.dx = std::round(coarse.gx);
  result.dy = std::round(coarse.gy);
  if (!options_.subPixel) return;
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
}

// Both stages on the images as they are (the pixel types are read where the
// stages copy them: no whole-image double copy).
template <class T>
vcTranslation vf_Correlate(const vcPelBuffer_const<T>& reference, const vcPelBuffer_const<T>& moving, long factor_,
                           const vcPhaseCorrelationOptions& options_, vcPelBuffer<double>* surface) {
  vcTranslation result;
  const vc_Coarse coarse = vf_CoarseStage(reference, moving, factor_, options_, surface);
  if (!coarse.valid) return result;  // nothing to measure: confidence 0, ambiguous
  result.confidence = coarse.confidence;
  result.ambiguous = coarse.ambiguous || coarse.confidence < options_.ambiguityThreshold;
  vf_Measure(reference, moving, factor_, options_, coarse, result);
  if (!options_.largeShifts) {
    // The answer within half the size: a shift past half is reported as its
    // alias one size away, the range (-size/2, size/2] of each axis, and
    // flagged (the content does not match at the alias).
    auto wrap = [&result](double& d, long size) {
      const double n = static_cast<double>(size);
      if (d > 0.5 * n)
        d -= n, result.ambiguous = true;
      else if (d <= -0.5 * n)
        d += n, result.ambiguous = true;
    };
    wrap(result.dx, reference.width());
    wrap(result.dy, reference.height());
  }
  return result;
}

}  // namespace

vcTranslation vcPhaseCorrelator::run(const vcPelBuffer_const<unsigned char>& reference,
                                     const vcPelBuffer_const<unsigned char>& moving,
                                     vcPelBuffer<double>* surface) const {
  vf_vision::vf_CheckPair(reference, moving, width_, height_);
  return vf_Correlate(reference, moving, factor_, options_, surface);
}

vcTranslation vcPhaseCorrelator::run(const vcPelBuffer_const<unsigned short>& reference,
                                     const vcPelBuffer_const<unsigned short>& moving,
                                     vcPelBuffer<double>* surface) const {
  vf_vision::vf_CheckPair(reference, moving, width_, height_);
  return vf_Correlate(reference, moving, factor_, options_, surface);
}

vcTranslation vcPhaseCorrelator::run(const vcPelBuffer_const<double>& reference,
                                     const vcPelBuffer_const<double>& moving, vcPelBuffer<double>* surface) const {
  vf_vision::vf_CheckPair(reference, moving, width_, height_);
  return vf_Correlate(reference, moving, factor_, options_, surface);
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

// Rotation, scale and translation by Fourier-Mellin phase correlation (see
// registration.h for the model and the method).
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "filt/fft.h"
#include "filt/vision/registration.h"
#include "vexsys/attention.h"
#include "vision/registration_support.h"
#include "vision/windows_dft.h"

namespace vf_vision {

namespace {

// Bicubic sample from raw rows (base, stride, w x h), indices clamped to
// the image; the body of vf_SampleBicubic, for loops that read the image's
// layout once.
inline double vf_Bicubic(const double* base, long stride, long w, long h, double x, double y) {
  const double fx = std::floor(x);
  const double fy = std::floor(y);
  const double tx = x - fx;
  const double ty = y - fy;
  // Keys' cubic convolution kernel with a = -1/2 (exact for quadratics).
  auto weights = [](double t, double* k) {
    const double t2 = t * t, t3 = t2 * t;
    k[0] = -0.5 * t3 + t2 - 0.5 * t;
    k[1] = 1.5 * t3 - 2.5 * t2 + 1.0;
    k[2] = -1.5 * t3 + 2.0 * t2 + 0.5 * t;
    k[3] = 0.5 * t3 - 0.5 * t2;
  };
  double kx[4], ky[4];
  weights(tx, kx);
  weights(ty, ky);
  // The 4 x 4 neighbourhood, its indices clamped to the image (a point far
  // outside clamps every index: the floor is taken after clamping the
  // coordinate so that the long conversion cannot overflow).
  const long x0 = static_cast<long>(std::clamp(fx, -4.0, static_cast<double>(w))) - 1;
  const long y0 = static_cast<long>(std::clamp(fy, -4.0, static_cast<double>(h))) - 1;
  long xi[4];
  for (int i = 0; i < 4; ++i) xi[i] = std::clamp(x0 + i, 0L, w - 1);
  double s = 0.0;
  for (int j = 0; j < 4; ++j) {
    const double* line = base + std::clamp(y0 + j, 0L, h - 1) * stride;
    double row = 0.0;
    for (int i = 0; i < 4; ++i) row += kx[i] * line[xi[i]];
    s += ky[j] * row;
  }
  return s;
}

}  // namespace

double vf_SampleBicubic(const vcPelBuffer_const<double>& image, double x, double y, bool& inside) {
  const long w = image.width();
  const long h = image.height();
  inside = x >= 0.0 && y >= 0.0 && x <= static_cast<double>(w - 1) && y <= static_cast<double>(h - 1);
  return vf_Bicubic(image.pointToOffset(), image.rep().rowStride(), w, h, x, y);
}

}  // namespace vf_vision

namespace {

constexpr double kPi = std::numbers::pi;

// The similarity of the model, as a map from reference pixels q to moving
// pixels p = c + scale R(angle) (q - c) + (dx, dy).
struct vc_Similarity {
  double angle = 0.0, scale = 1.0, dx = 0.0, dy = 0.0;
  void apply(double cx, double cy, double qx, double qy, double& px, double& py) const {
    const double a = scale * std::cos(angle), b = scale * std::sin(angle);
    px = cx + a * (qx - cx) - b * (qy - cy) + dx;
    py = cy + b * (qx - cx) + a * (qy - cy) + dy;
  }
};

// The moving image carried back onto the reference: u(q) = moving(T(q)).
// Points outside the moving image take its border values.
vcPelBuffer<double> vf_Unwarp(const vcPelBuffer_const<double>& moving, const vc_Similarity& t) {
  const long w = moving.width(), h = moving.height();
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  vcPelBuffer<double> u(w, h);
  // t.apply with its rotation formed once.
  const double a = t.scale * std::cos(t.angle), b = t.scale * std::sin(t.angle);
  const double* base = moving.pointToOffset();
  const long stride = moving.rep().rowStride();
  for (long y = 0; y < h; ++y) {
    if (y % 64 == 0) vfThrowExceptionOnFailure(vsys_attention_check());
    double* out = u.pointToOffset() + y * u.rep().rowStride();
    const double qy = static_cast<double>(y);
    for (long x = 0; x < w; ++x) {
      const double qx = static_cast<double>(x);
      const double px = cx + a * (qx - cx) - b * (qy - cy) + t.dx;
      const double py = cy + b * (qx - cx) + a * (qy - cy) + t.dy;
      out[x] = vf_vision::vf_Bicubic(base, stride, w, h, px, py);
    }
  }
  return u;
}

// The largest centred rectangle of the image's aspect whose pixels all map
// inside the moving image under t (the valid region is convex, so the four
// corners decide). Returns its half sizes scaled by the factor found.
double vf_ValidFraction(long w, long h, const vc_Similarity& t) {
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  auto fits = [&](double f) {
    for (double sx : {-1.0, 1.0})
      for (double sy : {-1.0, 1.0}) {
        double px, py;
        t.apply(cx, cy, cx + sx * f * cx, cy + sy * f * cy, px, py);
        if (px < 0.0 || py < 0.0 || px > w - 1.0 || py > h - 1.0) return false;
      }
    return true;
  };
  double lo = 0.0, hi = 1.0;
  if (fits(1.0)) return 1.0;
  for (int i = 0; i < 40; ++i) {
    const double mid = 0.5 * (lo + hi);
    (fits(mid) ? lo : hi) = mid;
  }
  return lo;
}

// Log-polar samples of the log magnitude spectrum of an image: x = log
// radius (from fMin to fMax cycles per pixel over `radii` samples), y = angle
// (0 to pi over `angles` samples, measured from the x axis toward the y
// axis). The image is mean-removed and tapered by a circular window first, so
// the edges add no cross to the spectrum and the content used does not
// depend on the rotation.
vcPelBuffer<double> vf_LogPolar(const vcPelBuffer_const<double>& image, long radii, long angles, double fMin,
                                double fMax) {
  const long w = image.width(), h = image.height();
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  const double rmax = std::min(w, h) / 2.0;
  vcPelBuffer<double> win(w, h);
  double sum = 0.0, sw = 0.0;
  std::vector<double> wt(static_cast<std::size_t>(w * h));
  const long stride = image.rep().rowStride();
  for (long y = 0; y < h; ++y) {
    const double* row = image.pointToOffset() + y * stride;
    for (long x = 0; x < w; ++x) {
      const double r = std::hypot(x - cx, y - cy) / rmax;
      const double v = r >= 1.0 ? 0.0 : (r <= 0.5 ? 1.0 : 0.5 + 0.5 * std::cos(kPi * (r - 0.5) / 0.5));
      wt[static_cast<std::size_t>(y * w + x)] = v;
      sum += v * row[x];
      sw += v;
    }
  }
  const double mean = sw > 0.0 ? sum / sw : 0.0;
  for (long y = 0; y < h; ++y) {
    const double* row = image.pointToOffset() + y * stride;
    double* out = win.pointToOffset() + y * win.rep().rowStride();
    for (long x = 0; x < w; ++x) out[x] = (row[x] - mean) * wt[static_cast<std::size_t>(y * w + x)];
  }
  vcFrequencyBuffer spectrum;
  vfForwardFFT<double>(win, spectrum);
  const vcPelBuffer<double> mag = spectrum.getMagnitudeImage(true);  // zero frequency at (pw/2, ph/2)
  const long pw = mag.width(), ph = mag.height();
  vcPelBuffer<double> lp(radii, angles);
  const double step = std::log(fMax / fMin) / static_cast<double>(radii);
  for (long i = 0; i < angles; ++i) {
    const double phi = kPi * static_cast<double>(i) / static_cast<double>(angles);
    const double c = std::cos(phi), s = std::sin(phi);
    for (long j = 0; j < radii; ++j) {
      const double f = fMin * std::exp(step * static_cast<double>(j));
      const double u = pw / 2.0 + f * c * pw;
      const double v = ph / 2.0 + f * s * ph;
      const long u0 = std::clamp(static_cast<long>(std::floor(u)), 0L, pw - 2);
      const long v0 = std::clamp(static_cast<long>(std::floor(v)), 0L, ph - 2);
      const double fu = u - u0, fv = v - v0;
      const double* m0 = mag.pointToOffset() + v0 * mag.rep().rowStride() + u0;  // u0 + 1 < pw, v0 + 1 < ph
      const double* m1 = m0 + mag.rep().rowStride();
      const double m = (1 - fv) * ((1 - fu) * m0[0] + fu * m0[1]) + fv * ((1 - fu) * m1[0] + fu * m1[1]);
      lp.pointToOffset()[i * lp.rep().rowStride() + j] = std::log1p(m);
    }
  }
  return lp;
}

// Angle and log-scale step between two images from their log-polar spectra:
// the moving grid is the reference's shifted by (-ln(scale) / step, angle /
// (pi / angles)). The angle is known modulo pi, returned in [0, pi).
struct vc_LogPolarStep {
  double angle = 0.0;
  double scale = 1.0;
  double confidence = 0.0;
};

// `a` is the reference's grid (vf_LogPolar), made once per registration.
vc_LogPolarStep vf_LogPolarStep(const vcPelBuffer_const<double>& a, const vcPelBuffer_const<double>& moving,
                                const vcSimilarityOptions& options, double fMin, double fMax) {
  const vcPelBuffer<double> b = vf_LogPolar(moving, options.radii, options.angles, fMin, fMax);
  vcPhaseCorrelationOptions o = options.translation;
  o.largeShifts = false;
  const vcTranslation t = vcPhaseCorrelator(options.radii, options.angles, o).run(a, b);
  const double step = std::log(fMax / fMin) / static_cast<double>(options.radii);
  vc_LogPolarStep out;
  out.scale = std::exp(-t.dx * step);
  double angle = t.dy * kPi / static_cast<double>(options.angles);
  angle = std::fmod(angle, kPi);
  if (angle < 0.0) angle += kPi;
  out.angle = angle;
  out.confidence = t.confidence;
  return out;
}

// The translation left after carrying the moving image back by the angle
// and scale of t, measured on the largest centred part that is valid in
// both; t.dx, t.dy are set from it (d = scale R t').
vcTranslation vf_FinalTranslation(const vcPelBuffer_const<double>& reference, const vcPelBuffer_const<double>& moving,
                                  const vcSimilarityOptions& options, vc_Similarity& t, bool subPixel) {
  const long w = reference.width(), h = reference.height();
  vc_Similarity rs = t;
  rs.dx = rs.dy = 0.0;
  const vcPelBuffer<double> u = vf_Unwarp(moving, rs);
  const double f = vf_ValidFraction(w, h, rs);
  const long cw = std::max(2L * static_cast<long>(f * (w - 1) / 2.0) - 2, 0L);
  const long ch = std::max(2L * static_cast<long>(f * (h - 1) / 2.0) - 2, 0L);
  vcTranslation result;
  if (cw < 16 || ch < 16) return result;
  const long x0 = (w - cw) / 2, y0 = (h - ch) / 2;
  const vcPelBuffer_const<double> rc(reference, x0, y0, cw, ch);
  const vcPelBuffer_const<double> uc(u, x0, y0, cw, ch);
  vcPhaseCorrelationOptions o = options.translation;
  o.subPixel = o.subPixel && subPixel;
  result = vcPhaseCorrelator(cw, ch, o).run(rc, uc);
  const double a = t.scale * std::cos(t.angle), b = t.scale * std::sin(t.angle);
  t.dx = a * result.dx - b * result.dy;
  t.dy = b * result.dx + a * result.dy;
  return result;
}

double vf_WrapAngle(double a) {
  while (a <= -kPi) a += 2.0 * kPi;
  while (a > kPi) a -= 2.0 * kPi;
  return a;
}

// Refines the angle and scale of t from local shifts: the moving image is
// carried back by t, and the shifts of a 3 x 3 grid of blocks against the
// reference are measured with the translation correlator. What is left of
// the similarity moves a block centre q by A (q - c) + d with A = [[a, -b],
// [b, a]]; a least-squares fit of (a, b, d) gives it, and t composes with it.
// Each block's shift is good to a few hundredths of a pixel and the blocks
// lie a third of the image apart, which pins the angle and the scale several
// times tighter than the log-polar grid does. False (t unchanged) when fewer
// than four blocks give an unambiguous shift.
bool vf_BlockRefinement(const vcPelBuffer_const<double>& reference, const vcPelBuffer_const<double>& moving,
                        const vcSimilarityOptions& options, vc_Similarity& t) {
  const long w = reference.width(), h = reference.height();
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  const vcPelBuffer<double> u = vf_Unwarp(moving, t);
  const double f = vf_ValidFraction(w, h, t);
  const long vw = 2 * static_cast<long>(f * cx) - 2, vh = 2 * static_cast<long>(f * cy) - 2;
  const long bs = vf_vision::vf_FastLengthBelow(std::max(1L, std::min(vw, vh) / 3));
  if (bs < 32) return false;
  vcPhaseCorrelationOptions o = options.translation;
  o.subPixel = true;
  o.largeShifts = false;
  const vcPhaseCorrelator plan(bs, bs, o);
  // Normal equations of the unknowns (a, b, dx, dy): per block
  //   tx = a qx - b qy + dx,  ty = b qx + a qy + dy.
  double n[4][5] = {};
  int used = 0;
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      const long x0 = (w - 3 * bs) / 2 + i * bs, y0 = (h - 3 * bs) / 2 + j * bs;
      const vcPelBuffer_const<double> rb(reference, x0, y0, bs, bs);
      const vcPelBuffer_const<double> ub(u, x0, y0, bs, bs);
      const vcTranslation r = plan.run(rb, ub);
      if (r.ambiguous || !(r.confidence > 0.0)) continue;
      const double qx = x0 + (bs - 1) / 2.0 - cx, qy = y0 + (bs - 1) / 2.0 - cy;
      const double rows[2][5] = {{qx, -qy, 1.0, 0.0, r.dx}, {qy, qx, 0.0, 1.0, r.dy}};
      for (const auto& row : rows)
        for (int k = 0; k < 4; ++k)
          for (int l = 0; l < 5; ++l) n[k][l] += row[k] * row[l];
      ++used;
    }
  if (used < 4) return false;
  // Gaussian elimination with partial pivoting on the 4 x 4 system.
  for (int k = 0; k < 4; ++k) {
    int piv = k;
    for (int r = k + 1; r < 4; ++r)
      if (std::abs(n[r][k]) > std::abs(n[piv][k])) piv = r;
    if (!(std::abs(n[piv][k]) > 1e-12)) return false;
    for (int l = 0; l < 5; ++l) std::swap(n[k][l], n[piv][l]);
    for (int r = k + 1; r < 4; ++r) {
      const double m = n[r][k] / n[k][k];
      for (int l = k; l < 5; ++l) n[r][l] -= m * n[k][l];
    }
  }
  double x[4];
  for (int k = 3; k >= 0; --k) {
    double v = n[k][4];
    for (int l = k + 1; l < 4; ++l) v -= n[k][l] * x[l];
    x[k] = v / n[k][k];
  }
  const double a = x[0], b = x[1];
  if (!std::isfinite(a) || !std::isfinite(b) || std::abs(a) > 0.05 || std::abs(b) > 0.05) return false;
  // u(q) = moving(T(q)) = reference(S(q)) with S(q) = c + (I - A)(q - c) - d,
  // so the similarity is T after S^-1: its linear part s R (I - A)^-1.
  // (I - A) = [[1 - a, b], [-b, 1 - a]] is itself a scaled rotation by
  // atan2(-b, 1 - a), its inverse by the opposite angle and 1 / its scale.
  const double rotation = -std::atan2(-b, 1.0 - a);
  const double scale = 1.0 / std::hypot(1.0 - a, b);
  t.angle = vf_WrapAngle(t.angle + rotation);
  t.scale *= scale;
  return true;
}

}  // namespace

vcSimilarityRegistration::vcSimilarityRegistration(long width, long height, const vcSimilarityOptions& options)
    : width_(width), height_(height), options_(options) {
  if (width < 32 || height < 32 || width > 2048 || height > 2048)
    throw vcFrequencyDefs::InvalidSize("Similarity registration needs images of 32 to 2048 pixels a side.");
  if (options.angles < 16 || options.angles > 4096 || options.radii < 16 || options.radii > 4096)
    throw vcFrequencyDefs::InvalidArgument("angles and radii must be in 16 .. 4096.");
  if (!(options.minScale > 0.0 && options.minScale < 1.0 && options.maxScale > 1.0 && std::isfinite(options.maxScale)))
    throw vcFrequencyDefs::InvalidArgument("Scales must satisfy 0 < minScale < 1 < maxScale.");
  if (options.refinements < 0 || options.refinements > 4)
    throw vcFrequencyDefs::InvalidArgument("refinements must be in 0 .. 4.");
  // Checks the translation options once, here.
  (void)vcPhaseCorrelator(options.radii, options.angles, options.translation);
}

vcSimilarity vcSimilarityRegistration::runDouble(const vcPelBuffer_const<double>& reference,
                                                 const vcPelBuffer_const<double>& moving) const {
  // Frequencies used: from 1/64 of the band (below, the circular window's own
  // spectrum dominates) to 0.45 cycles per pixel (short of the corners where
  // a rotated spectrum has no counterpart).
  const double fMax = 0.45;
  const double fMin = fMax / 48.0;
  const vcPelBuffer<double> grid = vf_LogPolar(reference, options_.radii, options_.angles, fMin, fMax);
  const vc_LogPolarStep first = vf_LogPolarStep(grid, moving, options_, fMin, fMax);
  vcSimilarity out;
  if (first.confidence <= 0.0) return out;
  const double scale = std::clamp(first.scale, options_.minScale, options_.maxScale);
  // The magnitude spectrum repeats every pi: try both angles with the
  // translation and keep the one that correlates better.
  vc_Similarity best;
  vcTranslation bestT;
  bool have = false;
  for (double angle : {first.angle, first.angle - kPi}) {
    vc_Similarity t{angle, scale, 0.0, 0.0};
    // Whole pixels are enough to compare the two candidates.
    const vcTranslation tr = vf_FinalTranslation(reference, moving, options_, t, false);
    if (!have || tr.confidence > bestT.confidence) best = t, bestT = tr, have = true;
  }
  // Refinements: carry the moving image back by the estimate and measure the
  // small rotation and scale that are left, where the log-polar grids of the
  // two nearly equal images are compared without the interpolation spread
  // of a large rotation.
  for (int i = 0; i < options_.refinements; ++i) {
    const vcPelBuffer<double> u = vf_Unwarp(moving, best);
    const vc_LogPolarStep rest = vf_LogPolarStep(grid, u, options_, fMin, fMax);
    double da = rest.angle > kPi / 2.0 ? rest.angle - kPi : rest.angle;     // small: near 0
    if (std::abs(da) > 0.2 || std::abs(std::log(rest.scale)) > 0.2) break;  // no sensible residual
    // u(q) = moving(T(q)) ~ reference(T_r^-1 q): the residual composes on the right.
    best.angle = vf_WrapAngle(best.angle + da);
    best.scale *= rest.scale;
  }
  // The translation of the carried-back image to whole pixels, then the
  // angle and scale from local shifts.
  // The fit is linear in what is left, so a large remainder takes a second
  // (rarely a third) round.
  for (int round = 0; round < 3; ++round) {
    bestT = vf_FinalTranslation(reference, moving, options_, best, false);
    const vc_Similarity before = best;
    if (!vf_BlockRefinement(reference, moving, options_, best)) break;
    if (std::abs(best.angle - before.angle) < 1e-4 && std::abs(best.scale / before.scale - 1.0) < 1e-4) break;
  }
  bestT = vf_FinalTranslation(reference, moving, options_, best, true);
  out.angle = vf_WrapAngle(best.angle);
  out.scale = best.scale;
  out.dx = best.dx;
  out.dy = best.dy;
  out.confidence = bestT.confidence;
  out.ambiguous = bestT.ambiguous || first.scale < options_.minScale || first.scale > options_.maxScale;
  return out;
}

vcSimilarity vcSimilarityRegistration::run(const vcPelBuffer_const<unsigned char>& reference,
                                           const vcPelBuffer_const<unsigned char>& moving) const {
  vf_vision::vf_CheckPair(reference, moving, width_, height_);
  return runDouble(vf_vision::vf_ToDouble(reference), vf_vision::vf_ToDouble(moving));
}
vcSimilarity vcSimilarityRegistration::run(const vcPelBuffer_const<unsigned short>& reference,
                                           const vcPelBuffer_const<unsigned short>& moving) const {
  vf_vision::vf_CheckPair(reference, moving, width_, height_);
  return runDouble(vf_vision::vf_ToDouble(reference), vf_vision::vf_ToDouble(moving));
}
vcSimilarity vcSimilarityRegistration::run(const vcPelBuffer_const<double>& reference,
                                           const vcPelBuffer_const<double>& moving) const {
  vf_vision::vf_CheckPair(reference, moving, width_, height_);
  return runDouble(reference, moving);
}

namespace {
template <class T>
vcSimilarity vf_RegisterOnce(const vcPelBuffer_const<T>& reference, const vcPelBuffer_const<T>& moving,
                             const vcSimilarityOptions& options) {
  if (!reference.isBound() || !moving.isBound()) throw vcFrequencyDefs::UnboundWindow();
  return vcSimilarityRegistration(reference.width(), reference.height(), options).run(reference, moving);
}
}  // namespace

vcSimilarity vfRegisterSimilarity(const vcPelBuffer_const<unsigned char>& reference,
                                  const vcPelBuffer_const<unsigned char>& moving, const vcSimilarityOptions& options) {
  return vf_RegisterOnce(reference, moving, options);
}
vcSimilarity vfRegisterSimilarity(const vcPelBuffer_const<unsigned short>& reference,
                                  const vcPelBuffer_const<unsigned short>& moving, const vcSimilarityOptions& options) {
  return vf_RegisterOnce(reference, moving, options);
}
vcSimilarity vfRegisterSimilarity(const vcPelBuffer_const<double>& reference, const vcPelBuffer_const<double>& moving,
                                  const vcSimilarityOptions& options) {
  return vf_RegisterOnce(reference, moving, options);
}

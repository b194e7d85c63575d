// The Gabor bank: parameters, the spectrum it filters, and the energy of each
// filter, by small arrays around the patch (energy) or by the library's filter
// and banded inverse (energyExact).

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "fft/engine/engine.h"
#include "filt/vision/texture.h"
#include "vexsys/attention.h"
#include "vision/texture_kernels.h"
#include "vision/texture_support.h"

namespace {

using Defs = vcFrequencyDefs;

void poll() {
  vfThrowExceptionOnFailure(vsys_attention_check());
}

bool isPow2(long n) {
  return n > 0 && (n & (n - 1)) == 0;
}

// The interpolation kernel: kTaps samples, from 3 before to 4 after the
// position.
constexpr long kTaps = 8;
constexpr long kBefore = 3;

// The largest envelope bandwidth a grid is chosen for: sigma * grid (the
// envelope spectrum's standard deviation in cycles per grid sample) at most
// kGridBand / oversample.
constexpr double kGridBand = 0.2272;

// The envelope spectrum of one filter along one axis: its standard deviation
// in cycles per pixel is sqrt(su^2 cos^2 + sv^2 sin^2) along the columns and
// sqrt(su^2 sin^2 + sv^2 cos^2) along the rows.
struct Envelope {
  double x, y;
};

Envelope envelopeOf(const vcPair<double>& sg, double theta) {
  const double c = std::cos(theta), s = std::sin(theta);
  return {std::sqrt(sg.x * sg.x * c * c + sg.y * sg.y * s * s), std::sqrt(sg.x * sg.x * s * s + sg.y * sg.y * c * c)};
}

// One axis of an energy run: the small array's grid and how the outputs read
// it. `size` cells (a power of two), outputs every `step` pixels, envelope
// standard deviation `sigma` (cycles per pixel).
struct Axis {
  long grid = 1;     // pixels between the small array's samples
  long samples = 1;  // the small array's length, size / grid
  long factor = 1;   // grid / step: 1 reads samples off, else interpolates
  double phi = 0.0;  // sigma * grid: the envelope's width in cycles per sample
  // Weights of fraction r / factor (r = 1 .. factor - 1), kTaps each, for the
  // samples at offsets -kBefore .. kTaps - 1 - kBefore.
  std::vector<double> weights;
};

// Weights that interpolate a signal whose spectrum is Gaussian with standard
// deviation phi (cycles per sample) at fraction t: the least-squares
// (Wiener) interpolator of such a signal, w = R^-1 r with the signal's
// autocorrelation R(d) = exp(-pi^2 phi^2 d^2) (of the power spectrum
// exp(-f^2 / phi^2)), constrained to sum to 1 so that a constant (a grating
// on the filter's centre) is interpolated exactly: w + R^-1 1 (1 - sum w) /
// (1' R^-1 1). A ridge of 1e-10 keeps R invertible for narrow envelopes
// (where the weights tend to equal ones, as they should).
void wienerWeights(double phi, double t, double* w) {
  constexpr long n = kTaps;
  double R[n][n + 2];
  const double k = std::numbers::pi * std::numbers::pi * phi * phi;
  for (long i = 0; i < n; ++i) {
    for (long j = 0; j < n; ++j) {
      const double d = static_cast<double>(i - j);
      R[i][j] = std::exp(-k * d * d) + (i == j ? 1e-10 : 0.0);
    }
    const double d = static_cast<double>(i - kBefore) - t;
    R[i][n] = std::exp(-k * d * d);
    R[i][n + 1] = 1.0;
  }
  // Gaussian elimination with partial pivoting (R is symmetric positive
  // definite; pivoting guards the rounding of the nearly singular cases).
  for (long c = 0; c < n; ++c) {
    long p = c;
    for (long i = c + 1; i < n; ++i)
      if (std::fabs(R[i][c]) > std::fabs(R[p][c])) p = i;
    if (p != c)
      for (long j = 0; j < n + 2; ++j) std::swap(R[c][j], R[p][j]);
    for (long i = c + 1; i < n; ++i) {
      const double m = R[i][c] / R[c][c];
      for (long j = c; j < n + 2; ++j) R[i][j] -= m * R[c][j];
    }
  }
  double u[n];
  for (long i = n - 1; i >= 0; --i) {
    double v = R[i][n], x = R[i][n + 1];
    for (long j = i + 1; j < n; ++j) {
      v -= R[i][j] * w[j];
      x -= R[i][j] * u[j];
    }
    w[i] = v / R[i][i];
    u[i] = x / R[i][i];
  }
  double sw = 0.0, su = 0.0;
  for (long i = 0; i < n; ++i) {
    sw += w[i];
    su += u[i];
  }
  for (long i = 0; i < n; ++i) w[i] += u[i] * (1.0 - sw) / su;
}

Axis axisOf(long size, long step, double sigma, long oversample) {
  Axis a;
  // The coarsest grid (a power of two, at most the size) on which the
  // envelope is narrow enough to interpolate.
  const double band = kGridBand / static_cast<double>(oversample);
  long coarsest = 1;
  while (coarsest < size && sigma * static_cast<double>(2 * coarsest) <= band) coarsest *= 2;
  if (step >= coarsest) {
    a.grid = std::min(step, size);  // read off: exact samples at every output
  } else {
    a.grid = coarsest;
    a.factor = coarsest / step;
  }
  a.samples = size / a.grid;
  a.phi = sigma * static_cast<double>(a.grid);
  a.weights.resize(static_cast<std::size_t>((a.factor - 1) * kTaps));
  // Fraction F - r is fraction r mirrored (the same problem reflected about
  // the middle of the grid interval): its weights are set to fraction r's in
  // reverse order, and the middle fraction's to the mean of its own and their
  // reverse, so that the kernels' symmetric forms use exactly these weights
  // (to a rounding of the pairs' half sums).
  const long F = a.factor;
  for (long r = 1; 2 * r <= F; ++r) {
    double* w = a.weights.data() + (r - 1) * kTaps;
    wienerWeights(a.phi, static_cast<double>(r) / static_cast<double>(F), w);
    if (2 * r == F) {
      for (long j = 0; j < kTaps / 2; ++j) w[j] = w[kTaps - 1 - j] = 0.5 * (w[j] + w[kTaps - 1 - j]);
    } else {
      double* m = a.weights.data() + (F - r - 1) * kTaps;
      for (long j = 0; j < kTaps; ++j) m[j] = w[kTaps - 1 - j];
    }
  }
  return a;
}

// The interpolation's error bound of one axis and the largest sum of its
// weights' magnitudes: max over frequencies f (cycles per sample) and the
// fractions used of exp(-f^2 / (2 phi^2)) |sum_j w_j e^(2 pi i f (j - t)) - 1|,
// evaluated every phi / 64 over |f| <= 9 phi (beyond, the Gaussian is below
// 3e-18 and the error at most 1 plus the weights' sum), plus 1 %.
struct AxisError {
  double error = 0.0;
  double gain = 1.0;
};

AxisError axisError(const Axis& a) {
  AxisError e;
  for (long r = 1; r < a.factor; ++r) {
    const double* w = a.weights.data() + (r - 1) * kTaps;
    const double t = static_cast<double>(r) / static_cast<double>(a.factor);
    double gain = 0.0;
    for (long j = 0; j < kTaps; ++j) gain += std::fabs(w[j]);
    e.gain = std::max(e.gain, gain);
    for (long n = -576; n <= 576; ++n) {
      const double f = a.phi * static_cast<double>(n) / 64.0;
      double re = -1.0, im = 0.0;
      for (long j = 0; j < kTaps; ++j) {
        const double arg = 2.0 * std::numbers::pi * f * (static_cast<double>(j - kBefore) - t);
        re += w[j] * std::cos(arg);
        im += w[j] * std::sin(arg);
      }
      const double g = std::exp(-(f * f) / (2.0 * a.phi * a.phi));
      e.error = std::max(e.error, 1.01 * g * std::sqrt(re * re + im * im));
    }
  }
  return e;
}

}  // namespace

// ---------------------------------------------------------------------------
// Parameters
// ---------------------------------------------------------------------------

vcGaborBank::vcGaborBank(const std::vector<double>& frequencies, long orientations, double bandwidth,
                         double angularBandwidth) {
  if (!(bandwidth > 0.0 && bandwidth <= 8.0))
    throw Defs::InvalidArgument("Bandwidth must be above 0 and at most 8 octaves.");
  if (orientations < 1 || orientations > kMaxOrientations)
    throw Defs::InvalidArgument("Orientations must be between 1 and 64.");
  if (angularBandwidth == 0.0) angularBandwidth = 2.0 * std::numbers::pi / static_cast<double>(orientations);
  if (!(angularBandwidth > 0.0 && angularBandwidth < std::numbers::pi))
    throw Defs::InvalidArgument("Angular bandwidth must be between 0 and pi.");
  const double halfPeak = std::sqrt(2.0 * std::log(2.0));
  const double radial = (std::exp2(bandwidth) - 1.0) / ((std::exp2(bandwidth) + 1.0) * halfPeak);
  const double angular = std::tan(0.5 * angularBandwidth) / halfPeak;
  std::vector<vcPair<double>> sigmas;
  for (double f : frequencies) sigmas.emplace_back(f * radial, f * angular);
  build(frequencies, orientations, sigmas);
}

vcGaborBank::vcGaborBank(const std::vector<double>& frequencies, long orientations,
                         const std::vector<vcPair<double>>& sigmas) {
  build(frequencies, orientations, sigmas);
}

void vcGaborBank::build(const std::vector<double>& frequencies, long orientations,
                        const std::vector<vcPair<double>>& sigmas) {
  if (frequencies.empty() || static_cast<long>(frequencies.size()) > kMaxFrequencies)
    throw Defs::InvalidArgument("A bank needs 1 to 16 frequencies.");
  if (orientations < 1 || orientations > kMaxOrientations)
    throw Defs::InvalidArgument("Orientations must be between 1 and 64.");
  if (sigmas.size() != frequencies.size()) throw Defs::InvalidArgument("A bank needs one sigma pair per frequency.");
  for (std::size_t m = 0; m < frequencies.size(); ++m) {
    if (!(frequencies[m] > 0.0 && frequencies[m] <= 0.5))
      throw Defs::InvalidArgument("Bank frequencies must be above 0.0 and at most 0.5.");
    if (!(sigmas[m].x >= kMinSigma && sigmas[m].x <= 0.5 && sigmas[m].y >= kMinSigma && sigmas[m].y <= 0.5))
      throw Defs::InvalidArgument("Bank sigmas must be at least 1e-6 and at most 0.5.");
  }
  frequencies_ = frequencies;
  sigmas_ = sigmas;
  orientations_ = orientations;
}

bool vcGaborBank::operator==(const vcGaborBank& other) const {
  return frequencies_ == other.frequencies_ && sigmas_ == other.sigmas_ && orientations_ == other.orientations_ &&
         support_ == other.support_ && oversample_ == other.oversample_;
}

void vcGaborBank::requireBuilt() const {
  if (filters() == 0) throw Defs::Uninitialized("Gabor bank has no filters");
}

void vcGaborBank::requireFilter(long k) const {
  requireBuilt();
  if (k < 0 || k >= filters()) throw Defs::BadCoord("Filter index is out of range");
}

double vcGaborBank::frequency(long k) const {
  requireFilter(k);
  return frequencies_[static_cast<std::size_t>(k / orientations_)];
}

vcRadian vcGaborBank::angle(long k) const {
  requireFilter(k);
  return vcRadian(static_cast<double>(k % orientations_) * std::numbers::pi / static_cast<double>(orientations_));
}

vcPair<double> vcGaborBank::sigma(long k) const {
  requireFilter(k);
  return sigmas_[static_cast<std::size_t>(k / orientations_)];
}

void vcGaborBank::support(double value) {
  if (!(value >= 2.0 && value <= 8.0)) throw Defs::InvalidArgument("Support must be between 2 and 8 sigmas.");
  support_ = value;
}

void vcGaborBank::oversample(long value) {
  if (value != 1 && value != 2 && value != 4 && value != 8)
    throw Defs::InvalidArgument("Oversampling must be 1, 2, 4 or 8.");
  oversample_ = value;
}

double vcGaborBank::envelopeSigma() const {
  requireBuilt();
  double smallest = 0.5;
  for (const auto& s : sigmas_) smallest = std::min({smallest, s.x, s.y});
  return 1.0 / (2.0 * std::numbers::pi * smallest);
}

vcFrequencyFilterGabor vcGaborBank::filter(long k, const vcPair<long>& size) const {
  return vcFrequencyFilterGabor(sigma(k), vcPair<double>(0.0, 0.0), angle(k), frequency(k), size, 1);
}

// ---------------------------------------------------------------------------
// Energies
// ---------------------------------------------------------------------------

template <class T>
vcFrequencyBuffer vcGaborBank::spectrum(const vcPelBuffer_const<T>& image) const {
  requireBuilt();
  vcFrequencyBuffer buffer;
  vfForwardFFT(image, buffer);
  buffer.put(0, 0, vcPair<double>(0.0, 0.0), false);
  return buffer;
}

double vcGaborBank::energyBound(long k, long step, const vcPair<long>& size) const {
  requireFilter(k);
  if (step < 1 || step > 64 || !isPow2(step)) throw Defs::InvalidArgument("Step must be a power of 2 from 1 to 64.");
  if (size.x < 1 || size.y < 1 || size.x > 2048 || size.y > 2048 || !isPow2(size.x) || !isPow2(size.y))
    throw Defs::InvalidSize("Size must be a power of 2.");
  const Envelope env = envelopeOf(sigma(k), angle(k).value());
  const AxisError ex = axisError(axisOf(size.x, step, env.x, oversample_));
  const AxisError ey = axisError(axisOf(size.y, step, env.y, oversample_));
  // Interpolating along the rows, then down: the 2-D error of a component is
  // |Hx Hy - 1| <= |Hx - 1| |Hy| + |Hy - 1|, and the Gaussian of a component
  // is at most the marginal Gaussian of either axis.
  return std::exp(-0.5 * support_ * support_) + ex.error * ey.gain + ey.error;
}

void vcGaborBank::energy(const vcFrequencyBuffer& spectrum, long k, long step, float* out, long pitch) const {
  requireFilter(k);
  const long W = spectrum.width(), H = spectrum.height();  // Uninitialized for an empty buffer
  if (spectrum.inverseComputed())
    throw Defs::InvalidBuffer("Cannot access frequency data once inverse has been computed.");
  if (step < 1 || step > 64 || !isPow2(step)) throw Defs::InvalidArgument("Step must be a power of 2 from 1 to 64.");
  const long ow = (spectrum.imageWidth() + step - 1) / step, oh = (spectrum.imageHeight() + step - 1) / step;
  if (ow <= 0 || oh <= 0) return;
  if (pitch < ow) throw Defs::InvalidSize("Output pitch is smaller than the output width.");
  poll();

  const double X = static_cast<double>(W), Y = static_cast<double>(H);
  const double f = frequency(k), th = angle(k).value();
  const vcPair<double> sg = sigma(k);
  const double c = std::cos(th), s = std::sin(th);
  const Envelope env = envelopeOf(sg, th);
  const Axis ax = axisOf(W, step, env.x, oversample_), ay = axisOf(H, step, env.y, oversample_);
  const long P = ax.samples, Q = ay.samples;

  // The patch in cells: centre (cxf, cyf) (signed; rows in row cells) and the
  // Gaussian exp(-e), e = A dx^2 + 2 B dx dy + C dy^2 for the offsets (dx, dy)
  // in cells from the centre.
  const double cxf = X * f * c, cyf = Y * f * s;
  const double iu = 1.0 / (2.0 * sg.x * sg.x), iv = 1.0 / (2.0 * sg.y * sg.y);
  const double A = (c * c * iu + s * s * iv) / (X * X), B = c * s * (iu - iv) / (X * Y),
               C = (s * s * iu + c * c * iv) / (Y * Y);
  // Cells with e above support^2 / 2 are left out: the ellipse of `support`
  // standard deviations, its rows |dy| <= sqrt(A e / (A C - B^2)).
  const double emax = 0.5 * support_ * support_;
  const double dyMax = std::sqrt(A * emax / (A * C - B * B));
  const long lox = -(W >> 1), hix = ((W + 1) >> 1) - 1, loy = -(H >> 1), hiy = ((H + 1) >> 1) - 1;
  const long v0 = std::max(loy, static_cast<long>(std::ceil(cyf - dyMax)));
  const long v1 = std::min(hiy, static_cast<long>(std::floor(cyf + dyMax)));
  // The centre cell goes to the small array's zero frequency: the response
  // is multiplied by a phase of magnitude 1. Cells fold modulo the small
  // array's size: its inverse then holds the full-size response's samples
  // every grid pixels exactly (e^(2 pi i u m / P) repeats with period P).
  const long cx = std::lround(cxf), cy = std::lround(cyf);

  // The small array: interleaved complex floats, P per row, Q rows, the
  // engine's layout. Bare storage, not zero-filled as a whole first: the fold
  // writes every cell of the rows it visits (a row's segment and zeros around
  // it, or the whole row from the sums), and the rows the window does not
  // reach are cleared first.
  const vf_texture::Kernels kern = vf_texture::bestKernels();
  std::unique_ptr<float[]> smallArray(new float[static_cast<std::size_t>(2 * P * Q)]);
  float* const sm = smallArray.get();
  {
    const float* in = vf_texture::SpectrumAccess::data(spectrum);
    const long visited = v0 <= v1 ? std::min(v1 - v0 + 1, Q) : 0, start = ((v0 - cy) % Q + Q) % Q;
    for (long i = visited; i < Q; ++i) std::fill_n(sm + 2 * P * ((start + i) % Q), 2 * P, 0.0f);
    std::vector<double> acc(static_cast<std::size_t>(2 * P));
    // Target row by target row: the source rows v = tr + cy (mod Q) of the
    // window add up in double, rounded once to the small array. Where the
    // window's rows and a row's cells fit the small array, every cell lands
    // alone and is written at once (the same value: 0 + x is x).
    const bool rowsAlone = v1 - v0 + 1 <= Q;
    // A row's segment that lands alone: source cells from su on (wrapping at
    // W), target cells from du on (wrapping at P), `count` of them, weights
    // g, g r, g r (r q), ... (the products rounded in this order).
    struct Segment {
      const float* row;
      float* target;
      long su, du, count;
      double g, r;
    };
    constexpr long kBatch = 4;
    Segment pending[kBatch];
    long batched = 0;
    std::vector<double> weights(static_cast<std::size_t>(kBatch * P));
    const double q = std::exp(-2.0 * A);
    const auto flush = [&] {
      double* wt[kBatch];
      for (long b = 0; b < kBatch; ++b) wt[b] = weights.data() + b * P;
      long common = batched == kBatch ? pending[0].count : 0;
      for (long b = 1; b < batched; ++b) common = std::min(common, pending[b].count);
      if (batched == kBatch) {
        double g0 = pending[0].g, g1 = pending[1].g, g2 = pending[2].g, g3 = pending[3].g;
        double r0 = pending[0].r, r1 = pending[1].r, r2 = pending[2].r, r3 = pending[3].r;
        for (long i = 0; i < common; ++i) {
          wt[0][i] = g0;
          wt[1][i] = g1;
          wt[2][i] = g2;
          wt[3][i] = g3;
          g0 *= r0;
          g1 *= r1;
          g2 *= r2;
          g3 *= r3;
          r0 *= q;
          r1 *= q;
          r2 *= q;
          r3 *= q;
        }
        pending[0].g = g0, pending[1].g = g1, pending[2].g = g2, pending[3].g = g3;
        pending[0].r = r0, pending[1].r = r1, pending[2].r = r2, pending[3].r = r3;
      }
      for (long b = 0; b < batched; ++b) {
        Segment& s = pending[b];
        double g = s.g, r = s.r;
        for (long i = common; i < s.count; ++i) {
          wt[b][i] = g;
          g *= r;
          r *= q;
        }
        // The cells in runs that wrap neither the source row nor the target.
        for (long i = 0; i < s.count;) {
          const long run = std::min({s.count - i, W - s.su, P - s.du});
          kern.scaleCells(s.row + 2 * s.su, wt[b] + i, run, s.target + 2 * s.du);
          i += run;
          s.su = s.su + run == W ? 0 : s.su + run;
          s.du = s.du + run == P ? 0 : s.du + run;
        }
      }
      batched = 0;
    };
    for (long first = v0; first <= std::min(v1, v0 + Q - 1); ++first) {
      float* srow = sm + 2 * P * (((first - cy) % Q + Q) % Q);
      bool any = false, cleared = false, alone = false;
      for (long v = first; v <= v1; v += Q) {
        const double dy = static_cast<double>(v) - cyf;
        const double disc = B * B * dy * dy - A * (C * dy * dy - emax);
        if (disc < 0.0) continue;
        const double root = std::sqrt(disc);
        const long ua = std::max(lox, static_cast<long>(std::ceil(cxf + (-B * dy - root) / A)));
        const long ub = std::min(hix, static_cast<long>(std::floor(cxf + (-B * dy + root) / A)));
        if (ub < ua) continue;
        const float* row = in + 2 * W * ((v % H + H) % H);
        // exp(-e) along the row by its ratios: g(u + 1) = g(u) r(u),
        // r(u + 1) = r(u) q (relative rounding below 1e-12 over 2048 cells).
        const double dx0 = static_cast<double>(ua) - cxf;
        double g = std::exp(-(A * dx0 * dx0 + 2.0 * B * dx0 * dy + C * dy * dy));
        double r = std::exp(-(A * (2.0 * dx0 + 1.0) + 2.0 * B * dy));
        long su = (ua % W + W) % W, du = ((ua - cx) % P + P) % P;
        if (rowsAlone && ub - ua + 1 <= P) {
          // The row's one segment: the cells around it are cleared.
          alone = true;
          {
            const long from = (du + ub - ua + 1) % P, count = P - (ub - ua + 1);  // cyclic, from `from`
            const long first = std::min(count, P - from);
            std::fill_n(srow + 2 * from, 2 * first, 0.0f);
            std::fill_n(srow, 2 * (count - first), 0.0f);
          }
          // Its cells wait in a batch of kBatch rows: the rows' Gaussians
          // are made together (each the same products in the same order as
          // alone, the batch hiding each chain's multiplication latency).
          pending[batched++] = {row, srow, su, du, ub - ua + 1, g, r};
          if (batched == kBatch) flush();
          continue;
        }
        if (!cleared) std::fill(acc.begin(), acc.end(), 0.0);
        cleared = any = true;
        for (long u = ua; u <= ub; ++u) {
          acc[static_cast<std::size_t>(2 * du)] += static_cast<double>(row[2 * su]) * g;
          acc[static_cast<std::size_t>(2 * du + 1)] += static_cast<double>(row[2 * su + 1]) * g;
          g *= r;
          r *= q;
          if (++su == W) su = 0;
          if (++du == P) du = 0;
        }
      }
      if (!any) {
        if (!alone) std::fill_n(srow, 2 * P, 0.0f);  // no cell of the window
        continue;
      }
      for (long i = 0; i < 2 * P; ++i) srow[i] = static_cast<float>(acc[static_cast<std::size_t>(i)]);
    }
    flush();
  }
  // When the window's rows fit the small array they are its only non-zero
  // rows: in the centered row frame (row Q/2 is the zero frequency) rows
  // v - cy + Q/2. The inverse skips the others, as it does after the
  // library's Gabor filter. The engine's in-place inverse, as the library's
  // in-place inverse of a buffer calls it (same bits, same polls).
  long bandMin = 0, bandMax = Q;
  if (const long lo = v0 - cy + Q / 2, hi = v1 - cy + Q / 2; v0 <= v1 && lo >= 0 && hi < Q) {
    bandMin = lo;
    bandMax = hi;
  }
  vf_ComplexFFT2D(sm, P, Q, -1, bandMin, bandMax);
  poll();

  // Outputs: the complex envelope interpolated down, then along the rows
  // (kTaps weights each), its magnitude taken last and scaled as the full-size
  // inverse (1 / (W H)). Down first: the pass down works on rows of the small
  // array (P samples, not W outputs), and each output row is then made from
  // one such row in cache. Rows of the small array are read into double,
  // planar (P + kTaps - 1 real parts, then as many imaginary parts), with
  // kBefore samples before and kTaps - 1 - kBefore after from the periodic
  // wrap. (Magnitudes of float sums cannot overflow in double.)
  const float* grid = sm;
  const double scale = 1.0 / (X * Y);
  const long padded = P + kTaps - 1;
  // Grid rows in kSlots slots (q & 15): the rows an output row reads are at
  // most kTaps + 3 consecutive rows modulo Q, a power of two, never sharing a
  // slot.
  constexpr long kSlots = 16;
  std::vector<double> slots(static_cast<std::size_t>(2 * kSlots * padded));
  long tags[kSlots];
  std::fill(tags, tags + kSlots, -1L);
  const auto gridRow = [&](long q) -> const double* {
    q = (q % Q + Q) % Q;
    double* re = slots.data() + (q & (kSlots - 1)) * 2 * padded;
    if (tags[q & (kSlots - 1)] == q) return re;
    tags[q & (kSlots - 1)] = q;
    double* im = re + padded;
    kern.widen(grid + 2 * q * P, P, re + kBefore, im + kBefore);
    for (long i = 0; i < kBefore; ++i) {  // the wrap: samples -kBefore .. -1
      const long from = ((i - kBefore) % P + P) % P + kBefore;
      re[i] = re[from];
      im[i] = im[from];
    }
    for (long i = P + kBefore; i < padded; ++i) {  // and P .. P + kTaps - 2 - kBefore
      const long from = (i - kBefore) % P + kBefore;
      re[i] = re[from];
      im[i] = im[from];
    }
    return re;
  };
  // The rows between grid rows n and n + 1 (fractions 1 .. Fy - 1), made
  // together from the same kTaps grid rows; for Fy = 2, those of four
  // intervals n = b .. b + 3 (b a multiple of 4) together from kTaps + 3 grid
  // rows, so that each grid row is read 11 / 4 times rather than 8.
  const long Fy = ay.factor;
  const long betweenCount = Fy == 2 ? 4 : std::max(Fy - 1, 1L);
  std::vector<double> between(static_cast<std::size_t>(betweenCount * 2 * padded));
  std::vector<double*> betweenRows(static_cast<std::size_t>(betweenCount));
  for (long r = 0; r < betweenCount; ++r) betweenRows[static_cast<std::size_t>(r)] = between.data() + r * 2 * padded;
  long betweenTag = -1;
  // One output row from a row of samples (real parts, then imaginary parts,
  // padded): read off or interpolated across.
  const auto across = [&](const double* re, float* o) {
    if (ax.factor == 1)
      kern.magnitude(re + kBefore, re + padded + kBefore, ow, scale, o);
    else
      kern.magnitudeAcross(ax.weights.data(), ax.factor, re, re + padded, ow, scale, o);
  };
  for (long j = 0; j < oh; ++j) {
    if ((j & 255) == 255) poll();
    float* o = out + j * pitch;
    const long y = j * step;
    const long n0 = y / ay.grid, rr = (y % ay.grid) / step;
    if (rr == 0) {
      if (ax.factor == 1 && ax.grid == step)  // a row of the small array as it is
        kern.magnitudeInterleaved(grid + 2 * P * (n0 % Q), ow, scale, o);
      else
        across(gridRow(n0), o);
      continue;
    }
    if (Fy == 2) {
      const long b = n0 & ~3L;
      if (betweenTag != b) {
        const double* rows[kTaps + 3];
        for (long t = 0; t < kTaps + 3; ++t) rows[t] = gridRow(b - kBefore + t);
        kern.interpolateDownFour(ay.weights.data(), rows, 2 * padded, betweenRows.data());
        betweenTag = b;
      }
      across(betweenRows[static_cast<std::size_t>(n0 - b)], o);
      continue;
    }
    if (betweenTag != n0) {
      const double* rows[kTaps];
      for (long t = 0; t < kTaps; ++t) rows[t] = gridRow(n0 - kBefore + t);
      kern.interpolateDown(ay.weights.data(), Fy, rows, 2 * padded, betweenRows.data());
      betweenTag = n0;
    }
    across(betweenRows[static_cast<std::size_t>(rr - 1)], o);
  }
}

namespace {

// Filter k of `bank` by the library's Gabor filter into `filtered` (reused
// from filter to filter: same size, same array) and its banded inverse in
// place; the magnitudes times 1 / (W H), as the library's double magnitude
// image has them, rounded to float.
void exactInto(const vcGaborBank& bank, const vcFrequencyBuffer& spectrum, long k, vcFrequencyBuffer& filtered,
               float* out, long pitch) {
  const long W = spectrum.width(), H = spectrum.height();
  const long w = spectrum.imageWidth(), h = spectrum.imageHeight();
  bank.filter(k, vcPair<long>(W, H)).apply(spectrum, filtered);
  vfInverseFFT(filtered, filtered, true);
  const vf_texture::Kernels kern = vf_texture::bestKernels();
  const float* z = vf_texture::SpectrumAccess::data(filtered);
  const double scale = 1.0 / (static_cast<double>(W) * static_cast<double>(H));
  for (long y = 0; y < h; ++y) {
    if ((y & 255) == 255) poll();
    kern.magnitudeInterleaved(z + 2 * y * W, w, scale, out + y * pitch);
  }
}

}  // namespace

void vcGaborBank::energyExact(const vcFrequencyBuffer& spectrum, long k, float* out, long pitch) const {
  requireFilter(k);
  if (spectrum.inverseComputed())
    throw Defs::InvalidBuffer("Cannot access frequency data once inverse has been computed.");
  const long w = spectrum.imageWidth(), h = spectrum.imageHeight();
  (void)spectrum.width();  // Uninitialized for an empty buffer
  if (w <= 0 || h <= 0) return;
  if (pitch < w) throw Defs::InvalidSize("Output pitch is smaller than the output width.");
  vcFrequencyBuffer filtered;
  exactInto(*this, spectrum, k, filtered, out, pitch);
}

template <class T>
vcTextureStack vcGaborBank::energy(const vcPelBuffer_const<T>& image, long step) const {
  requireBuilt();
  if (step < 1 || step > 64 || !isPow2(step)) throw Defs::InvalidArgument("Step must be a power of 2 from 1 to 64.");
  const vcFrequencyBuffer transformed = spectrum(image);
  vcTextureStack stack;
  stack.filters = filters();
  stack.width = (image.width() + step - 1) / step;
  stack.height = (image.height() + step - 1) / step;
  // Uninitialised: every plane's every value is written below.
  stack.values.resize(static_cast<std::size_t>(stack.filters * stack.width * stack.height));
  for (long k = 0; k < stack.filters; ++k) energy(transformed, k, step, stack.plane(k), stack.width);
  return stack;
}

template <class T>
vcTextureStack vcGaborBank::energyExact(const vcPelBuffer_const<T>& image) const {
  requireBuilt();
  const vcFrequencyBuffer transformed = spectrum(image);
  vcTextureStack stack;
  stack.filters = filters();
  stack.width = image.width();
  stack.height = image.height();
  stack.values.resize(static_cast<std::size_t>(stack.filters * stack.width * stack.height));
  vcFrequencyBuffer filtered;  // one filtered array for all filters
  for (long k = 0; k < stack.filters; ++k) {
    poll();
    exactInto(*this, transformed, k, filtered, stack.plane(k), stack.width);
  }
  return stack;
}

#define VEXFILT_TEXTURE_BANK_INSTANCES(T)                                                              \
  template VEXFILT_API vcFrequencyBuffer vcGaborBank::spectrum<T>(const vcPelBuffer_const<T>&) const;  \
  template VEXFILT_API vcTextureStack vcGaborBank::energy<T>(const vcPelBuffer_const<T>&, long) const; \
  template VEXFILT_API vcTextureStack vcGaborBank::energyExact<T>(const vcPelBuffer_const<T>&) const;
VEXFILT_TEXTURE_BANK_INSTANCES(unsigned char)
VEXFILT_TEXTURE_BANK_INSTANCES(unsigned short)
VEXFILT_TEXTURE_BANK_INSTANCES(double)
#undef VEXFILT_TEXTURE_BANK_INSTANCES

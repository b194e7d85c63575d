// The Gabor bank: parameters, the spectrum it filters, and the energy of each
// filter, by small arrays around the patch (energy) or by the library's filter
// and banded inverse (energyExact).

#include <algorithm>
#include <cmath>
#include <numbers>

#include "filt/vision/texture.h"
#include "vexsys/attention.h"
#include "vision/texture_support.h"

namespace {

using Defs = vcFrequencyDefs;

void poll() {
  vfThrowExceptionOnFailure(vsys_attention_check());
}

long pow2Ceil(long n) {
  long p = 1;
  while (p < n) p <<= 1;
  return p;
}

bool isPow2(long n) {
  return n > 0 && (n & (n - 1)) == 0;
}

// Catmull-Rom weights of the four samples around fraction t in [0, 1).
void cubicWeights(double t, double w[4]) {
  const double t2 = t * t, t3 = t2 * t;
  w[0] = 0.5 * (-t3 + 2.0 * t2 - t);
  w[1] = 0.5 * (3.0 * t3 - 5.0 * t2 + 2.0);
  w[2] = 0.5 * (-3.0 * t3 + 4.0 * t2 + t);
  w[3] = 0.5 * (t3 - t2);
}

// How output index i along one axis reads a periodic grid of n samples
// spaced `grid` pixels: four taps (index, weight). When the output step is a
// multiple of the grid the read is exact (one tap of weight 1).
struct Taps {
  std::vector<long> index;  // 4 per output
  std::vector<double> weight;
};

Taps axisTaps(long outputs, long step, long grid, long n) {
  Taps taps;
  taps.index.resize(static_cast<std::size_t>(4 * outputs));
  taps.weight.resize(static_cast<std::size_t>(4 * outputs));
  for (long i = 0; i < outputs; ++i) {
    const std::size_t o = static_cast<std::size_t>(4 * i);
    long base;
    double w[4] = {0.0, 1.0, 0.0, 0.0};
    if (step % grid == 0) {
      base = i * (step / grid);
    } else {
      const long pos = i * step;  // pixels; grid is a multiple of step here
      base = pos / grid;
      cubicWeights(static_cast<double>(pos % grid) / static_cast<double>(grid), w);
    }
    for (long t = 0; t < 4; ++t) {
      taps.index[o + static_cast<std::size_t>(t)] = ((base + t - 1) % n + n) % n;
      taps.weight[o + static_cast<std::size_t>(t)] = w[t];
    }
  }
  return taps;
}

// The grid spacing (pixels) of one axis: `size` cells, `span` of them in the
// window, output every `step` pixels.
long gridSpacing(long size, long span, long step, long oversample) {
  const long coarsest = size / pow2Ceil(std::max(span, 1L));  // small array just holds the window
  const long fine = std::max(1L, coarsest / oversample);
  if (step >= coarsest) return coarsest;
  if (step >= fine) return step;
  return fine;
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
    if (!(sigmas[m].x > 0.0 && sigmas[m].x <= 0.5 && sigmas[m].y > 0.0 && sigmas[m].y <= 0.5))
      throw Defs::InvalidArgument("Bank sigmas must be above 0.0 and at most 0.5.");
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
  // Patch centre (signed cells, rows in row units) and the window's half
  // extents: the box around the ellipse of `support` standard deviations.
  const double cxf = X * f * c, cyf = Y * f * s;
  const double sx = X * sg.x, sy = X * sg.y;  // column units
  const double a = support_ * sx, b = support_ * sy;
  const double hx = std::sqrt(a * a * c * c + b * b * s * s);
  const double hy = std::sqrt(a * a * s * s + b * b * c * c) * Y / X;
  const long lox = -(W >> 1), hix = ((W + 1) >> 1) - 1, loy = -(H >> 1), hiy = ((H + 1) >> 1) - 1;
  const long u0 = std::max(lox, static_cast<long>(std::ceil(cxf - hx)));
  const long u1 = std::min(hix, static_cast<long>(std::floor(cxf + hx)));
  const long v0 = std::max(loy, static_cast<long>(std::ceil(cyf - hy)));
  const long v1 = std::min(hiy, static_cast<long>(std::floor(cyf + hy)));
  if (u1 < u0 || v1 < v0) {
    for (long j = 0; j < oh; ++j) std::fill(out + j * pitch, out + j * pitch + ow, 0.0f);
    return;
  }
  const long gx = gridSpacing(W, u1 - u0 + 1, step, oversample_);
  const long gy = gridSpacing(H, v1 - v0 + 1, step, oversample_);
  const long P = W / gx, Q = H / gy;
  // The centre cell goes to the small array's zero frequency.
  const long cx = std::lround(cxf), cy = std::lround(cyf);

  vcFrequencyBuffer small(P, Q);
  {
    const float* in = vf_texture::SpectrumAccess::data(spectrum);
    float* sm = vf_texture::SpectrumAccess::data(small);
    for (long v = v0; v <= v1; ++v) {
      const float* row = in + 2 * W * ((v % H + H) % H);
      float* srow = sm + 2 * P * (((v - cy) % Q + Q) % Q);
      const double dy = (static_cast<double>(v) - cyf) * X / Y;
      for (long u = u0; u <= u1; ++u) {
        const double dx = static_cast<double>(u) - cxf;
        const double rx = dx * c + dy * s, ry = -dx * s + dy * c;
        const double g = std::exp(-(rx * rx) / (2.0 * sx * sx) - (ry * ry) / (2.0 * sy * sy));
        const long su = (u % W + W) % W, du = ((u - cx) % P + P) % P;
        srow[2 * du] = static_cast<float>(static_cast<double>(row[2 * su]) * g);
        srow[2 * du + 1] = static_cast<float>(static_cast<double>(row[2 * su + 1]) * g);
      }
    }
  }
  // Only the window's rows hold data: in the centered row frame (row Q/2 is
  // the zero frequency) they are rows v - cy + Q/2. The inverse skips the
  // others, as it does for the library's Gabor filter.
  if (const long lo = v0 - cy + Q / 2, hi = v1 - cy + Q / 2; lo >= 0 && hi < Q)
    vf_texture::SpectrumAccess::band(small, lo, hi);
  vfInverseFFT(small, small, true);

  // The envelope is interpolated as a complex signal (band-limited, smooth)
  // and its magnitude taken last, scaled as the full-size inverse (1 / (W H)).
  // (Magnitudes of float sums cannot overflow in double: no hypot needed.)
  const float* grid = vf_texture::SpectrumAccess::data(small);
  const double scale = 1.0 / (X * Y);
  const Taps tx = axisTaps(ow, step, gx, P), ty = axisTaps(oh, step, gy, Q);
  // Along the rows, then down. The x-interpolated grid rows are made as the
  // output rows first need them and kept in four slots (q & 3): the four
  // taps of an output row are consecutive rows modulo Q, and Q is 1, 2 or a
  // multiple of 4, so they never share a slot.
  std::vector<double> slots(static_cast<std::size_t>(4 * 2 * ow));
  long tags[4] = {-1, -1, -1, -1};
  const auto gridRow = [&](long q) -> const double* {
    double* r = slots.data() + (q & 3) * 2 * ow;
    if (tags[q & 3] == q) return r;
    tags[q & 3] = q;
    const float* g = grid + 2 * q * P;
    if (step % gx == 0) {  // read off every (step / gx)-th sample
      for (long i = 0; i < ow; ++i) {
        const long at = 2 * tx.index[static_cast<std::size_t>(4 * i + 1)];
        r[2 * i] = static_cast<double>(g[at]);
        r[2 * i + 1] = static_cast<double>(g[at + 1]);
      }
      return r;
    }
    for (long i = 0; i < ow; ++i) {
      const long* idx = tx.index.data() + 4 * i;
      const double* w = tx.weight.data() + 4 * i;
      double re = 0.0, im = 0.0;
      for (long t = 0; t < 4; ++t) {
        re += w[t] * static_cast<double>(g[2 * idx[t]]);
        im += w[t] * static_cast<double>(g[2 * idx[t] + 1]);
      }
      r[2 * i] = re;
      r[2 * i + 1] = im;
    }
    return r;
  };
  for (long j = 0; j < oh; ++j) {
    if ((j & 255) == 255) poll();
    const long* idx = ty.index.data() + 4 * j;
    const double* w = ty.weight.data() + 4 * j;
    float* o = out + j * pitch;
    if (w[1] == 1.0 && w[0] == 0.0 && w[2] == 0.0 && w[3] == 0.0) {
      const double* r = gridRow(idx[1]);
      for (long i = 0; i < ow; ++i)
        o[i] = static_cast<float>(std::sqrt(r[2 * i] * r[2 * i] + r[2 * i + 1] * r[2 * i + 1]) * scale);
      continue;
    }
    const double *r0 = gridRow(idx[0]), *r1 = gridRow(idx[1]), *r2 = gridRow(idx[2]), *r3 = gridRow(idx[3]);
    for (long i = 0; i < 2 * ow; i += 2) {
      const double re = w[0] * r0[i] + w[1] * r1[i] + w[2] * r2[i] + w[3] * r3[i];
      const double im = w[0] * r0[i + 1] + w[1] * r1[i + 1] + w[2] * r2[i + 1] + w[3] * r3[i + 1];
      o[i / 2] = static_cast<float>(std::sqrt(re * re + im * im) * scale);
    }
  }
}

void vcGaborBank::energyExact(const vcFrequencyBuffer& spectrum, long k, float* out, long pitch) const {
  requireFilter(k);
  const long W = spectrum.width(), H = spectrum.height();
  const long w = spectrum.imageWidth(), h = spectrum.imageHeight();
  if (w <= 0 || h <= 0) return;
  if (pitch < w) throw Defs::InvalidSize("Output pitch is smaller than the output width.");
  const vcFrequencyFilterGabor gabor = filter(k, vcPair<long>(W, H));
  vcFrequencyBuffer filtered;
  gabor.apply(spectrum, filtered);
  vcPelBuffer<double> magnitude;
  vfInverseFFT<double>(static_cast<const vcFrequencyBuffer&>(filtered), magnitude, false);
  for (long y = 0; y < h; ++y) {
    const double* m = magnitude.pointToOffset() + y * magnitude.rep().rowStride();
    std::transform(m, m + w, out + y * pitch, [](double v) { return static_cast<float>(v); });
  }
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
  stack.values.assign(static_cast<std::size_t>(stack.filters * stack.width * stack.height), 0.0f);
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
  stack.values.assign(static_cast<std::size_t>(stack.filters * stack.width * stack.height), 0.0f);
  for (long k = 0; k < stack.filters; ++k) {
    poll();
    energyExact(transformed, k, stack.plane(k), stack.width);
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

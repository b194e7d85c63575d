// Frame plans: the impulse response measured at each tile size, the margin,
// the tile size chosen for speed, and the jobs.

#include "filt/vision/frames.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "vision/frame_support.h"

void vf_frames::impulseSpectrum(long w, long h, vcFrequencyBuffer& spectrum) {
  vcPelBuffer<unsigned char> delta(w, h);
  delta.set(0, 0, 1);
  vfForwardFFT<unsigned char>(delta, spectrum);
}

namespace {

// The impulse response of a filter at size T, summarised by Chebyshev
// radius d = max(|dx|, |dy|) from the origin, offsets taken in [-T/2, T/2).
struct Response {
  long size = 0;
  double energy = 0.0;                 // sum of |h|^2
  double l1 = 0.0;                     // sum of |h|
  std::vector<double> energyAt, l1At;  // per radius 0..T/2
  // Energy and L1 outside radius r.
  double tailEnergy(long r) const {
    double s = 0.0;
    for (std::size_t d = static_cast<std::size_t>(r) + 1; d < energyAt.size(); ++d) s += energyAt[d];
    return s;
  }
  double tailL1(long r) const {
    double s = 0.0;
    for (std::size_t d = static_cast<std::size_t>(r) + 1; d < l1At.size(); ++d) s += l1At[d];
    return s;
  }
  // The largest margin that leaves a core of at least one pixel.
  long maxMargin() const { return (size - 1) / 2; }
  // The smallest radius leaving at most tolerance * energy outside it.
  long marginFor(double tolerance) const {
    double tail = 0.0;
    long r = static_cast<long>(energyAt.size()) - 1;
    while (r > 0 && tail + energyAt[static_cast<std::size_t>(r)] <= tolerance * energy)
      tail += energyAt[static_cast<std::size_t>(r--)];
    return r;
  }
};

Response measure(const vcFrequencyFilter& filter, long size) {
  vcFrequencyBuffer spectrum;
  vf_frames::impulseSpectrum(size, size, spectrum);
  filter.apply(spectrum);
  vfInverseFFT(spectrum, spectrum, true);
  const float* data = vf_frames::bufferData(spectrum);
  const double k = 1.0 / (static_cast<double>(size) * static_cast<double>(size));
  Response r;
  r.size = size;
  r.energyAt.assign(static_cast<std::size_t>(size / 2 + 1), 0.0);
  r.l1At.assign(r.energyAt.size(), 0.0);
  for (long y = 0; y < size; ++y) {
    const long dy = y < (size + 1) / 2 ? y : size - y;  // |offset| with offsets in [-T/2, T/2)
    for (long x = 0; x < size; ++x) {
      const long dx = x < (size + 1) / 2 ? x : size - x;
      const float* e = data + 2 * (y * size + x);
      const double re = static_cast<double>(e[0]) * k, im = static_cast<double>(e[1]) * k;
      const double sq = re * re + im * im, a = std::sqrt(sq);
      const std::size_t d = static_cast<std::size_t>(dx > dy ? dx : dy);
      r.energyAt[d] += sq;
      r.l1At[d] += a;
      r.energy += sq;
      r.l1 += a;
    }
  }
  return r;
}

// Relative cost of one tile of side T: the two transforms (T^2 log2 T^2
// butterflies), the per-element passes (filling, filter, output) and a fixed
// cost per tile. Measured on 4096 x 3000 frames (bench/frames.cpp), the
// passes weigh about as much as four butterfly stages, and a tile whose
// spectrum no longer fits a core's second-level cache (above 256 a side, 512
// KiB) costs some 30 % more per element.
double tileCost(long T) {
  const double n = static_cast<double>(T) * static_cast<double>(T);
  const double perElement = (2.0 * std::log2(static_cast<double>(T)) + 4.0) * (T > 256 ? 1.3 : 1.0);
  return n * perElement + 4096.0;
}

long ceilDiv(long a, long b) {
  return (a + b - 1) / b;
}

std::string tooLong(long tile, double tolerance, double reach) {
  char text[256];
  std::snprintf(text, sizeof text,
                "The filter's impulse response is too long for a %ld x %ld tile at tolerance %.3g: that tile "
                "reaches %.3g at best (a wider filter in frequency, or a larger tolerance, is needed).",
                tile, tile, tolerance, reach);
  return text;
}

// A realisation that the tile cannot hold (a kernel larger than the tile, a
// DC square outside the spectrum) gives no filter at that size.
std::unique_ptr<vcFrequencyFilter> realiseOrNull(const vcFrameFilter& filter, long size, Response& response) {
  if (filter.kind() == vcFrameFilter::eKernel && (filter.kernelWidth() > size || filter.kernelHeight() > size))
    return nullptr;
  std::unique_ptr<vcFrequencyFilter> f = filter.realise(size);
  try {
    response = measure(*f, size);
  } catch (const vcFrequencyDefs::BadCoord&) {
    return nullptr;
  }
  return f;
}

}  // namespace

vcFramePlan::vcFramePlan(long width, long height, const vcFrameFilter& filter, vcEdgeMode edge, double tolerance,
                         long tileSize)
    : width_(width), height_(height), edge_(edge), tolerance_(tolerance) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
    throw vcFrequencyDefs::InvalidSize("Frame width and height must be from 1 to 65536.");
  if (!(tolerance > 0.0 && tolerance < 1.0))
    throw vcFrequencyDefs::InvalidArgument("Tolerance must be between 0 and 1.");
  if (tileSize < 0 || tileSize > kMaxTile || (tileSize & (tileSize - 1)) != 0)
    throw vcFrequencyDefs::InvalidSize("Tile size must be 0 or a power of 2 up to 2048.");
  (void)vfEdgeIndex(0, 1, edge);

  // The filter's own extent. A tile resolves the filter only when it holds
  // that extent: a tiny tile samples the frequency response too coarsely to
  // mean anything, yet its own response is always short. The extent is
  // measured at growing sizes (from 256) until two sizes agree on it and it
  // takes at most an eighth of the size, or else at the finest sampling, one
  // whole buffer. Each candidate tile is then measured at its own size,
  // which is what it applies.
  Response reference, response;
  std::unique_ptr<vcFrequencyFilter> referenceFilter;
  long extent = -1, previous = -1;
  for (long S = 256; S <= kMaxTile && extent < 0; S *= 2) {
    std::unique_ptr<vcFrequencyFilter> f = realiseOrNull(filter, S, response);
    if (!f) continue;
    const long m = response.marginFor(tolerance);
    if (previous >= 0 && m <= S / 8 && std::abs(m - previous) <= std::max(1L, m / 8)) extent = std::max(m, previous);
    previous = m;
    reference = response;
    referenceFilter = std::move(f);
  }
  if (!referenceFilter) {
    if (filter.kind() == vcFrameFilter::eKernel) throw vcFrequencyDefs::InvalidSize("Kernel does not fit the tile.");
    throw std::invalid_argument("vcFramePlan: the filter's DC radius reaches outside a 2048 x 2048 spectrum");
  }
  const auto refuse = [&](long T, const Response* own) {
    double reach = reference.energy > 0.0 ? reference.tailEnergy((T - 1) / 2) / reference.energy : 0.0;
    if (own && own->energy > 0.0) reach = std::max(reach, own->tailEnergy(own->maxMargin()) / own->energy);
    throw std::invalid_argument(tooLong(T, tolerance, reach));
  };
  if (extent < 0) {  // measured at one buffer
    extent = reference.marginFor(tolerance);
    if (extent > reference.maxMargin()) refuse(kMaxTile, nullptr);
  }

  const long first = tileSize == 0 ? 1 : tileSize, last = tileSize == 0 ? kMaxTile : tileSize;
  if (tileSize != 0 && tileSize - 2 * extent < 1) refuse(tileSize, nullptr);
  // Candidates by the modelled cost with the reference extent, cheapest first.
  std::vector<std::pair<double, long>> candidates;
  for (long T = first; T <= last; T *= 2) {
    const long c = T - 2 * extent;
    if (c < 1) continue;
    candidates.emplace_back(
        static_cast<double>(ceilDiv(width, c)) * static_cast<double>(ceilDiv(height, c)) * tileCost(T), T);
  }
  std::sort(candidates.begin(), candidates.end());
  Response best;
  for (const auto& [cost, T] : candidates) {
    std::unique_ptr<vcFrequencyFilter> f;
    if (T == reference.size && referenceFilter) {
      f = std::move(referenceFilter);
      response = reference;
    } else {
      f = realiseOrNull(filter, T, response);
    }
    if (!f) continue;
    const long m = std::max(extent, response.marginFor(tolerance));
    if (m > response.maxMargin()) {
      if (tileSize != 0) refuse(T, &response);
      continue;
    }
    filter_ = std::move(f);
    best = response;
    tile_ = T;
    margin_ = m;
    break;
  }
  if (!filter_) refuse(last, nullptr);
  energy_ = best.energy;
  tailEnergy_ = best.tailEnergy(margin_);
  tailL1_ = best.tailL1(margin_);
  responseL1_ = best.l1;

  // Cores tile the frame row by row; each tile reads margin_ more on every side.
  const long c = core();
  const long nx = ceilDiv(width, c), ny = ceilDiv(height, c);
  jobs_.reserve(static_cast<std::size_t>(nx * ny));
  for (long j = 0; j < ny; ++j)
    for (long i = 0; i < nx; ++i) {
      vcFrameJob job;
      job.index = static_cast<long>(jobs_.size());
      job.output = {i * c, j * c, std::min(c, width - i * c), std::min(c, height - j * c)};
      job.input = {i * c - margin_, j * c - margin_, tile_, tile_};
      jobs_.push_back(job);
    }
}

vcFramePlan::~vcFramePlan() = default;
vcFramePlan::vcFramePlan(vcFramePlan&&) noexcept = default;
vcFramePlan& vcFramePlan::operator=(vcFramePlan&&) noexcept = default;

double vcFramePlan::errorBound() const {
  return energy_ > 0.0 ? tailEnergy_ / energy_ : 0.0;
}

double vcFramePlan::pixelErrorBound(double low, double high) const {
  const double amplitude = std::max(std::fabs(low), std::fabs(high));
  const double rounding = std::ldexp(8.0 * (std::log2(static_cast<double>(tile_)) + 1.0), -24) * responseL1_;
  return tailL1_ * std::fabs(high - low) + rounding * amplitude;
}

void vcFramePlan::impulseResponse(vcPelBuffer<double>& real, vcPelBuffer<double>& imaginary) const {
  const long T = tile_;
  vcFrequencyBuffer spectrum;
  vf_frames::impulseSpectrum(T, T, spectrum);
  filter_->apply(spectrum);
  vfInverseFFT(spectrum, spectrum, true);
  const float* data = vf_frames::bufferData(spectrum);
  const double k = 1.0 / (static_cast<double>(T) * static_cast<double>(T));
  vcPelBuffer<double> re(T, T), im(T, T);
  for (long y = 0; y < T; ++y)
    for (long x = 0; x < T; ++x) {
      const float* e = data + 2 * (y * T + x);
      re.set((x + T / 2) % T, (y + T / 2) % T, static_cast<double>(e[0]) * k);
      im.set((x + T / 2) % T, (y + T / 2) % T, static_cast<double>(e[1]) * k);
    }
  real = re;
  imaginary = im;
}

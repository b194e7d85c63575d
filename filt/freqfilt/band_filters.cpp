// Band-pass and band-reject rings: a radial profile around the ring of radius
// `frequency`, sampled 32 times per pixel, looked up per element. What the
// two share with the Gabor filters (the sense, the outside fill, the DC
// square, building, copying and records) is in coefficient_filter.h; this
// file gives the ring's validation, supports, response and scan geometry.

#include <algorithm>
#include <cmath>
#include <vector>

#include "freqfilt/coefficient_filter.h"
#include "loops/ring_kernels.h"

namespace {

using Access = vc_FrequencyBufferAccess;
using vf_filter::truncToLong;

constexpr long kSamplesPerPixel = 32;

// The parameters of both ring classes (each class's own Params has these
// members; the DC radius removes or protects by the class's sense).
template <class Params>
void validateRing(const Params& p, const char* dcMessage) {
  if (p.frequency < 0.0 || p.frequency > 0.5) throw vcFrequencyDefs::InvalidArgument(vf_msg::kFrequencyRange);
  if (p.sigma <= 0.0) throw vcFrequencyDefs::InvalidArgument(vf_msg::kSigmaPositive);
  if (p.plateau < 0.0) throw vcFrequencyDefs::InvalidArgument(vf_msg::kPlateauNegative);
  if (p.dcRadius < 0) throw vcFrequencyDefs::InvalidArgument(dcMessage);
  vf_filter::requireSize(p.size);
}

// L = trunc(X plateau + 4 X sigma + 0.05 X), odd; 32 samples per pixel.
void ringSupports(double sigma, double plateau, const vcPair<long>& size, long& sw, long& sh) {
  const double X = static_cast<double>(size.x);
  sw = vf_filter::oddSupport(X * plateau + 4.0 * (X * sigma) + 0.05 * X);
  sh = kSamplesPerPixel;
}

// The pass response j/32 pixels from the ring: 1 over the plateau, then a
// Gaussian shoulder.
double ringResponse(long j, double S, double P) {
  const double m = std::max(0.0, static_cast<double>(j) / kSamplesPerPixel - P);
  return std::exp(-(m * m) / (2.0 * S * S));
}

void ringFill(vc_FilterSense sense, double sigma, double plateau, const vcPair<long>& size, long sw, long sh,
              float* profile) {
  const double X = static_cast<double>(size.x);
  const double S = X * sigma, P = X * plateau;
  for (long j = 0; j < sw * sh; ++j) profile[j] = vf_filter::coefficient(sense, ringResponse(j, S, P));
}

// floor(sqrt(v)) of a non-negative integer, exactly. The square root of the
// rounded double may be one off either way; the corrections compare through
// divisions, since m * m overflows for v near the top of the range (a loaded
// filter's ring can reach that far).
long floorSqrt(long v) {
  long m = static_cast<long>(std::sqrt(static_cast<double>(v)));
  while (m > 0 && m > v / m) --m;
  while (m + 1 <= v / (m + 1)) ++m;
  return m;
}

// The ring in the units of a W x H spectrum: squared distances from the zero
// frequency (rows rescaled to column units) strictly between `inner` and
// `outer` are in it; no element of a row farther than `reach` rows from the
// zero frequency is.
struct RingGeometry {
  long W, H;
  double fW;  // the ring's radius in columns
  double q;   // (W/H)^2: a row distance squared in column units
  long inner, outer, reach;

  RingGeometry(const vcFrequencyBuffer& b, double frequency, long L) : W(b.width()), H(b.height()) {
    fW = static_cast<double>(W) * frequency;
    const double hOverW = static_cast<double>(H) / static_cast<double>(W);
    q = 1.0 / (hOverW * hOverW);
    outer = truncToLong((fW + L) * (fW + L));
    inner = fW - L >= 0.0 ? truncToLong((fW - L) * (fW - L)) : -1;
    reach = truncToLong(hOverW * (fW + L));
  }
};

// The runs of one stored row: [0, W) is split into runs outside the ring and
// runs whose elements are tested one by one, either side of the stored
// column W/2 where the distance dx = x - W begins.
struct RowRuns {
  struct Run {
    long xa, xb, dxOffset;
    bool tested;
  };
  Run runs[7];
  int count = 0;

  void add(long xa, long xb, long dxOffset, bool tested) {
    if (xa < xb) runs[count++] = {xa, xb, dxOffset, tested};
  }
  // Tested elements [xa, xb), split at W/2.
  void addTested(long xa, long xb, long W) {
    const long split = std::clamp(W >> 1, xa, xb);
    add(xa, split, 0, true);
    add(split, xb, -W, true);
  }
};

// Plans the runs of a row whose squared row distance (column units) is yy.
// Only |dx| in [lo, hi] can have inner < dx*dx + yy < outer: the runs left
// and right of the zero column that hold them are tested, the rest of the
// row is outside. The two-buffer reject rule tests every element.
RowRuns planRow(const RingGeometry& g, long yy, bool everyElement) {
  RowRuns r;
  const long W = g.W, hW = W >> 1;
  if (everyElement) {
    r.addTested(0, W, W);
    return r;
  }
  long lo = 0, hi = -1;
  if (yy < g.outer) {
    hi = floorSqrt(g.outer - yy - 1);
    lo = g.inner < yy ? 0 : floorSqrt(g.inner - yy) + 1;
  }
  const long pa = std::clamp(lo, 0L, hW), pb = std::clamp(hi + 1, pa, hW);
  const long na = std::clamp(W - hi, hW, W), nb = std::clamp(W - lo + 1, na, W);
  r.add(0, pa, 0, false);
  r.addTested(pa, pb, W);
  r.add(pb, na, 0, false);
  r.addTested(na, nb, W);
  r.add(nb, W, 0, false);
  return r;
}

// The ring pass. `source` and `target` may be the same buffer (in place, or
// a two-buffer call given one buffer twice): every element is read before it
// is written. `twoBuffer` selects the two-buffer rule of the reject filter.
void ringPass(vc_FilterSense sense, bool twoBuffer, double frequency, const vc_Coefficients& c,
              const vcFrequencyBuffer& source, vcFrequencyBuffer& target) {
  const RingGeometry g(source, frequency, c.supportWidth);
  const bool everyElement = sense == vc_FilterSense::reject && twoBuffer;
  const std::uint64_t N = static_cast<std::uint64_t>(c.supportWidth * c.supportHeight);
  const double S = static_cast<double>(c.supportHeight);
  const float* in = Access::data(source);
  float* out = Access::data(target);
  const vc_RingRun run = vf_RingRun(vf_BestEngineLevel());
  for (long y = 0; y < g.H; ++y) {
    const long dy = y < (g.H >> 1) ? y : y - g.H;
    const float* s = in + 2 * g.W * y;
    float* d = out + 2 * g.W * y;
    if (dy > g.reach || -dy > g.reach) {
      vf_filter::outsideSupport(sense, s, d, 0, g.W);
      continue;
    }
    const long yy = truncToLong(static_cast<double>(dy * dy) * g.q);
    const vc_RingRow row{s, d, c.data, N, yy, g.inner, g.outer, g.fW, S, sense == vc_FilterSense::reject, everyElement};
    const RowRuns plan = planRow(g, yy, everyElement);
    for (int i = 0; i < plan.count; ++i) {
      const RowRuns::Run& r = plan.runs[i];
      if (r.tested)
        run(row, r.xa, r.xb, r.dxOffset);
      else
        vf_filter::outsideSupport(sense, s, d, r.xa, r.xb);
    }
  }
}

// What the ring classes give the shared pattern; only the sense and the DC
// message differ between them.
template <class Params, vc_FilterSense sense>
struct RingTraits {
  static constexpr vc_FilterSense kSense = sense;
  static void validate(const Params& p) {
    validateRing(p, sense == vc_FilterSense::pass ? vf_msg::kDcRemovalNegative : vf_msg::kDcProtectionNegative);
  }
  static void supports(const Params& p, long& sw, long& sh) { ringSupports(p.sigma, p.plateau, p.size, sw, sh); }
  static void fill(const Params& p, long sw, long sh, float* c) {
    ringFill(sense, p.sigma, p.plateau, p.size, sw, sh, c);
  }
  static bool sameParams(const Params& a, const Params& b) {
    return a.frequency == b.frequency && a.sigma == b.sigma && a.plateau == b.plateau && a.size == b.size &&
           a.dcRadius == b.dcRadius;
  }
  static void serializeParams(vcArchive& ar, Params& p) {
    ar || p.frequency || p.sigma || p.plateau;
    vf_filter::serializePair(ar, p.size);
    ar || p.dcRadius;
  }
  static bool supportsCanBeRight(long sw, long sh) { return sw >= 1 && sh >= 1; }
  // The band-reject filter resizes a two-buffer target before it reads its
  // DC square, so a square leaving the buffer fails after the resize.
  static void apply(const Params& p, const vc_Coefficients& c, const vcFrequencyBuffer& source,
                    vcFrequencyBuffer& target, bool twoBuffer) {
    if (twoBuffer) Access::setAndAllocate(target, source.width(), source.height());
    const vf_filter::DcSquare dc(sense, p.dcRadius, source);
    Access::setBand(target, 0, 0, 0);
    ringPass(sense, twoBuffer, p.frequency, c, source, target);
    dc.finish(target);
  }
};

}  // namespace

struct vcFrequencyFilterBandPass::Traits : RingTraits<vcFrequencyFilterBandPass::Params, vc_FilterSense::pass> {};
struct vcFrequencyFilterBandReject::Traits : RingTraits<vcFrequencyFilterBandReject::Params, vc_FilterSense::reject> {};
// ---- vcFrequencyFilterBandPass: the ring's response; outside zeroed, DC
// square removed

vcFrequencyFilterBandPass::vcFrequencyFilterBandPass() = default;

vcFrequencyFilterBandPass::vcFrequencyFilterBandPass(double sigma, double plateau, double frequency,
                                                     const vcPair<long>& size, long dcRadius) {
  create(sigma, plateau, frequency, size, dcRadius);
}

vcFrequencyFilterBandPass::vcFrequencyFilterBandPass(const vcFrequencyFilterBandPass& other)
    : vcPersistent(), vcRepBase(), vcFrequencyFilter() {
  *this = other;
}

vcFrequencyFilterBandPass& vcFrequencyFilterBandPass::operator=(const vcFrequencyFilterBandPass& other) {
  vc_CoefficientFilter<vcFrequencyFilterBandPass>::assign(*this, other);
  return *this;
}

vcFrequencyFilterBandPass::~vcFrequencyFilterBandPass() = default;

bool vcFrequencyFilterBandPass::operator==(const vcFrequencyFilterBandPass& other) const {
  return vc_CoefficientFilter<vcFrequencyFilterBandPass>::equal(*this, other);
}

void vcFrequencyFilterBandPass::set(double sigma, double plateau, double frequency, const vcPair<long>& size,
                                    long dcRadius) {
  create(sigma, plateau, frequency, size, dcRadius);
}

void vcFrequencyFilterBandPass::create(double sigma, double plateau, double frequency, const vcPair<long>& size,
                                       long dcRadius) {
  vc_CoefficientFilter<vcFrequencyFilterBandPass>::create(*this, Params{frequency, sigma, plateau, size, dcRadius});
}

double vcFrequencyFilterBandPass::frequency() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandPass>::get(*this, &Params::frequency);
}

void vcFrequencyFilterBandPass::frequency(double value) {
  vc_CoefficientFilter<vcFrequencyFilterBandPass>::set(*this, &Params::frequency, value);
}

double vcFrequencyFilterBandPass::sigma() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandPass>::get(*this, &Params::sigma);
}

void vcFrequencyFilterBandPass::sigma(double value) {
  vc_CoefficientFilter<vcFrequencyFilterBandPass>::set(*this, &Params::sigma, value);
}

double vcFrequencyFilterBandPass::plateau() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandPass>::get(*this, &Params::plateau);
}

void vcFrequencyFilterBandPass::plateau(double value) {
  vc_CoefficientFilter<vcFrequencyFilterBandPass>::set(*this, &Params::plateau, value);
}

vcPair<long> vcFrequencyFilterBandPass::size() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandPass>::get(*this, &Params::size);
}

void vcFrequencyFilterBandPass::size(const vcPair<long>& value) {
  vc_CoefficientFilter<vcFrequencyFilterBandPass>::set(*this, &Params::size, value);
}

long vcFrequencyFilterBandPass::dcRemovalRadius() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandPass>::get(*this, &Params::dcRadius);
}

void vcFrequencyFilterBandPass::dcRemovalRadius(long value) {
  vc_CoefficientFilter<vcFrequencyFilterBandPass>::set(*this, &Params::dcRadius, value);
}

long vcFrequencyFilterBandPass::supportWidth() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandPass>::supportWidth(*this);
}

float* vcFrequencyFilterBandPass::data() const {
  return coefficients_.data;
}

vcFrequencyFilter* vcFrequencyFilterBandPass::clone() const {
  return new vcFrequencyFilterBandPass(*this);
}

void vcFrequencyFilterBandPass::apply(vcFrequencyBuffer& buffer) const {
  vc_CoefficientFilter<vcFrequencyFilterBandPass>::apply(*this, buffer, buffer, false);
}

void vcFrequencyFilterBandPass::apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const {
  vc_CoefficientFilter<vcFrequencyFilterBandPass>::apply(*this, source, target, true);
}

vcPersistent* vcFrequencyFilterBandPass::make() {
  return new vcFrequencyFilterBandPass();
}

void vcFrequencyFilterBandPass::dispatchSerialize(vcArchive& ar) {
  vc_CoefficientFilter<vcFrequencyFilterBandPass>::dispatchSerialize(*this, ar);
}

void vcFrequencyFilterBandPass::serialize_(vcArchive& ar, unsigned char version) {
  // An unknown version names this line: each class's check has its own.
  if (version != 0) throw vcArchive::UnknownVersion("filt/freqfilt", __LINE__);
  vc_CoefficientFilter<vcFrequencyFilterBandPass>::serialize(*this, ar);
}

// ---- vcFrequencyFilterBandReject: one minus the ring's response; outside
// kept, DC square protected

vcFrequencyFilterBandReject::vcFrequencyFilterBandReject() = default;

vcFrequencyFilterBandReject::vcFrequencyFilterBandReject(double sigma, double plateau, double frequency,
                                                         const vcPair<long>& size, long dcRadius) {
  create(sigma, plateau, frequency, size, dcRadius);
}

vcFrequencyFilterBandReject::vcFrequencyFilterBandReject(const vcFrequencyFilterBandReject& other)
    : vcPersistent(), vcRepBase(), vcFrequencyFilter() {
  *this = other;
}

vcFrequencyFilterBandReject& vcFrequencyFilterBandReject::operator=(const vcFrequencyFilterBandReject& other) {
  vc_CoefficientFilter<vcFrequencyFilterBandReject>::assign(*this, other);
  return *this;
}

vcFrequencyFilterBandReject::~vcFrequencyFilterBandReject() = default;

bool vcFrequencyFilterBandReject::operator==(const vcFrequencyFilterBandReject& other) const {
  return vc_CoefficientFilter<vcFrequencyFilterBandReject>::equal(*this, other);
}

void vcFrequencyFilterBandReject::set(double sigma, double plateau, double frequency, const vcPair<long>& size,
                                      long dcRadius) {
  create(sigma, plateau, frequency, size, dcRadius);
}

void vcFrequencyFilterBandReject::create(double sigma, double plateau, double frequency, const vcPair<long>& size,
                                         long dcRadius) {
  vc_CoefficientFilter<vcFrequencyFilterBandReject>::create(*this, Params{frequency, sigma, plateau, size, dcRadius});
}

double vcFrequencyFilterBandReject::frequency() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandReject>::get(*this, &Params::frequency);
}

void vcFrequencyFilterBandReject::frequency(double value) {
  vc_CoefficientFilter<vcFrequencyFilterBandReject>::set(*this, &Params::frequency, value);
}

double vcFrequencyFilterBandReject::sigma() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandReject>::get(*this, &Params::sigma);
}

void vcFrequencyFilterBandReject::sigma(double value) {
  vc_CoefficientFilter<vcFrequencyFilterBandReject>::set(*this, &Params::sigma, value);
}

double vcFrequencyFilterBandReject::plateau() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandReject>::get(*this, &Params::plateau);
}

void vcFrequencyFilterBandReject::plateau(double value) {
  vc_CoefficientFilter<vcFrequencyFilterBandReject>::set(*this, &Params::plateau, value);
}

vcPair<long> vcFrequencyFilterBandReject::size() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandReject>::get(*this, &Params::size);
}

void vcFrequencyFilterBandReject::size(const vcPair<long>& value) {
  vc_CoefficientFilter<vcFrequencyFilterBandReject>::set(*this, &Params::size, value);
}

long vcFrequencyFilterBandReject::dcProtectionRadius() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandReject>::get(*this, &Params::dcRadius);
}

void vcFrequencyFilterBandReject::dcProtectionRadius(long value) {
  vc_CoefficientFilter<vcFrequencyFilterBandReject>::set(*this, &Params::dcRadius, value);
}

long vcFrequencyFilterBandReject::supportWidth() const {
  return vc_CoefficientFilter<vcFrequencyFilterBandReject>::supportWidth(*this);
}

float* vcFrequencyFilterBandReject::data() const {
  return coefficients_.data;
}

vcFrequencyFilter* vcFrequencyFilterBandReject::clone() const {
  return new vcFrequencyFilterBandReject(*this);
}

void vcFrequencyFilterBandReject::apply(vcFrequencyBuffer& buffer) const {
  vc_CoefficientFilter<vcFrequencyFilterBandReject>::apply(*this, buffer, buffer, false);
}

void vcFrequencyFilterBandReject::apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const {
  vc_CoefficientFilter<vcFrequencyFilterBandReject>::apply(*this, source, target, true);
}

vcPersistent* vcFrequencyFilterBandReject::make() {
  return new vcFrequencyFilterBandReject();
}

void vcFrequencyFilterBandReject::dispatchSerialize(vcArchive& ar) {
  vc_CoefficientFilter<vcFrequencyFilterBandReject>::dispatchSerialize(*this, ar);
}

void vcFrequencyFilterBandReject::serialize_(vcArchive& ar, unsigned char version) {
  // An unknown version names this line: each class's check has its own.
  if (version != 0) throw vcArchive::UnknownVersion("filt/freqfilt", __LINE__);
  vc_CoefficientFilter<vcFrequencyFilterBandReject>::serialize(*this, ar);
}

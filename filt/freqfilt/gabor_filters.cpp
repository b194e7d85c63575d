// Gabor and Gabor-reject patches: a small window of coefficients sampled
// around the exact sub-pixel centre of the patch and multiplied into the
// spectrum around the cell that contains it.

#include <algorithm>
#include <cmath>
#include <vector>

#include "freqfilt/coefficient_filter.h"

namespace {

using Access = vc_FrequencyBufferAccess;

// The parameters of both patch classes (each class's own Params has these
// members; the DC radius removes or protects by the class's sense).
template <class Params>
void validatePatch(const Params& p, const char* dcMessage) {
  if (p.frequency < 0.0 || p.frequency > 0.5) throw vcFrequencyDefs::InvalidArgument(vf_msg::kFrequencyRange);
  if (p.sigma.x <= 0.0 || p.sigma.y <= 0.0) throw vcFrequencyDefs::InvalidArgument(vf_msg::kSigmasPositive);
  if (p.plateau.x < 0.0 || p.plateau.y < 0.0) throw vcFrequencyDefs::InvalidArgument(vf_msg::kPlateausNegative);
  if (p.dcRadius < 0) throw vcFrequencyDefs::InvalidArgument(dcMessage);
  vf_filter::requireSize(p.size);
}

// Four standard deviations and the plateau each side of the centre, projected
// on the column and row axes, plus 5 % of the size; rows in row units.
template <class Params>
void patchSupports(const Params& p, long& sw, long& sh) {
  const double X = static_cast<double>(p.size.x), Y = static_cast<double>(p.size.y), a = Y / X;
  const double sx = X * p.sigma.x, sy = X * p.sigma.y, px = X * p.plateau.x, py = X * p.plateau.y;
  const double c = std::fabs(cos(p.angle)), s = std::fabs(sin(p.angle));
  sw = vf_filter::oddSupport(8.0 * std::max(sx * c, sy * s) + 2.0 * std::max(px * c, py * s) + 0.05 * X);
  sh = vf_filter::oddSupport(8.0 * std::max(sx * s, sy * c) * a + 2.0 * std::max(px * s, py * c) * a + 0.05 * Y);
}

// The patch centre in the quadrant-swapped frame (zero frequency at column
// X/2, row Y/2), in cells with a fraction; rows are in row units.
struct Centre {
  double x, y;
};

template <class Params>
Centre patchCentre(const Params& p) {
  const double X = static_cast<double>(p.size.x), Y = static_cast<double>(p.size.y);
  const double r = X * p.frequency;
  return {static_cast<double>(p.size.x >> 1) + r * cos(p.angle),
          static_cast<double>(p.size.y >> 1) + r * sin(p.angle) * (Y / X)};
}

// The pass response at offset (dx, dy) from the exact patch centre, in
// column units, measured along and across the direction (c, s): 1 over the
// plateau (px, py), then Gaussian shoulders (sx, sy).
double patchResponse(double dx, double dy, double c, double s, double sx, double sy, double px, double py) {
  const double rx = dx * c + dy * s, ry = -dx * s + dy * c;
  const double u = std::max(std::fabs(rx) - px, 0.0), v = std::max(std::fabs(ry) - py, 0.0);
  return std::exp(-(u * u) / (2.0 * sx * sx) - (v * v) / (2.0 * sy * sy));
}

template <class Params>
void patchFill(vc_FilterSense sense, const Params& p, long sw, long sh, float* window) {
  const double X = static_cast<double>(p.size.x), Y = static_cast<double>(p.size.y);
  const double sx = X * p.sigma.x, sy = X * p.sigma.y, px = X * p.plateau.x, py = X * p.plateau.y;
  const Centre centre = patchCentre(p);
  const double fx = centre.x - std::trunc(centre.x), fy = centre.y - std::trunc(centre.y);
  const double c = cos(p.angle), s = sin(p.angle);
  const long hw = sw >> 1, hh = sh >> 1;
  for (long j = -hh; j <= hh; ++j) {
    for (long i = -hw; i <= hw; ++i) {
      // Offset from the exact centre, rows in column units.
      const double dx = static_cast<double>(i) - fx, dy = (static_cast<double>(j) - fy) * X / Y;
      window[(j + hh) * sw + (i + hw)] = vf_filter::coefficient(sense, patchResponse(dx, dy, c, s, sx, sy, px, py));
    }
  }
}

// A cell index from a coordinate that may come from a record's odd values:
// far outside any array, but never near overflow.
long cellOf(double v) {
  constexpr long kFar = 1L << 40;
  return std::clamp(vf_filter::truncToLong(v), -kFar, kFar);
}

// The window placed on a W x H spectrum: its centre cell (the exact patch
// centre truncated, the cell it was sampled around, so the peak lands on the
// exact frequency) and its extent [x0, x1] x [y0, y1] in the centered frame.
struct WindowPlace {
  long cx, cy, x0, x1, y0, y1;

  WindowPlace(const Centre& centre, const vc_Coefficients& c) : cx(cellOf(centre.x)), cy(cellOf(centre.y)) {
    x0 = cx - (c.supportWidth >> 1);
    x1 = cx + (c.supportWidth >> 1);
    y0 = cy - (c.supportHeight >> 1);
    y1 = cy + (c.supportHeight >> 1);
  }
};

// Stored columns [a, b) sit at centered columns x + shift: those inside
// [x0, x1] are multiplied by the window row, the others are outside.
void patchColumns(vc_FilterSense sense, const WindowPlace& w, const float* windowRow, const float* s, float* d, long a,
                  long b, long shift) {
  const long wa = std::clamp(w.x0 - shift, a, b), wb = std::clamp(w.x1 + 1 - shift, wa, b);
  vf_filter::outsideSupport(sense, s, d, a, wa);
  for (long x = wa; x < wb; ++x) {
    const double f = windowRow[x + shift - w.cx];
    d[2 * x] = static_cast<float>(s[2 * x] * f);
    d[2 * x + 1] = static_cast<float>(s[2 * x + 1] * f);
  }
  vf_filter::outsideSupport(sense, s, d, wb, b);
}

// The patch pass: rows outside the window's rows are outside the support;
// each other row is multiplied by its window row, run by run.
void patchPass(vc_FilterSense sense, const WindowPlace& w, const vc_Coefficients& c, const vcFrequencyBuffer& source,
               vcFrequencyBuffer& target) {
  const long W = source.width(), H = source.height();
  const long hW = W >> 1, hH = H >> 1;
  const float* in = Access::data(source);
  float* out = Access::data(target);
  for (long y = 0; y < H; ++y) {
    const long yc = y < hH ? y + hH : y - hH;
    const float* s = in + 2 * W * y;
    float* d = out + 2 * W * y;
    if (yc < w.y0 || yc > w.y1) {
      vf_filter::outsideSupport(sense, s, d, 0, W);
      continue;
    }
    const float* windowRow = c.data + (yc - w.cy + (c.supportHeight >> 1)) * c.supportWidth + (c.supportWidth >> 1);
    patchColumns(sense, w, windowRow, s, d, 0, hW,
                 hW);                                     // the right half of the centered frame
    patchColumns(sense, w, windowRow, s, d, hW, W, -hW);  // the left half
  }
}

// What the patch classes give the shared pattern; only the sense and the DC
// message differ between them.
template <class Params, vc_FilterSense sense>
struct PatchTraits {
  static constexpr vc_FilterSense kSense = sense;
  static void validate(const Params& p) {
    validatePatch(p, sense == vc_FilterSense::pass ? vf_msg::kDcRemovalNegative : vf_msg::kDcProtectionNegative);
  }
  static void supports(const Params& p, long& sw, long& sh) { patchSupports(p, sw, sh); }
  static void fill(const Params& p, long sw, long sh, float* c) { patchFill(sense, p, sw, sh, c); }
  static bool sameParams(const Params& a, const Params& b) {
    return a.angle == b.angle && a.frequency == b.frequency && a.sigma == b.sigma && a.plateau == b.plateau &&
           a.size == b.size && a.dcRadius == b.dcRadius;
  }
  static void serializeParams(vcArchive& ar, Params& p) {
    double angle = p.angle.value();
    ar || angle || p.frequency;
    p.angle = vcRadian(angle);
    vf_filter::serializePair(ar, p.sigma);
    vf_filter::serializePair(ar, p.plateau);
    vf_filter::serializePair(ar, p.size);
    ar || p.dcRadius;
  }
  // The window is indexed from its centre cell: both sizes odd.
  static bool supportsCanBeRight(long sw, long sh) { return sw >= 1 && sh >= 1 && sw % 2 == 1 && sh % 2 == 1; }
  // The DC square is read before a two-buffer target is resized, so a square
  // leaving the buffer fails before anything is written. A Gabor result
  // carries the window's rows as its row band; a Gabor-reject result none.
  static void apply(const Params& p, const vc_Coefficients& c, const vcFrequencyBuffer& source,
                    vcFrequencyBuffer& target, bool twoBuffer) {
    const WindowPlace w(patchCentre(p), c);
    const vf_filter::DcSquare dc(sense, p.dcRadius, source);
    if (twoBuffer) Access::setAndAllocate(target, source.width(), source.height());
    if (sense == vc_FilterSense::pass)
      Access::setBand(target, 1, w.y0, w.y1);
    else
      Access::setBand(target, 0, 0, 0);
    patchPass(sense, w, c, source, target);
    dc.finish(target);
  }
};

}  // namespace

struct vcFrequencyFilterGabor::Traits : PatchTraits<vcFrequencyFilterGabor::Params, vc_FilterSense::pass> {};
struct vcFrequencyFilterGaborReject::Traits
    : PatchTraits<vcFrequencyFilterGaborReject::Params, vc_FilterSense::reject> {};
// ---- vcFrequencyFilterGabor: the patch's response; outside zeroed, DC square
// removed

vcFrequencyFilterGabor::vcFrequencyFilterGabor() = default;

vcFrequencyFilterGabor::vcFrequencyFilterGabor(const vcPair<double>& sigma, const vcPair<double>& plateau,
                                               vcRadian angle, double frequency, const vcPair<long>& size,
                                               long dcRadius) {
  create(sigma, plateau, angle, frequency, size, dcRadius);
}

vcFrequencyFilterGabor::vcFrequencyFilterGabor(const vcFrequencyFilterGabor& other)
    : vcPersistent(), vcRepBase(), vcFrequencyFilter() {
  *this = other;
}

vcFrequencyFilterGabor& vcFrequencyFilterGabor::operator=(const vcFrequencyFilterGabor& other) {
  vc_CoefficientFilter<vcFrequencyFilterGabor>::assign(*this, other);
  return *this;
}

vcFrequencyFilterGabor::~vcFrequencyFilterGabor() = default;

bool vcFrequencyFilterGabor::operator==(const vcFrequencyFilterGabor& other) const {
  return vc_CoefficientFilter<vcFrequencyFilterGabor>::equal(*this, other);
}

void vcFrequencyFilterGabor::set(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle,
                                 double frequency, const vcPair<long>& size, long dcRadius) {
  create(sigma, plateau, angle, frequency, size, dcRadius);
}

void vcFrequencyFilterGabor::create(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle,
                                    double frequency, const vcPair<long>& size, long dcRadius) {
  vc_CoefficientFilter<vcFrequencyFilterGabor>::create(*this, Params{angle, frequency, sigma, plateau, size, dcRadius});
}

vcRadian vcFrequencyFilterGabor::angle() const {
  return vc_CoefficientFilter<vcFrequencyFilterGabor>::get(*this, &Params::angle);
}

void vcFrequencyFilterGabor::angle(vcRadian value) {
  vc_CoefficientFilter<vcFrequencyFilterGabor>::set(*this, &Params::angle, value);
}

double vcFrequencyFilterGabor::frequency() const {
  return vc_CoefficientFilter<vcFrequencyFilterGabor>::get(*this, &Params::frequency);
}

void vcFrequencyFilterGabor::frequency(double value) {
  vc_CoefficientFilter<vcFrequencyFilterGabor>::set(*this, &Params::frequency, value);
}

vcPair<double> vcFrequencyFilterGabor::sigma() const {
  return vc_CoefficientFilter<vcFrequencyFilterGabor>::get(*this, &Params::sigma);
}

void vcFrequencyFilterGabor::sigma(const vcPair<double>& value) {
  vc_CoefficientFilter<vcFrequencyFilterGabor>::set(*this, &Params::sigma, value);
}

vcPair<double> vcFrequencyFilterGabor::plateau() const {
  return vc_CoefficientFilter<vcFrequencyFilterGabor>::get(*this, &Params::plateau);
}

void vcFrequencyFilterGabor::plateau(const vcPair<double>& value) {
  vc_CoefficientFilter<vcFrequencyFilterGabor>::set(*this, &Params::plateau, value);
}

vcPair<long> vcFrequencyFilterGabor::size() const {
  return vc_CoefficientFilter<vcFrequencyFilterGabor>::get(*this, &Params::size);
}

void vcFrequencyFilterGabor::size(const vcPair<long>& value) {
  vc_CoefficientFilter<vcFrequencyFilterGabor>::set(*this, &Params::size, value);
}

long vcFrequencyFilterGabor::dcRemovalRadius() const {
  return vc_CoefficientFilter<vcFrequencyFilterGabor>::get(*this, &Params::dcRadius);
}

void vcFrequencyFilterGabor::dcRemovalRadius(long value) {
  vc_CoefficientFilter<vcFrequencyFilterGabor>::set(*this, &Params::dcRadius, value);
}

long vcFrequencyFilterGabor::supportWidth() const {
  return vc_CoefficientFilter<vcFrequencyFilterGabor>::supportWidth(*this);
}

long vcFrequencyFilterGabor::supportHeight() const {
  return vc_CoefficientFilter<vcFrequencyFilterGabor>::supportHeight(*this);
}

float* vcFrequencyFilterGabor::data() const {
  return coefficients_.data;
}

vcFrequencyFilter* vcFrequencyFilterGabor::clone() const {
  return new vcFrequencyFilterGabor(*this);
}

void vcFrequencyFilterGabor::apply(vcFrequencyBuffer& buffer) const {
  vc_CoefficientFilter<vcFrequencyFilterGabor>::apply(*this, buffer, buffer, false);
}

void vcFrequencyFilterGabor::apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const {
  vc_CoefficientFilter<vcFrequencyFilterGabor>::apply(*this, source, target, true);
}

vcPersistent* vcFrequencyFilterGabor::make() {
  return new vcFrequencyFilterGabor();
}

void vcFrequencyFilterGabor::dispatchSerialize(vcArchive& ar) {
  vc_CoefficientFilter<vcFrequencyFilterGabor>::dispatchSerialize(*this, ar);
}

void vcFrequencyFilterGabor::serialize_(vcArchive& ar, unsigned char version) {
  // An unknown version names this line: each class's check has its own.
  if (version != 0) throw vcArchive::UnknownVersion("filt/freqfilt", __LINE__);
  vc_CoefficientFilter<vcFrequencyFilterGabor>::serialize(*this, ar);
}

// ---- vcFrequencyFilterGaborReject: one minus the patch's response; outside
// kept, DC square protected

vcFrequencyFilterGaborReject::vcFrequencyFilterGaborReject() = default;

vcFrequencyFilterGaborReject::vcFrequencyFilterGaborReject(const vcPair<double>& sigma, const vcPair<double>& plateau,
                                                           vcRadian angle, double frequency, const vcPair<long>& size,
                                                           long dcRadius) {
  create(sigma, plateau, angle, frequency, size, dcRadius);
}

vcFrequencyFilterGaborReject::vcFrequencyFilterGaborReject(const vcFrequencyFilterGaborReject& other)
    : vcPersistent(), vcRepBase(), vcFrequencyFilter() {
  *this = other;
}

vcFrequencyFilterGaborReject& vcFrequencyFilterGaborReject::operator=(const vcFrequencyFilterGaborReject& other) {
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::assign(*this, other);
  return *this;
}

vcFrequencyFilterGaborReject::~vcFrequencyFilterGaborReject() = default;

bool vcFrequencyFilterGaborReject::operator==(const vcFrequencyFilterGaborReject& other) const {
  return vc_CoefficientFilter<vcFrequencyFilterGaborReject>::equal(*this, other);
}

void vcFrequencyFilterGaborReject::set(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle,
                                       double frequency, const vcPair<long>& size, long dcRadius) {
  create(sigma, plateau, angle, frequency, size, dcRadius);
}

void vcFrequencyFilterGaborReject::create(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle,
                                          double frequency, const vcPair<long>& size, long dcRadius) {
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::create(*this,
                                                             Params{angle, frequency, sigma, plateau, size, dcRadius});
}

vcRadian vcFrequencyFilterGaborReject::angle() const {
  return vc_CoefficientFilter<vcFrequencyFilterGaborReject>::get(*this, &Params::angle);
}

void vcFrequencyFilterGaborReject::angle(vcRadian value) {
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::set(*this, &Params::angle, value);
}

double vcFrequencyFilterGaborReject::frequency() const {
  return vc_CoefficientFilter<vcFrequencyFilterGaborReject>::get(*this, &Params::frequency);
}

void vcFrequencyFilterGaborReject::frequency(double value) {
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::set(*this, &Params::frequency, value);
}

vcPair<double> vcFrequencyFilterGaborReject::sigma() const {
  return vc_CoefficientFilter<vcFrequencyFilterGaborReject>::get(*this, &Params::sigma);
}

void vcFrequencyFilterGaborReject::sigma(const vcPair<double>& value) {
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::set(*this, &Params::sigma, value);
}

vcPair<double> vcFrequencyFilterGaborReject::plateau() const {
  return vc_CoefficientFilter<vcFrequencyFilterGaborReject>::get(*this, &Params::plateau);
}

void vcFrequencyFilterGaborReject::plateau(const vcPair<double>& value) {
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::set(*this, &Params::plateau, value);
}

vcPair<long> vcFrequencyFilterGaborReject::size() const {
  return vc_CoefficientFilter<vcFrequencyFilterGaborReject>::get(*this, &Params::size);
}

void vcFrequencyFilterGaborReject::size(const vcPair<long>& value) {
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::set(*this, &Params::size, value);
}

long vcFrequencyFilterGaborReject::dcProtectionRadius() const {
  return vc_CoefficientFilter<vcFrequencyFilterGaborReject>::get(*this, &Params::dcRadius);
}

void vcFrequencyFilterGaborReject::dcProtectionRadius(long value) {
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::set(*this, &Params::dcRadius, value);
}

long vcFrequencyFilterGaborReject::supportWidth() const {
  return vc_CoefficientFilter<vcFrequencyFilterGaborReject>::supportWidth(*this);
}

long vcFrequencyFilterGaborReject::supportHeight() const {
  return vc_CoefficientFilter<vcFrequencyFilterGaborReject>::supportHeight(*this);
}

float* vcFrequencyFilterGaborReject::data() const {
  return coefficients_.data;
}

vcFrequencyFilter* vcFrequencyFilterGaborReject::clone() const {
  return new vcFrequencyFilterGaborReject(*this);
}

void vcFrequencyFilterGaborReject::apply(vcFrequencyBuffer& buffer) const {
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::apply(*this, buffer, buffer, false);
}

void vcFrequencyFilterGaborReject::apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const {
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::apply(*this, source, target, true);
}

vcPersistent* vcFrequencyFilterGaborReject::make() {
  return new vcFrequencyFilterGaborReject();
}

void vcFrequencyFilterGaborReject::dispatchSerialize(vcArchive& ar) {
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::dispatchSerialize(*this, ar);
}

void vcFrequencyFilterGaborReject::serialize_(vcArchive& ar, unsigned char version) {
  // An unknown version names this line: each class's check has its own.
  if (version != 0) throw vcArchive::UnknownVersion("filt/freqfilt", __LINE__);
  vc_CoefficientFilter<vcFrequencyFilterGaborReject>::serialize(*this, ar);
}

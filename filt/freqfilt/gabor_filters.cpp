// Gabor and Gabor-reject patches: a small window of coefficients sampled
// around the exact sub-pixel centre of the patch and multiplied into the
// spectrum around the cell that contains it.

#include <algorithm>
#include <cmath>
#include <vector>

#include "freqfilt/coefficient_filter.h"

namespace {

using Access = vc_FrequencyBufferAccess;

enum class Patch { pass, reject };

struct GaborParams {
  vcRadian angle;
  double frequency;
  vcPair<double> sigma, plateau;
  vcPair<long> size;
  long dcRadius;
};

void validateGabor(const GaborParams& p, const char* dcMessage) {
  if (p.frequency < 0.0 || p.frequency > 0.5) throw vcFrequencyDefs::InvalidArgument(vf_msg::kFrequencyRange);
  if (p.sigma.x <= 0.0 || p.sigma.y <= 0.0) throw vcFrequencyDefs::InvalidArgument(vf_msg::kSigmasPositive);
  if (p.plateau.x < 0.0 || p.plateau.y < 0.0) throw vcFrequencyDefs::InvalidArgument(vf_msg::kPlateausNegative);
  if (p.dcRadius < 0) throw vcFrequencyDefs::InvalidArgument(dcMessage);
  vf_filter::requireSize(p.size);
}

// Four standard deviations and the plateau each side of the centre, projected
// on the column and row axes, plus 5 % of the size; rows in row units.
void gaborSupports(const GaborParams& p, long& sw, long& sh) {
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

Centre patchCentre(const GaborParams& p) {
  const double X = static_cast<double>(p.size.x), Y = static_cast<double>(p.size.y);
  const double r = X * p.frequency;
  return {static_cast<double>(p.size.x >> 1) + r * cos(p.angle),
          static_cast<double>(p.size.y >> 1) + r * sin(p.angle) * (Y / X)};
}

void gaborFill(Patch patch, const GaborParams& p, long sw, long sh, float* window) {
  const double X = static_cast<double>(p.size.x), Y = static_cast<double>(p.size.y);
  const double sx = X * p.sigma.x, sy = X * p.sigma.y, px = X * p.plateau.x, py = X * p.plateau.y;
  const Centre centre = patchCentre(p);
  const double fx = centre.x - std::trunc(centre.x), fy = centre.y - std::trunc(centre.y);
  const double c = cos(p.angle), s = sin(p.angle);
  const long hw = sw >> 1, hh = sh >> 1;
  for (long j = -hh; j <= hh; ++j) {
    for (long i = -hw; i <= hw; ++i) {
      // Offset from the exact centre, rows in column units, then along and
      // across the direction.
      const double dx = static_cast<double>(i) - fx, dy = (static_cast<double>(j) - fy) * X / Y;
      const double rx = dx * c + dy * s, ry = -dx * s + dy * c;
      const double u = std::max(std::fabs(rx) - px, 0.0), v = std::max(std::fabs(ry) - py, 0.0);
      const double g = std::exp(-(u * u) / (2.0 * sx * sx) - (v * v) / (2.0 * sy * sy));
      window[(j + hh) * sw + (i + hw)] = static_cast<float>(patch == Patch::pass ? g : 1.0 - g);
    }
  }
}

// A cell index from a coordinate that may come from a record's odd values:
// far outside any array, but never near overflow.
long cellOf(double v) {
  constexpr long kFar = 1L << 40;
  return std::clamp(vf_filter::truncToLong(v), -kFar, kFar);
}

template <class Visit>
void dcSquare(long r, Visit visit) {
  for (long y = -(r - 1); y <= r - 1; ++y)
    for (long x = -(r - 1); x <= r - 1; ++x) visit(x, y);
}

void applyGabor(Patch patch, const GaborParams& p, const vc_Coefficients& c, const vcFrequencyBuffer& source,
                vcFrequencyBuffer& target, bool twoBuffer) {
  const long W = source.width(), H = source.height();
  const long hW = W >> 1, hH = H >> 1;
  // The centre cell is the one the window was sampled around (the exact
  // patch centre truncated), so the peak lands on the exact frequency.
  const Centre centre = patchCentre(p);
  const long cx = cellOf(centre.x), cy = cellOf(centre.y);
  const long sw = c.supportWidth, sh = c.supportHeight;
  const long x0 = cx - (sw >> 1), x1 = cx + (sw >> 1), y0 = cy - (sh >> 1), y1 = cy + (sh >> 1);

  const long r = p.dcRadius;
  std::vector<vcPair<double>> kept;
  if (patch == Patch::reject && r > 0) dcSquare(r, [&](long x, long y) { kept.push_back(source.get(x, y, true)); });
  if (twoBuffer) Access::setAndAllocate(target, W, H);
  if (patch == Patch::pass)
    Access::setBand(target, 1, y0, y1);
  else
    Access::setBand(target, 0, 0, 0);

  const float* in = Access::data(source);
  float* out = Access::data(target);
  const bool keepOutside = patch == Patch::reject;
  for (long y = 0; y < H; ++y) {
    const long yc = y < hH ? y + hH : y - hH;
    const float* s = in + 2 * W * y;
    float* d = out + 2 * W * y;
    if (yc < y0 || yc > y1) {
      if (!keepOutside)
        std::fill(d, d + 2 * W, 0.0f);
      else if (d != s)
        std::copy(s, s + 2 * W, d);
      continue;
    }
    const float* windowRow = c.data + (yc - cy + (sh >> 1)) * sw + (sw >> 1);
    // Stored columns [a, b) sit at centered columns x + shift: those inside
    // [x0, x1] are multiplied, the others zeroed or kept, run by run.
    const auto columns = [&](long a, long b, long shift) {
      const long wa = std::clamp(x0 - shift, a, b), wb = std::clamp(x1 + 1 - shift, wa, b);
      const auto outside = [&](long xa, long xb) {
        if (!keepOutside)
          std::fill(d + 2 * xa, d + 2 * xb, 0.0f);
        else if (d != s)
          std::copy(s + 2 * xa, s + 2 * xb, d + 2 * xa);
      };
      outside(a, wa);
      for (long x = wa; x < wb; ++x) {
        const double f = windowRow[x + shift - cx];
        d[2 * x] = static_cast<float>(s[2 * x] * f);
        d[2 * x + 1] = static_cast<float>(s[2 * x + 1] * f);
      }
      outside(wb, b);
    };
    columns(0, hW, hW);   // the right half of the centered frame
    columns(hW, W, -hW);  // the left half
  }

  if (patch == Patch::pass && r > 0) {
    dcSquare(r, [&](long x, long y) {
      target.putReal(x, y, 0.0, true);
      target.putImaginary(x, y, 0.0, true);
    });
  } else if (patch == Patch::reject && r > 0) {
    auto value = kept.begin();
    dcSquare(r, [&](long x, long y) { target.put(x, y, *value++, true); });
  }
}

}  // namespace

// The two classes differ only in the window's sign, what happens outside
// the window and around the zero frequency; everything else is the shared
// pattern of the coefficient filters.
#define VEXFILT_DEFINE_GABOR_FILTER(Class, PatchKind, DcName, DcMessage, Spare, VersionCheckLine)                  \
  struct Class::Traits {                                                                                           \
    static constexpr long kSpareFloats = Spare;                                                                    \
    static GaborParams plain(const Params& p) {                                                                    \
      return {p.angle, p.frequency, p.sigma, p.plateau, p.size, p.dcRadius};                                       \
    }                                                                                                              \
    static void validate(const Params& p) { validateGabor(plain(p), DcMessage); }                                  \
    static void supports(const Params& p, long& sw, long& sh) { gaborSupports(plain(p), sw, sh); }                 \
    static void fill(const Params& p, long sw, long sh, float* c) { gaborFill(PatchKind, plain(p), sw, sh, c); }   \
    static bool sameParams(const Params& a, const Params& b) {                                                     \
      return a.angle == b.angle && a.frequency == b.frequency && a.sigma == b.sigma && a.plateau == b.plateau &&   \
             a.size == b.size && a.dcRadius == b.dcRadius;                                                         \
    }                                                                                                              \
    static void serializeParams(vcArchive& ar, Params& p) {                                                        \
      double angle = p.angle.value();                                                                              \
      ar || angle || p.frequency;                                                                                  \
      p.angle = vcRadian(angle);                                                                                   \
      vf_filter::serializePair(ar, p.sigma);                                                                       \
      vf_filter::serializePair(ar, p.plateau);                                                                     \
      vf_filter::serializePair(ar, p.size);                                                                        \
      ar || p.dcRadius;                                                                                            \
    }                                                                                                              \
    /* The window is indexed from its centre cell: both sizes odd. */                                              \
    static bool supportsCanBeRight(long sw, long sh) { return sw >= 1 && sh >= 1 && sw % 2 == 1 && sh % 2 == 1; }  \
    static void apply(const Params& p, const vc_Coefficients& c, const vcFrequencyBuffer& source,                  \
                      vcFrequencyBuffer& target, bool twoBuffer) {                                                 \
      applyGabor(PatchKind, plain(p), c, source, target, twoBuffer);                                               \
    }                                                                                                              \
  };                                                                                                               \
  VEXFILT_DEFINE_COEFFICIENT_FILTER_MEMBERS(Class, VersionCheckLine)                                               \
  Class::Class(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle, double frequency,       \
               const vcPair<long>& size, long dcRadius) {                                                          \
    create(sigma, plateau, angle, frequency, size, dcRadius);                                                      \
  }                                                                                                                \
  void Class::set(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle, double frequency,    \
                  const vcPair<long>& size, long dcRadius) {                                                       \
    create(sigma, plateau, angle, frequency, size, dcRadius);                                                      \
  }                                                                                                                \
  void Class::create(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle, double frequency, \
                     const vcPair<long>& size, long dcRadius) {                                                    \
    Class##Pattern::create(*this, Params{angle, frequency, sigma, plateau, size, dcRadius});                       \
  }                                                                                                                \
  long Class::supportHeight() const {                                                                              \
    Class##Pattern::requireBuilt(*this);                                                                           \
    return coefficients_.supportHeight;                                                                            \
  }                                                                                                                \
  VEXFILT_DEFINE_FILTER_PROPERTY(Class, angle, angle, vcRadian)                                                    \
  VEXFILT_DEFINE_FILTER_PROPERTY(Class, frequency, frequency, double)                                              \
  VEXFILT_DEFINE_FILTER_PROPERTY(Class, sigma, sigma, const vcPair<double>&)                                       \
  VEXFILT_DEFINE_FILTER_PROPERTY(Class, plateau, plateau, const vcPair<double>&)                                   \
  VEXFILT_DEFINE_FILTER_PROPERTY(Class, size, size, const vcPair<long>&)                                           \
  VEXFILT_DEFINE_FILTER_PROPERTY(Class, DcName, dcRadius, long)

VEXFILT_DEFINE_GABOR_FILTER(vcFrequencyFilterGabor, Patch::pass, dcRemovalRadius, vf_msg::kDcRemovalNegative, 7,
                            __LINE__)
VEXFILT_DEFINE_GABOR_FILTER(vcFrequencyFilterGaborReject, Patch::reject, dcProtectionRadius,
                            vf_msg::kDcProtectionNegative, 3, __LINE__)

#undef VEXFILT_DEFINE_GABOR_FILTER

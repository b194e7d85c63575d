// Band-pass and band-reject rings: a radial profile around the ring of radius
// `frequency`, sampled 32 times per pixel, looked up per element.

#include <algorithm>
#include <cmath>
#include <vector>

#include "freqfilt/coefficient_filter.h"
#include "freqfilt/ring_kernels.h"

namespace {

using Access = vc_FrequencyBufferAccess;
using vf_filter::truncToLong;

constexpr long kSamplesPerPixel = 32;

enum class Band { pass, reject };

struct BandParams {
  double frequency, sigma, plateau;
  vcPair<long> size;
  long dcRadius;
};

void validateBand(double frequency, double sigma, double plateau, long dcRadius, const vcPair<long>& size,
                  const char* dcMessage) {
  if (frequency < 0.0 || frequency > 0.5) throw vcFrequencyDefs::InvalidArgument(vf_msg::kFrequencyRange);
  if (sigma <= 0.0) throw vcFrequencyDefs::InvalidArgument(vf_msg::kSigmaPositive);
  if (plateau < 0.0) throw vcFrequencyDefs::InvalidArgument(vf_msg::kPlateauNegative);
  if (dcRadius < 0) throw vcFrequencyDefs::InvalidArgument(dcMessage);
  vf_filter::requireSize(size);
}

// L = trunc(X plateau + 4 X sigma + 0.05 X), odd; 32 samples per pixel.
void bandSupports(double sigma, double plateau, const vcPair<long>& size, long& sw, long& sh) {
  const double X = static_cast<double>(size.x);
  sw = vf_filter::oddSupport(X * plateau + 4.0 * (X * sigma) + 0.05 * X);
  sh = kSamplesPerPixel;
}

// Entry j is the response j/32 pixels from the ring: 1 over the plateau,
// then a Gaussian shoulder (its complement for the band-reject filter).
void bandFill(Band band, double sigma, double plateau, const vcPair<long>& size, long sw, long sh, float* profile) {
  const double X = static_cast<double>(size.x);
  const double S = X * sigma, P = X * plateau;
  const long n = sw * sh;
  for (long j = 0; j < n; ++j) {
    const double m = std::max(0.0, static_cast<double>(j) / kSamplesPerPixel - P);
    const double v = std::exp(-(m * m) / (2.0 * S * S));
    profile[j] = static_cast<float>(band == Band::pass ? v : 1.0 - v);
  }
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

struct ColumnRange {
  long lo, hi;
};

// The distances m >= 0 from the zero column with inner < m*m + yy < outer:
// m in [lo, hi] (empty when hi < lo).
ColumnRange ringColumns(long yy, long inner, long outer) {
  if (yy >= outer) return {0, -1};
  const long hi = floorSqrt(outer - yy - 1);
  const long lo = inner < yy ? 0 : floorSqrt(inner - yy) + 1;
  return {lo, hi};
}

// The ring pass. `source` and `target` may be the same buffer (in place, or
// a two-buffer call given one buffer twice): every element is read before it
// is written. `twoBuffer` selects the two-buffer rules of the reject filter.
void bandPass(Band band, bool twoBuffer, const BandParams& p, const vc_Coefficients& c, const vcFrequencyBuffer& source,
              vcFrequencyBuffer& target) {
  const long W = source.width(), H = source.height();
  const long hW = W >> 1, hH = H >> 1;
  const double fW = static_cast<double>(W) * p.frequency;
  const double hOverW = static_cast<double>(H) / static_cast<double>(W);
  const double q = 1.0 / (hOverW * hOverW);
  const long L = c.supportWidth;
  const double S = static_cast<double>(c.supportHeight);
  const std::uint64_t N = static_cast<std::uint64_t>(c.supportWidth * c.supportHeight);
  const long outer = truncToLong((fW + L) * (fW + L));
  const long inner = fW - L >= 0.0 ? truncToLong((fW - L) * (fW - L)) : -1;
  // The row limit that makes the far-row shortcut exact: no element of a row
  // farther than (H/W)(fW + L) rows from the zero frequency is in the ring.
  const long R = truncToLong(hOverW * (fW + L));

  const float* in = Access::data(source);
  float* out = Access::data(target);
  const bool keepOutside = band == Band::reject;
  const vc_RingRun run = vf_RingRun(vf_BestEngineLevel());
  for (long y = 0; y < H; ++y) {
    const long dy = y < hH ? y : y - H;
    const float* s = in + 2 * W * y;
    float* d = out + 2 * W * y;
    if (dy > R || -dy > R) {
      if (!keepOutside)
        std::fill(d, d + 2 * W, 0.0f);
      else if (d != s)
        std::copy(s, s + 2 * W, d);
      continue;
    }
    const long yy = truncToLong(static_cast<double>(dy * dy) * q);
    // Elements [xa, xb) outside the ring.
    const auto outside = [&](long xa, long xb) {
      if (xa >= xb) return;
      if (!keepOutside)
        std::fill(d + 2 * xa, d + 2 * xb, 0.0f);
      else if (d != s)
        std::copy(s + 2 * xa, s + 2 * xb, d + 2 * xa);
    };
    // Elements [xa, xb) tested one by one, in runs on either side of the
    // stored column hW where dx = x - W begins.
    const vc_RingRow ringRow{s, d, c.data, N, yy, inner, outer, fW, S, keepOutside, band == Band::reject && twoBuffer};
    const auto ring = [&](long xa, long xb) {
      const long split = std::clamp(hW, xa, xb);
      run(ringRow, xa, split, 0);
      run(ringRow, split, xb, -W);
    };
    if (band == Band::reject && twoBuffer) {
      ring(0, W);  // the two-buffer reject rule tests every element
      continue;
    }
    // Only |dx| in [lo, hi] can have inner < dx*dx + yy < outer: the runs
    // left and right of the zero column that hold them are tested, the rest
    // of the row is outside.
    const auto [lo, hi] = ringColumns(yy, inner, outer);
    const long pa = std::clamp(lo, 0L, hW), pb = std::clamp(hi + 1, pa, hW);
    const long na = std::clamp(W - hi, hW, W), nb = std::clamp(W - lo + 1, na, W);
    outside(0, pa);
    ring(pa, pb);
    outside(pb, na);
    ring(na, nb);
    outside(nb, W);
  }
}

// The square of (2r - 1) x (2r - 1) elements around the zero frequency, row by
// row, through the buffer's checked centered access.
template <class Visit>
void dcSquare(long r, Visit visit) {
  for (long y = -(r - 1); y <= r - 1; ++y)
    for (long x = -(r - 1); x <= r - 1; ++x) visit(x, y);
}

void applyBand(Band band, const BandParams& p, const vc_Coefficients& c, const vcFrequencyBuffer& source,
               vcFrequencyBuffer& target, bool twoBuffer) {
  if (twoBuffer) Access::setAndAllocate(target, source.width(), source.height());
  const long r = p.dcRadius;
  std::vector<vcPair<double>> kept;
  if (band == Band::reject && r > 0) dcSquare(r, [&](long x, long y) { kept.push_back(source.get(x, y, true)); });
  Access::setBand(target, 0, 0, 0);
  bandPass(band, twoBuffer, p, c, source, target);
  if (band == Band::pass && r > 0) {
    dcSquare(r, [&](long x, long y) {
      target.putReal(x, y, 0.0, true);
      target.putImaginary(x, y, 0.0, true);
    });
  } else if (band == Band::reject && r > 0) {
    auto value = kept.begin();
    dcSquare(r, [&](long x, long y) { target.put(x, y, *value++, true); });
  }
}

}  // namespace

// The two classes differ only in the sign of the profile, what happens
// outside the ring and around the zero frequency; everything else is the
// shared pattern of the coefficient filters.
#define VEXFILT_DEFINE_BAND_FILTER(Class, BandKind, DcName, DcMessage, VersionCheckLine)                            \
  struct Class::Traits {                                                                                            \
    static constexpr long kSpareFloats = 3;                                                                         \
    static void validate(const Params& p) {                                                                         \
      validateBand(p.frequency, p.sigma, p.plateau, p.dcRadius, p.size, DcMessage);                                 \
    }                                                                                                               \
    static void supports(const Params& p, long& sw, long& sh) { bandSupports(p.sigma, p.plateau, p.size, sw, sh); } \
    static void fill(const Params& p, long sw, long sh, float* c) {                                                 \
      bandFill(BandKind, p.sigma, p.plateau, p.size, sw, sh, c);                                                    \
    }                                                                                                               \
    static bool sameParams(const Params& a, const Params& b) {                                                      \
      return a.frequency == b.frequency && a.sigma == b.sigma && a.plateau == b.plateau && a.size == b.size &&      \
             a.dcRadius == b.dcRadius;                                                                              \
    }                                                                                                               \
    static void serializeParams(vcArchive& ar, Params& p) {                                                         \
      ar || p.frequency || p.sigma || p.plateau;                                                                    \
      vf_filter::serializePair(ar, p.size);                                                                         \
      ar || p.dcRadius;                                                                                             \
    }                                                                                                               \
    static bool supportsCanBeRight(long sw, long sh) { return sw >= 1 && sh >= 1; }                                 \
    static void apply(const Params& p, const vc_Coefficients& c, const vcFrequencyBuffer& source,                   \
                      vcFrequencyBuffer& target, bool twoBuffer) {                                                  \
      applyBand(BandKind, BandParams{p.frequency, p.sigma, p.plateau, p.size, p.dcRadius}, c, source, target,       \
                twoBuffer);                                                                                         \
    }                                                                                                               \
  };                                                                                                                \
  VEXFILT_DEFINE_COEFFICIENT_FILTER_MEMBERS(Class, VersionCheckLine)                                                \
  Class::Class(double sigma, double plateau, double frequency, const vcPair<long>& size, long dcRadius) {           \
    create(sigma, plateau, frequency, size, dcRadius);                                                              \
  }                                                                                                                 \
  void Class::set(double sigma, double plateau, double frequency, const vcPair<long>& size, long dcRadius) {        \
    create(sigma, plateau, frequency, size, dcRadius);                                                              \
  }                                                                                                                 \
  void Class::create(double sigma, double plateau, double frequency, const vcPair<long>& size, long dcRadius) {     \
    Class##Pattern::create(*this, Params{frequency, sigma, plateau, size, dcRadius});                               \
  }                                                                                                                 \
  VEXFILT_DEFINE_FILTER_PROPERTY(Class, frequency, frequency, double)                                               \
  VEXFILT_DEFINE_FILTER_PROPERTY(Class, sigma, sigma, double)                                                       \
  VEXFILT_DEFINE_FILTER_PROPERTY(Class, plateau, plateau, double)                                                   \
  VEXFILT_DEFINE_FILTER_PROPERTY(Class, size, size, const vcPair<long>&)                                            \
  VEXFILT_DEFINE_FILTER_PROPERTY(Class, DcName, dcRadius, long)

VEXFILT_DEFINE_BAND_FILTER(vcFrequencyFilterBandPass, Band::pass, dcRemovalRadius, vf_msg::kDcRemovalNegative, __LINE__)
VEXFILT_DEFINE_BAND_FILTER(vcFrequencyFilterBandReject, Band::reject, dcProtectionRadius, vf_msg::kDcProtectionNegative,
                           __LINE__)

#undef VEXFILT_DEFINE_BAND_FILTER

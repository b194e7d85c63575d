// What the four coefficient filters (band-pass, band-reject, Gabor,
// Gabor-reject) share, written once: the policy of a pass or reject filter
// (the response or one minus it, what happens outside the support and to the
// DC square), and the pattern of building, copying, comparing, property
// access, the apply prologue and the archive items. A filter class supplies
// only what differs -- its parameters (a Params struct), their validation,
// the support sizes, the response at one coefficient and the scan geometry
// of apply -- through a Traits class, and its members forward here. Not
// installed.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "fft/buffer_access.h"
#include "fft/messages.h"
#include "fft/sizes.h"
#include "filt/freqfilt.h"
#include "records/float_array.h"
#include "records/record_level.h"

// Which side of its response a coefficient filter keeps. A pass filter
// multiplies by the response, zeroes what lies outside its support and
// removes the DC square after its pass; a reject filter multiplies by one
// minus the response, keeps what lies outside and protects the DC square.
enum class vc_FilterSense { pass, reject };

namespace vf_filter {

// The largest coefficient count a filter may hold (1 GiB of floats); larger
// supports come only from absurd parameters or malformed records.
inline constexpr std::uint64_t kMaxCoefficients = std::uint64_t{1} << 28;
// How many coefficients a loaded record may leave to be filled with zeros.
// The library always stores all supportWidth * supportHeight of them, so a
// short record is a damaged or hand-made one; loading tolerates a short tail
// but never lets a record claim much more memory than the floats it carries:
// a loaded filter holds at most its record's floats plus these 4096 zeros
// (16 KiB), whatever supports the record names.
inline constexpr std::uint64_t kMaxMissingCoefficients = std::uint64_t{1} << 12;
inline constexpr const char* kSupportTooLarge = "Filter support is too large.";

// |trunc(v)| as an index; NaN and values beyond 2^62 give a huge index
// (outside every array).
inline std::uint64_t truncIndex(double v) {
  const double a = std::fabs(v);
  if (!(a < 4.6e18)) return std::uint64_t{1} << 62;
  return static_cast<std::uint64_t>(a);
}

// trunc() of a double into a long without undefined behaviour: NaN gives 0,
// values beyond the range of long saturate.
inline long truncToLong(double v) {
  if (!(v == v)) return 0;
  if (v >= 9.2e18) return std::numeric_limits<long>::max();
  if (v <= -9.2e18) return std::numeric_limits<long>::min();
  return static_cast<long>(v);
}

// A computed support size: truncated, made odd, bounded.
inline long oddSupport(double v) {
  // NaN parameters pass the range checks (as NaN comparisons are false) but
  // give no support: refused here with the oversize ones.
  if (!(v < 2147483647.0)) throw vcFrequencyDefs::InvalidArgument(kSupportTooLarge);
  long n = v > 0.0 ? static_cast<long>(v) : 0;
  return n % 2 == 0 ? n + 1 : n;
}

inline void requireSize(const vcPair<long>& size) {
  if (!vf_IsPowerOfTwo(size.x) || !vf_IsPowerOfTwo(size.y)) throw vcFrequencyDefs::InvalidSize(vf_msg::kPowerOfTwo);
}

// Nested pair records: version byte 0, then x and y.
template <class T>
void serializePair(vcArchive& ar, vcPair<T>& p) {
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion(nullptr, 0);
  ar || p.x || p.y;
}

// The coefficient a filter of `sense` stores for a response v of its pass
// form: v itself, or 1 - v, in double, rounded once.
inline float coefficient(vc_FilterSense sense, double v) {
  return static_cast<float>(sense == vc_FilterSense::pass ? v : 1.0 - v);
}

// Elements [xa, xb) of a row (interleaved floats) that lie outside the
// support: a pass filter zeroes them, a reject filter keeps them (copies them
// when the target row is another).
inline void outsideSupport(vc_FilterSense sense, const float* source, float* target, long xa, long xb) {
  if (xa >= xb) return;
  if (sense == vc_FilterSense::pass)
    std::fill(target + 2 * xa, target + 2 * xb, 0.0f);
  else if (target != source)
    std::copy(source + 2 * xa, source + 2 * xb, target + 2 * xa);
}

// The square of (2r - 1) x (2r - 1) elements around the zero frequency
// (r = the DC radius, 0: none), reached through the buffer's checked centered
// access, so a square leaving the buffer throws BadCoord. A reject filter
// reads it from the source when constructed (before its pass writes anything)
// and gives it back in finish(); a pass filter zeroes it in finish().
class DcSquare {
 public:
  DcSquare(vc_FilterSense sense, long r, const vcFrequencyBuffer& source) : sense_(sense), r_(r) {
    if (sense_ == vc_FilterSense::reject) visit([&](long x, long y) { kept_.push_back(source.get(x, y, true)); });
  }

  void finish(vcFrequencyBuffer& target) const {
    if (sense_ == vc_FilterSense::pass) {
      visit([&](long x, long y) {
        target.putReal(x, y, 0.0, true);
        target.putImaginary(x, y, 0.0, true);
      });
    } else {
      auto value = kept_.begin();
      visit([&](long x, long y) { target.put(x, y, *value++, true); });
    }
  }

 private:
  // Radii of 0 and below have no square; a loaded record may hold any long,
  // so r - 1 is formed only for positive radii.
  template <class Visit>
  void visit(Visit v) const {
    if (r_ <= 0) return;
    for (long y = -(r_ - 1); y <= r_ - 1; ++y)
      for (long x = -(r_ - 1); x <= r_ - 1; ++x) v(x, y);
  }

  vc_FilterSense sense_;
  long r_;
  std::vector<vcPair<double>> kept_;
};

}  // namespace vf_filter

// Traits expected of a filter class F (as F::Traits):
//   static constexpr vc_FilterSense kSense;
//   static void validate(const Params&);                    // throws the first
//   failure static void supports(const Params&, long& sw, long& sh); // the
//   support sizes static void fill(const Params&, long sw, long sh, float*
//   coefficients); static bool sameParams(const Params&, const Params&);    //
//   == per value static void serializeParams(vcArchive&, Params&);        //
//   the class's item order static bool supportsCanBeRight(long sw, long sh); //
//   for loaded records static void apply(const Params&, const vc_Coefficients&,
//   const vcFrequencyBuffer& source,
//                     vcFrequencyBuffer& target, bool twoBuffer);  // after the
//                     checks
template <class F>
struct vc_CoefficientFilter {
  using Traits = typename F::Traits;
  using Params = typename F::Params;

  static bool built(const F& f) { return f.coefficients_.data != nullptr; }

  static void requireBuilt(const F& f) {
    if (!built(f)) throw vcFrequencyDefs::Uninitialized(vf_msg::kFilterUninitialized);
  }

  // Validate everything (the support bound included, so that a refused
  // call announces no change), announce the change, then build.
  static void create(F& f, const Params& p) {
    Traits::validate(p);
    long sw = 0, sh = 0;
    supports(p, sw, sh);
    f.mutating();
    build(f, p, sw, sh);
  }

  // The support sizes of `p`, refused beyond kMaxCoefficients floats.
  static void supports(const Params& p, long& sw, long& sh) {
    Traits::supports(p, sw, sh);
    if (static_cast<std::uint64_t>(sw) * static_cast<std::uint64_t>(sh) > vf_filter::kMaxCoefficients)
      throw vcFrequencyDefs::InvalidArgument(vf_filter::kSupportTooLarge);
  }

  static void build(F& f, const Params& p, long sw, long sh) {
    vc_Coefficients& c = f.coefficients_;
    // An unchanged coefficient count keeps the array, which is overwritten.
    if (c.data != nullptr && sw * sh != c.supportWidth * c.supportHeight) c.data = nullptr;
    c.supportWidth = sw;
    c.supportHeight = sh;
    f.params_ = p;
    if (c.data == nullptr) {
      c.storage.resize(static_cast<std::size_t>(sw * sh) + kFloatAlignmentSlack);
      c.data = vf_FirstAligned(c.storage);
    }
    Traits::fill(p, sw, sh, c.data);
    f.initialized_ = true;
  }

  static void assign(F& to, const F& from) {
    if (&to == &from) return;
    vc_Coefficients& c = to.coefficients_;
    if (!built(from)) {
      c.data = nullptr;
      to.initialized_ = false;
      return;
    }
    const vc_Coefficients& s = from.coefficients_;
    to.initialized_ = from.initialized_;
    c.supportWidth = s.supportWidth;
    c.supportHeight = s.supportHeight;
    to.params_ = from.params_;
    const std::size_t n = static_cast<std::size_t>(s.supportWidth * s.supportHeight);
    c.storage.resize(n + kFloatAlignmentSlack);
    c.data = vf_FirstAligned(c.storage);
    std::memcpy(c.data, s.data, n * sizeof(float));
  }

  static bool equal(const F& a, const F& b) {
    if (a.initialized_ != b.initialized_) return false;
    if (!built(a) && !built(b)) return true;
    if (!built(a) || !built(b)) return false;
    const vc_Coefficients &ca = a.coefficients_, &cb = b.coefficients_;
    if (ca.supportWidth != cb.supportWidth || ca.supportHeight != cb.supportHeight) return false;
    if (!Traits::sameParams(a.params_, b.params_)) return false;
    const long n = ca.supportWidth * ca.supportHeight;
    for (long i = 0; i < n; ++i)
      if (!(ca.data[i] == cb.data[i])) return false;
    return true;
  }

  // A property read: refused while Empty.
  template <class V>
  static V get(const F& f, V Params::*member) {
    requireBuilt(f);
    return f.params_.*member;
  }

  // A property write: refused while Empty, nothing for the stored value,
  // otherwise a full create with that one value replaced.
  template <class V>
  static void set(F& f, V Params::*member, const V& value) {
    requireBuilt(f);
    if (f.params_.*member == value) return;
    Params p = f.params_;
    p.*member = value;
    create(f, p);
  }

  // Checks 1 to 3 of every apply: the buffer, the filter, the sizes.
  static void checkApply(const F& f, const vcFrequencyBuffer& buffer) {
    if (vc_FrequencyBufferAccess::data(buffer) == nullptr)
      throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
    requireBuilt(f);
    if (buffer.width() != f.params_.size.x || buffer.height() != f.params_.size.y)
      throw vcFrequencyDefs::InvalidSize(vf_msg::kFilterSize);
  }

  // Both apply forms: the checks, then the class's pass.
  static void apply(const F& f, const vcFrequencyBuffer& source, vcFrequencyBuffer& target, bool twoBuffer) {
    checkApply(f, source);
    Traits::apply(f.params_, f.coefficients_, source, target, twoBuffer);
  }

  static long supportWidth(const F& f) {
    requireBuilt(f);
    return f.coefficients_.supportWidth;
  }

  static long supportHeight(const F& f) {
    requireBuilt(f);
    return f.coefficients_.supportHeight;
  }

  // The class's level of the record: its version byte (0), once per pass.
  static void dispatchSerialize(F& f, vcArchive& ar) {
    vf_RecordLevel(ar, &f, sizeof(F), [&](unsigned char version) { f.F::serialize_(ar, version); });
  }

  // The rest of the class's level after its version check: the base level,
  // then the filter's own items.
  static void serialize(F& f, vcArchive& ar) {
    f.vcFrequencyFilter::dispatchSerialize(ar);
    serializeItems(f, ar);
  }

  // The filter's own archive items after the base level: supports, the
  // class's parameters, the coefficient flag and the float array record.
  // Loading reads every item before it changes the filter, and refuses a
  // record whose supports could not be right before allocating for them.
  static void serializeItems(F& f, vcArchive& ar) {
    vc_Coefficients& c = f.coefficients_;
    long sw = c.supportWidth, sh = c.supportHeight;
    Params p = f.params_;
    bool hasCoefficients = c.data != nullptr;
    ar || sw || sh;
    Traits::serializeParams(ar, p);
    ar || hasCoefficients;
    if (ar.isStoring()) {
      vf_StoreFloatArray(ar, c.data, hasCoefficients ? static_cast<unsigned long>(sw * sh) : 0);
      return;
    }
    const unsigned long count = vf_LoadFloatArrayHead(ar);
    std::uint64_t n = 0;
    if (hasCoefficients) {
      // Each support is bounded on its own first: two large ones (say 3 and
      // 0x5555555555555557) would otherwise multiply to a small number
      // modulo 2^64 and pass, leaving apply to index far past the array.
      constexpr long kBound = static_cast<long>(vf_filter::kMaxCoefficients);
      if (!Traits::supportsCanBeRight(sw, sh) || sw > kBound || sh > kBound ||
          static_cast<std::uint64_t>(sw) * static_cast<std::uint64_t>(sh) > vf_filter::kMaxCoefficients)
        throw vcArchive::BadData("Filter record: the coefficient array's sizes cannot be right");
      // Coefficients missing from a record load as zeros, but a few bytes
      // may not claim a support far beyond what they hold.
      if (static_cast<std::uint64_t>(sw) * static_cast<std::uint64_t>(sh) > count + vf_filter::kMaxMissingCoefficients)
        throw vcArchive::BadData("Filter record: far fewer coefficients than its support");
      n = std::max<std::uint64_t>(static_cast<std::uint64_t>(sw * sh), count);
    }
    // The count was checked against the bytes left, n against the bound.
    std::vector<float> storage;
    float* data = nullptr;
    if (hasCoefficients) {
      data = vf_LoadAlignedFloats(ar, storage, n, count);
    } else {
      std::vector<float> ignored(count);
      ar.exchangeFloats(ignored.data(), count);
    }
    c.supportWidth = sw;
    c.supportHeight = sh;
    f.params_ = p;
    c.storage = std::move(storage);  // the allocation moves with it
    c.data = data;
  }
};

// The shared pattern of the four parametric filters (band-pass, band-reject,
// Gabor, Gabor-reject): building, copying, comparing, property access, the
// apply prologue and the archive items. Each filter class supplies only what
// differs -- its parameters (a Params struct), their validation, the support
// sizes, the fill of the coefficients and the order of its archive items --
// through a small traits class, and forwards its members here. Not installed.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "fft/buffer_access.h"
#include "fft/float_array.h"
#include "fft/messages.h"
#include "filt/freqfilt.h"

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

// The power-of-two test of the validation: doubling a counter from 1 while it
// is below the value, then equality (so 1 passes, 0 and negatives fail).
inline bool isPowerOfTwo(long v) {
  long p = 1;
  while (p < v && p <= std::numeric_limits<long>::max() / 2) p *= 2;
  return p == v;
}

inline void requireSize(const vcPair<long>& size) {
  if (!isPowerOfTwo(size.x) || !isPowerOfTwo(size.y)) throw vcFrequencyDefs::InvalidSize(vf_msg::kPowerOfTwo);
}

// Nested pair records: version byte 0, then x and y.
template <class T>
void serializePair(vcArchive& ar, vcPair<T>& p) {
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion(nullptr, 0);
  ar || p.x || p.y;
}

// Points `data` at the first 16-byte aligned float of `storage`.
inline float* alignedStart(std::vector<float>& storage) {
  const auto address = reinterpret_cast<std::uintptr_t>(storage.data());
  return reinterpret_cast<float*>((address + 15) & ~std::uintptr_t{15});
}

}  // namespace vf_filter

// Traits expected of a filter class F (as F::Traits):
//   static void validate(const Params&);                    // throws the first failure
//   static void supports(const Params&, long& sw, long& sh); // the support sizes
//   static void fill(const Params&, long sw, long sh, float* coefficients);
//   static bool sameParams(const Params&, const Params&);    // == per value
//   static void serializeParams(vcArchive&, Params&);        // the class's item order
//   static bool supportsCanBeRight(long sw, long sh);        // for loaded records
//   static constexpr long kSpareFloats;
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
      c.storage.resize(static_cast<std::size_t>(sw * sh + Traits::kSpareFloats));
      c.data = vf_filter::alignedStart(c.storage);
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
    c.storage.resize(n + 3);
    c.data = vf_filter::alignedStart(c.storage);
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
      storage.assign(n + 3, 0.0f);
      data = vf_filter::alignedStart(storage);
      ar.exchangeFloats(data, count);
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

// The members every coefficient filter class defines alike: construction and
// copying, equality, the support and coefficient accessors, apply (through
// Traits::apply(params, coefficients, source, target, twoBuffer)), the
// registry's factory and the archive record (version byte 0; an unknown
// version names `versionLine`). The public constructor, set/create and the
// property accessors, which differ in their parameters, stay with the class.
#define VEXFILT_DEFINE_COEFFICIENT_FILTER_MEMBERS(Class, versionLine)                   \
  using Class##Pattern = vc_CoefficientFilter<Class>;                                   \
  Class::Class() = default;                                                             \
  Class::Class(const Class& other) : vcPersistent(), vcRepBase(), vcFrequencyFilter() { \
    *this = other;                                                                      \
  }                                                                                     \
  Class& Class::operator=(const Class& other) {                                         \
    Class##Pattern::assign(*this, other);                                               \
    return *this;                                                                       \
  }                                                                                     \
  Class::~Class() = default;                                                            \
  bool Class::operator==(const Class& other) const {                                    \
    return Class##Pattern::equal(*this, other);                                         \
  }                                                                                     \
  long Class::supportWidth() const {                                                    \
    Class##Pattern::requireBuilt(*this);                                                \
    return coefficients_.supportWidth;                                                  \
  }                                                                                     \
  float* Class::data() const {                                                          \
    return coefficients_.data;                                                          \
  }                                                                                     \
  vcFrequencyFilter* Class::clone() const {                                             \
    return new Class(*this);                                                            \
  }                                                                                     \
  void Class::apply(vcFrequencyBuffer& buffer) const {                                  \
    Class##Pattern::checkApply(*this, buffer);                                          \
    Traits::apply(params_, coefficients_, buffer, buffer, false);                       \
  }                                                                                     \
  void Class::apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const { \
    Class##Pattern::checkApply(*this, source);                                          \
    Traits::apply(params_, coefficients_, source, target, true);                        \
  }                                                                                     \
  vcPersistent* Class::make() {                                                         \
    return new Class();                                                                 \
  }                                                                                     \
  void Class::dispatchSerialize(vcArchive& ar) {                                        \
    if (vcPersistent::haveVisited(this, sizeof(Class))) return;                         \
    unsigned char version = 0;                                                          \
    ar || version;                                                                      \
    Class::serialize_(ar, version);                                                     \
    vcPersistent::setVisited(this, sizeof(Class));                                      \
  }                                                                                     \
  void Class::serialize_(vcArchive& ar, unsigned char version) {                        \
    if (version != 0) throw vcArchive::UnknownVersion("filt/freqfilt", versionLine);    \
    vcFrequencyFilter::dispatchSerialize(ar);                                           \
    Class##Pattern::serializeItems(*this, ar);                                          \
  }

// A property's getter (refused while Empty) and setter (a full create with
// the one value replaced); Arg is the setter's parameter type.
#define VEXFILT_DEFINE_FILTER_PROPERTY(Class, name, member, Arg) \
  auto Class::name() const->decltype(Params::member) {           \
    return Class##Pattern::get(*this, &Params::member);          \
  }                                                              \
  void Class::name(Arg v) {                                      \
    Class##Pattern::set(*this, &Params::member, v);              \
  }

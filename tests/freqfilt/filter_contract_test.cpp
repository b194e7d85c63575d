// What the four parametric filters share: validation order and messages, the Empty
// and Built states, setters that rebuild only on change, the order of apply's checks,
// the DC squares and where a too large one fails, aliasing of source and target, and
// copies. (Concurrent application: reliability/concurrency_test.)

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <typeinfo>

#include "freqfilt/filter_support.h"

namespace {

using Defs = vcFrequencyDefs;
const char* const kFilterEmpty = "FrequencyFilter has not been initialized";
const char* const kBufferEmpty = "FrequencyBuffer has not been initialized";
const char* const kSizeMismatch = "Size of frequency buffer does not match size of filter.";

// A typical filter and a low-pass one (frequency 0, flat over the DC square) per
// class. The keepsDc classes give the DC square back unchanged and fail on a too large
// one before writing; the others zero it after their pass.
template <class Filter, bool keeps>
struct BandKind {
  using F = Filter;
  static constexpr bool keepsDc = keeps;
  static F make(long n, long dc = 0) { return F(0.02, 0.01, 0.2, {n, n}, dc); }
  static F lowPass(long n, long dc) { return F(0.05, 0.1, 0.0, {n, n}, dc); }
};
template <class Filter, bool keeps>
struct GaborKind {
  using F = Filter;
  static constexpr bool keepsDc = keeps;
  static F make(long n, long dc = 0) { return F({0.02, 0.03}, {0.01, 0}, vcRadian(0.5), 0.2, {n, n}, dc); }
  static F lowPass(long n, long dc) { return F({0.05, 0.05}, {0.1, 0.1}, vcRadian(0), 0.0, {n, n}, dc); }
};
using PassKind = BandKind<vcFrequencyFilterBandPass, false>;
using RejectKind = BandKind<vcFrequencyFilterBandReject, true>;
using GaborPassKind = GaborKind<vcFrequencyFilterGabor, false>;
using GaborRejectKind = GaborKind<vcFrequencyFilterGaborReject, true>;

template <class Kind>
class CoefficientFilter : public testing::Test {};
using Kinds = testing::Types<PassKind, RejectKind, GaborPassKind, GaborRejectKind>;
TYPED_TEST_SUITE(CoefficientFilter, Kinds);

}  // namespace

// An Empty filter refuses all but value operations; apply checks the buffer, then the
// filter, then the sizes; nothing refused changes.
TYPED_TEST(CoefficientFilter, RefusalsAndValueOperations) {
  using F = typename TypeParam::F;
  F empty;
  vcFrequencyBuffer none, b = vftest::randomSpectrum(64, 64, 1);
  EXPECT_FALSE(empty.isInitialized());
  EXPECT_VF_ERROR(empty.supportWidth(), Defs::Uninitialized, kFilterEmpty);
  EXPECT_VF_ERROR(empty.frequency(), Defs::Uninitialized, kFilterEmpty);
  EXPECT_VF_ERROR(empty.size({64, 64}), Defs::Uninitialized, kFilterEmpty);
  EXPECT_VF_ERROR(empty.apply(none), Defs::Uninitialized, kBufferEmpty);
  EXPECT_VF_ERROR(empty.apply(none, b), Defs::Uninitialized, kBufferEmpty);
  EXPECT_VF_ERROR(empty.apply(b), Defs::Uninitialized, kFilterEmpty);
  EXPECT_VF_ERROR(empty.apply(b, none), Defs::Uninitialized, kFilterEmpty);
  EXPECT_TRUE(F() == empty);

  const F f = TypeParam::make(64);
  vcFrequencyBuffer narrow = vftest::randomSpectrum(32, 64, 2), low = vftest::randomSpectrum(64, 32, 3);
  const vcFrequencyBuffer narrowBefore = narrow, lowBefore = low;
  EXPECT_VF_ERROR(f.apply(none), Defs::Uninitialized, kBufferEmpty);
  EXPECT_VF_ERROR(f.apply(narrow), Defs::InvalidSize, kSizeMismatch);
  EXPECT_VF_ERROR(f.apply(low), Defs::InvalidSize, kSizeMismatch);
  EXPECT_VF_ERROR(f.apply(low, narrow), Defs::InvalidSize, kSizeMismatch);
  EXPECT_TRUE(narrow == narrowBefore && low == lowBefore);

  F built = f;
  EXPECT_FALSE(built == empty);
  std::unique_ptr<vcFrequencyFilter> copy(built.clone());
  const vcFrequencyFilter& copied = *copy;
  ASSERT_EQ(typeid(copied), typeid(F));
  EXPECT_TRUE(dynamic_cast<const F&>(copied) == built);
  built = empty;
  EXPECT_FALSE(built.isInitialized());
  EXPECT_TRUE(built == empty);
}

// The stored value does nothing (no rebuild, no notification); a refused value leaves
// the filter Built and as it was; a new size rebuilds for that size only. One buffer as
// source and target follows the two-buffer rules.
TYPED_TEST(CoefficientFilter, SettersRebuildOnlyOnChange) {
  auto f = TypeParam::make(64);
  const auto before = f;
  f.changeTracking(true);
  f.frequency(f.frequency());
  f.size(f.size());
  EXPECT_VF_ERROR(f.frequency(0.6), Defs::InvalidArgument, "Frequency must be between 0.0 and 0.5.");
  EXPECT_VF_ERROR(f.size({48, 64}), Defs::InvalidSize, "Size must be a power of 2.");
  EXPECT_TRUE(f.isInitialized() && f == before);
  EXPECT_EQ(f.changeCount(), 0u);

  vcFrequencyBuffer b = vftest::randomSpectrum(64, 64, 6), target;
  f.apply(b, target);
  f.apply(b, b);
  EXPECT_TRUE(b == target);

  f.frequency(0.1);
  EXPECT_EQ(f.changeCount(), 1u);
  EXPECT_FALSE(f == before);
  f.size({128, 64});
  vcFrequencyBuffer old = vftest::randomSpectrum(64, 64, 4), wide = vftest::randomSpectrum(128, 64, 5);
  EXPECT_VF_ERROR(f.apply(old), Defs::InvalidSize, kSizeMismatch);
  f.apply(wide);
}

// Low-pass filters cover the zero frequency: the zeroing classes clear the 3 x 3 square
// of radius 2 (wrapping to the last row and column); the keeping ones return the square
// of radius 1 as it entered, although their own factor there is 0. Elsewhere the result
// is that of the plain filter.
TYPED_TEST(CoefficientFilter, DcSquareAroundTheZeroFrequency) {
  const vcFrequencyBuffer original = vftest::randomSpectrum(32, 32, 10);
  vcFrequencyBuffer b = original, plain = original;
  const long r = TypeParam::keepsDc ? 1 : 2;
  TypeParam::lowPass(32, r).apply(b);
  TypeParam::lowPass(32, 0).apply(plain);
  for (long y = -2; y <= 2; ++y)
    for (long x = -2; x <= 2; ++x) {
      const bool inSquare = std::labs(x) < r && std::labs(y) < r;
      const vcPair<double> want = !inSquare            ? plain.get(x, y, true)
                                  : TypeParam::keepsDc ? original.get(x, y, true)
                                                       : vcPair<double>(0, 0);
      EXPECT_EQ(b.get(x, y, true), want) << x << ", " << y;
      EXPECT_TRUE(!inSquare || !(plain.get(x, y, true) == want)) << "the square makes no difference";
    }
  // Into another buffer: the square comes from the source, whatever the target held.
  vcFrequencyBuffer target = vftest::randomSpectrum(32, 32, 11);
  TypeParam::lowPass(32, r).apply(original, target);
  EXPECT_TRUE(target == b);
}

// A square reaching outside a 64 x 64 buffer (r - 1 = 32, or any larger radius up to
// LONG_MAX): the keeping classes fail before writing anything, the zeroing ones after
// their pass.
TYPED_TEST(CoefficientFilter, TooLargeDcSquareFailsAtItsPlace) {
  const vcFrequencyBuffer original = vftest::randomSpectrum(64, 64, 7);
  vcFrequencyBuffer b = original, filtered = original;
  EXPECT_NO_THROW(TypeParam::make(64, 32).apply(b));
  TypeParam::make(64, 0).apply(filtered);
  for (long r : {33L, LONG_MAX}) {
    b = original;
    EXPECT_VF_ERROR(TypeParam::make(64, r).apply(b), Defs::BadCoord, "Coordinates are out of bounds");
    EXPECT_TRUE(b == (TypeParam::keepsDc ? original : filtered)) << r;
  }
}

// The first failing argument in the order frequency, sigma, plateau, DC radius, size is
// reported (set() runs the constructor's validation); the Built filter then stays as it
// was and announces no change. Gabor pairs use the value for both components; "DC"
// stands for each class's DC message.
TEST(CoefficientFilters, ValidationOrderAndMessages) {
  const char *kDc = "DC", *kPow2 = "Size must be a power of 2.", *kFreq = "Frequency must be between 0.0 and 0.5.",
             *kLarge = "Filter support is too large.";
  const struct {
    double sigma, plateau, frequency;
    vcPair<long> size;
    long dc;
    const char *band, *gabor;  // null: accepted
  } cases[] = {
      {0.01, 0.0, 0.5, {64, 64}, 0, nullptr, nullptr},
      {0.01, 0.0, 0.25, {1, 1}, 0, nullptr, nullptr},
      {0.01, 0.0, 0.25, {2048, 1}, 0, nullptr, nullptr},
      {0.01, 0.0, 0.5000001, {64, 64}, 0, kFreq, kFreq},
      {0.01, 0.0, -0.0000001, {64, 64}, 0, kFreq, kFreq},
      {-1.0, -1.0, 0.7, {0, 64}, -1, kFreq, kFreq},
      {0.0, 0.0, 0.25, {64, 64}, 0, "Sigma must be positive.", "Sigma values must be positive."},
      {-1.0, -1.0, 0.25, {0, 0}, -1, "Sigma must be positive.", "Sigma values must be positive."},
      {0.01, -0.1, 0.25, {0, 0}, -1, "Plateau cannot be negative.", "Plateau values cannot be negative."},
      {0.01, 0.0, 0.25, {48, 64}, -1, kDc, kDc},
      {0.01, 0.0, 0.25, {0, 64}, 0, kPow2, kPow2},
      {0.01, 0.0, 0.25, {48, 64}, 0, kPow2, kPow2},
      {0.01, 0.0, 0.25, {64, -64}, 0, kPow2, kPow2},
      {2000.0, 0.0, 0.25, {2048, 2048}, 0, kLarge, kLarge},
  };
  const char *kRemoval = "DC Removal Radius cannot be negative.",
             *kProtection = "DC Protection Radius cannot be negative.";
  auto expect = [&](auto run, const char* message, const char* dcMessage) {
    if (message == nullptr)
      EXPECT_NO_THROW(run());
    else if (message == kPow2)
      EXPECT_VF_ERROR(run(), Defs::InvalidSize, message);
    else
      EXPECT_VF_ERROR(run(), Defs::InvalidArgument, message == kDc ? dcMessage : message);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "sigma " << c.sigma << " frequency " << c.frequency << " size " << c.size.x
                                    << "x" << c.size.y);
    const vcPair<double> s(c.sigma, c.sigma), p(c.plateau, c.plateau);
    auto pass = PassKind::make(64);
    auto reject = RejectKind::make(64);
    auto gabor = GaborPassKind::make(64);
    auto gaborReject = GaborRejectKind::make(64);
    for (vcPersistent* f : std::initializer_list<vcPersistent*>{&pass, &reject, &gabor, &gaborReject})
      f->changeTracking(true);
    expect([&] { pass.set(c.sigma, c.plateau, c.frequency, c.size, c.dc); }, c.band, kRemoval);
    expect([&] { reject.set(c.sigma, c.plateau, c.frequency, c.size, c.dc); }, c.band, kProtection);
    expect([&] { gabor.set(s, p, vcRadian(0.3), c.frequency, c.size, c.dc); }, c.gabor, kRemoval);
    expect([&] { gaborReject.set(s, p, vcRadian(0.3), c.frequency, c.size, c.dc); }, c.gabor, kProtection);
    if (c.band == nullptr) continue;
    EXPECT_TRUE(pass == PassKind::make(64) && reject == RejectKind::make(64) && gabor == GaborPassKind::make(64) &&
                gaborReject == GaborRejectKind::make(64));
    EXPECT_EQ(pass.changeCount() + reject.changeCount() + gabor.changeCount() + gaborReject.changeCount(), 0u);
  }
  // Each component of the Gabor pairs is checked.
  EXPECT_VF_ERROR(vcFrequencyFilterGabor({0.01, 0}, {0, 0}, vcRadian(0), 0.2, {64, 64}, 0), Defs::InvalidArgument,
                  "Sigma values must be positive.");
  EXPECT_VF_ERROR(vcFrequencyFilterGaborReject({0.01, 0.01}, {0, -0.1}, vcRadian(0), 0.2, {64, 64}, 0),
                  Defs::InvalidArgument, "Plateau values cannot be negative.");
}

// Filter records: version bytes, the coefficient count, the Gabor angle, visit marks,
// registration order, and loaders that refuse malformed, cut or damaged records.
// (Records of every class, Built and Empty, loaded and stored back, polymorphically too:
// the fuzz_replay_filter_record and fuzz_replay_load_object tests.)

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numbers>
#include <set>
#include <string>
#include <utility>

#include "freqfilt/filter_support.h"

namespace {

using vftest::kItems;
using vftest::Open;
using vftest::poke;
using Bytes = std::vector<unsigned char>;

const vcFrequencyFilterBandPass kBandPass(0.02, 0.01, 0.2, {64, 32}, 2);
const vcFrequencyFilterBandReject kBandReject(0.02, 0.01, 0.2, {64, 32}, 2);
const vcFrequencyFilterGabor kGabor({0.02, 0.03}, {0.01, 0}, vcRadian(std::numbers::pi / 6), 0.2, {64, 32}, 2);
const vcFrequencyFilterGaborReject kGaborReject({0.02, 0.03}, {0.01, 0}, vcRadian(2.5), 0.2, {64, 32}, 2);
vcFrequencyFilterImage imageFilter() {
  return vcFrequencyFilterImage(vftest::randomSpectrum(64, 32, 11));
}

// Offsets in the coefficient filters' records: the supports, the band filters' size
// pair after three doubles, the Gabor sigma pair; the float array record
// (version, count, floats) closes every record.
constexpr std::size_t kSupportWidth = kItems, kSupportHeight = kItems + 8, kBandSize = kItems + 40;
constexpr std::size_t kGaborSigma = kItems + 32;
std::size_t countOffset(const Bytes& bytes, long floats) {
  return bytes.size() - 4 * static_cast<std::size_t>(floats) - 8;
}

// The text and number of the UnknownVersion that a version byte of 1 at `at` raises.
template <class F>
std::pair<std::string, int> versionFailure(const F& f, std::size_t at) {
  Bytes bytes = vftest::recordOf(f);
  bytes[at] = 1;
  Open<F> loaded;
  try {
    vftest::loadInto(loaded, bytes);
  } catch (const vcArchive::UnknownVersion& e) {
    return {e.text() == nullptr ? "(null)" : e.text(), e.number()};
  }
  return {"(accepted)", 0};
}

// An Empty record loaded through the class's own step empties a Built object. Every
// proper prefix fails with an archive or library error; records with bytes flipped
// (the supports apart: MalformedRecordsAreRefused has them) fail so or load a filter
// that applies, or refuses, without touching foreign memory.
template <class F>
void expectEmptyCutAndDamageHandled(const F& f) {
  Open<F> target(f);
  vftest::loadInto(target, vftest::recordOf(F()));
  EXPECT_FALSE(target.isInitialized());
  EXPECT_TRUE(static_cast<F&>(target) == F());
  const Bytes bytes = vftest::recordOf(f);
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    Open<F> loaded;
    EXPECT_THROW(vftest::loadInto(loaded, Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n))), vcException);
  }
  for (std::size_t at = 0; at < std::min<std::size_t>(bytes.size(), 96); ++at)
    for (unsigned char flip : {0x01, 0x80, 0xff}) {
      if (at >= kSupportWidth && at < kSupportHeight + 8) continue;
      Bytes damaged = bytes;
      damaged[at] ^= flip;
      Open<F> loaded;
      try {
        vftest::loadInto(loaded, damaged);
        vcFrequencyBuffer b = vftest::randomSpectrum(64, 32, 13);
        loaded.apply(b);
      } catch (const vcException&) {
      }
    }
}

}  // namespace

TEST(FilterPersistence, EmptyCutOrDamagedRecords) {
  expectEmptyCutAndDamageHandled(kBandPass);
  expectEmptyCutAndDamageHandled(kBandReject);
  expectEmptyCutAndDamageHandled(kGabor);
  expectEmptyCutAndDamageHandled(kGaborReject);
  expectEmptyCutAndDamageHandled(imageFilter());
}

// Class bytes report one line per class, base bytes the base level's line; nested pair
// and float array records report no text and 0.
TEST(FilterPersistence, VersionBytesReportTheirLevel) {
  const std::pair<std::string, int> classes[] = {versionFailure(kBandPass, 0), versionFailure(kBandReject, 0),
                                                 versionFailure(kGabor, 0), versionFailure(kGaborReject, 0),
                                                 versionFailure(imageFilter(), 0)};
  const std::pair<std::string, int> base = versionFailure(kGabor, 1);
  std::set<int> lines = {base.second};
  for (const auto& c : classes) {
    EXPECT_EQ(c.first, "filt/freqfilt");
    lines.insert(c.second);
  }
  EXPECT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines.count(0), 0u);
  EXPECT_EQ(base.first, "filt/freqfilt");
  for (const auto& b :
       {versionFailure(kBandPass, 1), versionFailure(kGaborReject, 1), versionFailure(imageFilter(), 1)})
    EXPECT_EQ(b, base);
  const std::pair<std::string, int> nested("(null)", 0);
  EXPECT_EQ(versionFailure(kBandPass, kBandSize), nested);
  EXPECT_EQ(versionFailure(kGabor, kGaborSigma), nested);
  const Bytes band = vftest::recordOf(kBandPass);
  EXPECT_EQ(versionFailure(kBandPass, countOffset(band, kBandPass.supportWidth() * 32) - 1), nested);
}

// A short count leaves the missing coefficients 0; a long one keeps the first
// supportWidth * supportHeight values.
TEST(FilterPersistence, LoadedCountShorterOrLongerThanTheSupports) {
  const Open<vcFrequencyFilterBandPass> stored(kBandPass);
  const long n = stored.supportWidth() * 32;
  const Bytes bytes = vftest::recordOf(kBandPass);
  Bytes shorter(bytes.begin(), bytes.end() - 20), longer = bytes;
  poke(shorter, countOffset(bytes, n), static_cast<unsigned long>(n - 5));
  poke(longer, countOffset(bytes, n), static_cast<unsigned long>(n + 3));
  longer.resize(longer.size() + 12, 0x40);
  Open<vcFrequencyFilterBandPass> a, b;
  vftest::loadInto(a, shorter);
  vftest::loadInto(b, longer);
  for (long i = 0; i < n; ++i) {
    EXPECT_EQ(a.coefficients()[i], i < n - 5 ? stored.coefficients()[i] : 0.0f) << i;
    EXPECT_EQ(b.coefficients()[i], stored.coefficients()[i]) << i;
  }
  EXPECT_TRUE(static_cast<const vcFrequencyFilterBandPass&>(b) == kBandPass);
  EXPECT_FALSE(static_cast<const vcFrequencyFilterBandPass&>(a) == kBandPass);  // same parameters, other profile
}

TEST(FilterPersistence, RegistrationOrder) {
  const std::vector<std::string> expected = {
      "vcFrequencyDefs::InvalidArgument", "vcFrequencyDefs::Uninitialized", "vcFrequencyDefs::InvalidSize",
      "vcFrequencyDefs::UnboundWindow",   "vcFrequencyDefs::InvalidBuffer", "vcFrequencyDefs::BadCoord",
      "vcFrequencyFilterGabor",           "vcFrequencyFilterGaborReject",   "vcFrequencyFilterBandPass",
      "vcFrequencyFilterBandReject",      "vcFrequencyFilterImage"};
  const std::vector<std::string> names = vc_Instantiator::registeredNames();
  const auto first = std::find(names.begin(), names.end(), expected[0]);
  ASSERT_GE(names.end() - first, static_cast<long>(expected.size()));
  EXPECT_EQ(std::vector<std::string>(first, first + static_cast<long>(expected.size())), expected);
}

// Supports that cannot be right are refused before anything is allocated for them,
// also where sw * sh wraps around 2^64 to a small product; so is a count beyond the
// bytes left.
TEST(FilterPersistence, MalformedRecordsAreRefused) {
  const long kMax = std::numeric_limits<long>::max();
  const struct {
    bool gabor;
    long sw, sh;
  } supports[] = {{false, 0, 32}, {false, 23, -1}, {false, 32769, 16385},          {false, (1L << 62) + 1, 4},
                  {true, 12, 9},  {true, 11, 0},   {true, 3, 0x5555555555555557L}, {true, kMax, kMax}};
  for (const auto& c : supports) {
    SCOPED_TRACE(testing::Message() << c.sw << " x " << c.sh);
    Bytes bytes = c.gabor ? vftest::recordOf(kGabor) : vftest::recordOf(kBandPass);
    poke(bytes, kSupportWidth, c.sw);
    poke(bytes, kSupportHeight, c.sh);
    Open<vcFrequencyFilterBandPass> band;
    Open<vcFrequencyFilterGabor> gabor;
    EXPECT_THROW(c.gabor ? vftest::loadInto(gabor, bytes) : vftest::loadInto(band, bytes), vcException);
  }
  Bytes huge = vftest::recordOf(kBandPass);
  poke(huge, countOffset(huge, kBandPass.supportWidth() * 32), 1UL << 40);
  Open<vcFrequencyFilterBandPass> band;
  EXPECT_THROW(vftest::loadInto(band, huge), vcException);
  // A record may name at most 4096 coefficients more than it carries (loaded
  // as zeros): 128 more profile pixels of 32 samples load, 129 do not.
  for (const long extra : {128L, 129L}) {
    Bytes longer = vftest::recordOf(kBandPass);
    poke(longer, kSupportWidth, kBandPass.supportWidth() + extra);
    Open<vcFrequencyFilterBandPass> loaded;
    if (extra == 128) {
      vftest::loadInto(loaded, longer);
      EXPECT_EQ(loaded.coefficients()[(kBandPass.supportWidth() + extra) * 32 - 1], 0.0f);
    } else {
      EXPECT_THROW(vftest::loadInto(loaded, longer), vcArchive::BadData);
    }
  }
}

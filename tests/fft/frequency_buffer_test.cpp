// The frequency buffer: sizing, coordinates, point access, cropping,
// assignment, comparison and the two-image constructor.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/buffer_helpers.h"
#include "support/error_matchers.h"
#include "vexsys/attention.h"

namespace {
using Defs = vcFrequencyDefs;
constexpr const char* kUninit = "FrequencyBuffer has not been initialized";
constexpr const char* kInverse = "Cannot access frequency data once inverse has been computed.";
constexpr const char* kBadCoord = "Coordinates are out of bounds";
}  // namespace

TEST(FrequencyBuffer, SizesPadToPowersOfTwo) {
  struct Case {
    long w, h, pw, ph;
  };
  for (Case c : {Case{100, 60, 128, 64}, Case{1, 1, 1, 1}, Case{0, 0, 1, 1}, Case{-5, 3, 1, 4}, Case{2048, 2048, 2048, 2048},
                 Case{1025, 2, 2048, 2}}) {
    vcFrequencyBuffer b(c.w, c.h);
    EXPECT_EQ(b.width(), c.pw);
    EXPECT_EQ(b.height(), c.ph);
    EXPECT_EQ(b.imageWidth(), c.w);
    EXPECT_EQ(b.imageHeight(), c.h);
    for (long y = 0; y < b.height(); y += 7)
      for (long x = 0; x < b.width(); x += 5) EXPECT_EQ(b.get(x, y, false), vcPair<double>(0, 0));
  }
  EXPECT_VF_ERROR(vcFrequencyBuffer(2049, 10), Defs::InvalidSize, "Width and Height must be no larger than 2048.");
  EXPECT_VF_ERROR(vcFrequencyBuffer(10, 2049), Defs::InvalidSize, "Width and Height must be no larger than 2048.");
}

TEST(FrequencyBuffer, StoredAndCenteredCoordinates) {
  vcFrequencyBuffer b = vftest::indexedBuffer(128, 64);
  EXPECT_EQ(b.get(-64, -32, true), b.get(64, 32, false));
  EXPECT_EQ(b.get(-1, 5, true), b.get(127, 5, false));
  EXPECT_EQ(b.get(63, 31, true), b.get(63, 31, false));
  EXPECT_EQ(b.getReal(127, 63, false), 127 + 1000.0 * 63);
  for (auto [x, y, centered] : {std::tuple{64L, 0L, true}, {0L, 32L, true}, {-65L, 0L, true}, {0L, -33L, true},
                                {128L, 0L, false}, {0L, 64L, false}, {-1L, 0L, false}}) {
    SCOPED_TRACE(testing::Message() << x << "," << y << " centered=" << centered);
    EXPECT_VF_ERROR(b.get(x, y, centered), Defs::BadCoord, kBadCoord);
    EXPECT_VF_ERROR(b.putReal(x, y, 1.0, centered), Defs::BadCoord, kBadCoord);
  }
  // A size-1 dimension has only the zero frequency in both conventions.
  vcFrequencyBuffer one(1, 4);
  EXPECT_NO_THROW(one.get(0, -2, true));
  EXPECT_VF_ERROR(one.get(-1, 0, true), Defs::BadCoord, kBadCoord);
  EXPECT_VF_ERROR(one.get(1, 0, true), Defs::BadCoord, kBadCoord);
}

TEST(FrequencyBuffer, PointWritesRoundToFloatAndTouchOnePart) {
  vcFrequencyBuffer b(8, 8);
  b.put(1, 2, vcPair<double>(3.0, 4.0), false);
  b.putReal(1, 2, 0.1, false);
  EXPECT_EQ(b.getReal(1, 2, false), static_cast<double>(0.1f));
  EXPECT_EQ(b.getImaginary(1, 2, false), 4.0);
  b.putImaginary(1, 2, -1e-3, true);
  EXPECT_EQ(b.get(1, 2, false), vcPair<double>(0.1f, -1e-3f));
  b.putReal(0, 0, 1e300, false);  // beyond float: rounds to infinity like any float store
  EXPECT_TRUE(std::isinf(b.getReal(0, 0, false)));
}

TEST(FrequencyBuffer, AccessChecksComeInOrder) {
  vcFrequencyBuffer empty;
  vcFrequencyBuffer inverse = vftest::inverseComputedBuffer(8, 8);
  ASSERT_TRUE(inverse.inverseComputed());
  // Empty before inverse before coordinates, for every accessor.
  EXPECT_VF_ERROR(empty.get(99, 99, false), Defs::Uninitialized, kUninit);
  EXPECT_VF_ERROR(empty.getReal(0, 0, true), Defs::Uninitialized, kUninit);
  EXPECT_VF_ERROR(empty.getImaginary(0, 0, true), Defs::Uninitialized, kUninit);
  EXPECT_VF_ERROR(empty.put(0, 0, vcPair<double>(), true), Defs::Uninitialized, kUninit);
  EXPECT_VF_ERROR(empty.putReal(0, 0, 1, true), Defs::Uninitialized, kUninit);
  EXPECT_VF_ERROR(empty.putImaginary(0, 0, 1, true), Defs::Uninitialized, kUninit);
  EXPECT_VF_ERROR((void)empty.width(), Defs::Uninitialized, kUninit);
  EXPECT_VF_ERROR((void)empty.height(), Defs::Uninitialized, kUninit);
  EXPECT_VF_ERROR(inverse.get(99, 99, false), Defs::InvalidBuffer, kInverse);
  EXPECT_VF_ERROR(inverse.getReal(0, 0, false), Defs::InvalidBuffer, kInverse);
  EXPECT_VF_ERROR(inverse.putImaginary(0, 0, 1, false), Defs::InvalidBuffer, kInverse);
  EXPECT_EQ(inverse.width(), 8);  // sizes stay readable
}

TEST(FrequencyBuffer, CroppingKeepsTheLowFrequencies) {
  vcPelBuffer<double> re(200, 180), im(200, 180);
  vcFrequencyBuffer source(re, im);
  for (long y = 0; y < 256; ++y)
    for (long x = 0; x < 256; ++x) source.put(x, y, vcPair<double>(x, y), false);
  source.putReal(3, 4, std::numeric_limits<double>::quiet_NaN(), false);  // copied, not compared

  vcFrequencyBuffer crop(source, 64, 32);
  EXPECT_EQ(crop.width(), 64);
  EXPECT_EQ(crop.height(), 32);
  EXPECT_EQ(crop.imageWidth(), 50);
  EXPECT_EQ(crop.imageHeight(), 22);
  EXPECT_EQ(crop.get(40, 20, false), source.get(232, 244, false));
  // Every centered frequency of the crop is the same frequency of the source.
  for (long y = -16; y < 16; ++y)
    for (long x = -32; x < 32; ++x)
      if (x != 3 || y != 4) {
        ASSERT_EQ(crop.get(x, y, true), source.get(x, y, true)) << x << "," << y;
      }
  EXPECT_TRUE(std::isnan(crop.getReal(3, 4, false)));
  // The client transform picks up the scale of the coarser sampling.
  const vcMatrix<2> m = crop.xforms().linearXform().xform().matrix();
  EXPECT_EQ(m, vcMatrix<2>::fromElements(0.25, 0.0, 0.0, 0.125));

  // A copy of a crop (image size at most half the padded size) equals it.
  vcFrequencyBuffer small(crop, 16, 8);
  EXPECT_EQ(small.imageWidth(), 12);
  EXPECT_EQ(vcFrequencyBuffer(small), small);
  source.putReal(3, 4, 0.0, false);
  vcFrequencyBuffer cleanCrop(source, 64, 32), cleanCopy(cleanCrop);
  EXPECT_EQ(cleanCopy, cleanCrop);
  EXPECT_EQ(cleanCopy.imageWidth(), 50);
}

TEST(FrequencyBuffer, CroppingChecksInOrder) {
  vcFrequencyBuffer source(128, 64), empty;
  EXPECT_VF_ERROR(vcFrequencyBuffer(empty, 1, 1), Defs::InvalidSize, "Copied width must be > 1");
  EXPECT_VF_ERROR(vcFrequencyBuffer(empty, 4, 0), Defs::InvalidSize, "Copied height must be > 1");
  EXPECT_VF_ERROR(vcFrequencyBuffer(empty, 4, 4), Defs::Uninitialized, kUninit);
  EXPECT_VF_ERROR(vcFrequencyBuffer(source, 256, 3), Defs::InvalidSize, "Copied width cannot be greater than source width");
  EXPECT_VF_ERROR(vcFrequencyBuffer(source, 96, 128), Defs::InvalidSize, "Copied height cannot be greater than source height");
  EXPECT_VF_ERROR(vcFrequencyBuffer(source, 96, 3), Defs::InvalidSize, "Unsupported width");
  EXPECT_VF_ERROR(vcFrequencyBuffer(source, 64, 3), Defs::InvalidSize, "Unsupported height");
  // An inverse-computed source crops into an inverse-computed buffer.
  EXPECT_TRUE(vcFrequencyBuffer(vftest::inverseComputedBuffer(8, 8), 4, 4).inverseComputed());
}

TEST(FrequencyBuffer, AssignmentAndEquality) {
  vcFrequencyBuffer a = vftest::indexedBuffer(16, 8);
  vcFrequencyBuffer b(4, 4);
  b = a;
  EXPECT_EQ(b, a);
  EXPECT_EQ(b.width(), 16);
  vcFrequencyBuffer& alias = b;
  b = alias;  // self-assignment does nothing
  EXPECT_EQ(b, a);

  // Only the transform differs: equal.
  vcFrequencyBuffer c = vftest::indexedBuffer(16, 8);
  EXPECT_EQ(c, a);
  vcFrequencyBuffer crop(a, 8, 4), cropOfC(c, 8, 4);
  EXPECT_EQ(crop, cropOfC);

  // One float, the sign of zero, NaN.
  c.putImaginary(15, 7, 0.25, false);
  EXPECT_NE(c, a);
  vcFrequencyBuffer z1(2, 2), z2(2, 2);
  z2.putReal(1, 1, -0.0, false);
  EXPECT_EQ(z1, z2);
  z1.putReal(0, 0, std::nan(""), false);
  EXPECT_NE(z1, vcFrequencyBuffer(z1));

  // Empty buffers: equal to each other, not to a filled one; assigning one
  // empties the target but keeps its other fields.
  vcFrequencyBuffer e1, e2;
  EXPECT_EQ(e1, e2);
  EXPECT_NE(e1, a);
  vcFrequencyBuffer target(100, 60);
  target = e1;
  EXPECT_TRUE(target.isEmpty());
  EXPECT_EQ(target.imageWidth(), 100);
  EXPECT_EQ(target, e2);

  // Image sizes take part.
  EXPECT_NE(vcFrequencyBuffer(100, 60), vcFrequencyBuffer(128, 64));

  // Moves leave the source empty.
  vcFrequencyBuffer moved(std::move(c));
  EXPECT_TRUE(c.isEmpty());
  EXPECT_EQ(moved.getImaginary(15, 7, false), 0.25);
}

TEST(FrequencyBuffer, BandTakesPartOnlyWhileMasked) {
  vcFrequencyBuffer a(8, 8);
  std::vector<unsigned char> bytes = vftest::store(a);
  auto withBand = [&](long masked, long miny, long maxy) {
    std::vector<unsigned char> r = bytes;
    for (int i = 0; i < 8; ++i) {
      r[1 + 4 * 8 + i] = static_cast<unsigned char>(static_cast<unsigned long>(masked) >> (8 * i));
      r[1 + 5 * 8 + i] = static_cast<unsigned char>(static_cast<unsigned long>(miny) >> (8 * i));
      r[1 + 6 * 8 + i] = static_cast<unsigned char>(static_cast<unsigned long>(maxy) >> (8 * i));
    }
    return vftest::load(r);
  };
  EXPECT_EQ(withBand(0, 1, 2), withBand(0, 3, 4));
  EXPECT_NE(withBand(1, 1, 2), withBand(1, 3, 4));
  EXPECT_NE(withBand(1, 1, 2), withBand(0, 1, 2));
  vcFrequencyBuffer copy;
  copy = withBand(1, 2, 5);
  EXPECT_EQ(copy.masked(), 1);
  EXPECT_EQ(copy.maskedMiny(), 2);
  EXPECT_EQ(copy.maskedMaxy(), 5);
}

TEST(FrequencyBuffer, FromImagePair) {
  // A window of a larger image: the row stride differs from the width.
  vcPelBuffer<double> bigRe(40, 20), bigIm(40, 20);
  for (long y = 0; y < 20; ++y)
    for (long x = 0; x < 40; ++x) {
      bigRe.set(x, y, 0.1 * x + y);
      bigIm.set(x, y, -0.7 * y + x);
    }
  vcPelBuffer<double> re(bigRe, 3, 2, 5, 3), im(bigIm, 3, 2, 5, 3);
  ASSERT_NE(re.rep().rowStride(), re.width());
  vcFrequencyBuffer b(re, im);
  EXPECT_EQ(b.width(), 8);
  EXPECT_EQ(b.height(), 4);
  EXPECT_EQ(b.offset(), vcPair<long>(3, 2));
  for (long y = 0; y < 4; ++y)
    for (long x = 0; x < 8; ++x) {
      const vcPair<double> expected = x < 5 && y < 3 ? vcPair<double>(static_cast<float>(re.get(x, y)),
                                                                       static_cast<float>(im.get(x, y)))
                                                     : vcPair<double>(0, 0);
      EXPECT_EQ(b.get(x, y, false), expected) << x << "," << y;
    }

  vcPelBuffer<double> unbound, other(5, 3), moved(5, 3), wide(6, 3);
  moved.offset(3, 1);
  EXPECT_VF_ERROR(vcFrequencyBuffer(unbound, unbound), Defs::UnboundWindow, nullptr);
  EXPECT_VF_ERROR(vcFrequencyBuffer(other, unbound), Defs::UnboundWindow, nullptr);
  const char* differ = "Real and Imaginary PelBuffers must have the same dimensions and offset.";
  EXPECT_VF_ERROR(vcFrequencyBuffer(other, wide), Defs::InvalidSize, differ);
  EXPECT_VF_ERROR(vcFrequencyBuffer(other, moved), Defs::InvalidSize, differ);
  vcPelBuffer<double> huge(2049, 1);
  EXPECT_VF_ERROR(vcFrequencyBuffer(huge, huge), Defs::InvalidSize, "Width and Height must be no larger than 2048.");

  // The zero padding polls the attention check once.
  const long before = vsys_attention_polls();
  vcFrequencyBuffer polled(other, other);
  EXPECT_EQ(vsys_attention_polls() - before, 1);
  vsys_fail_poll_after(1, VSYS_ABORTED);
  EXPECT_THROW(vcFrequencyBuffer(other, other), vcAbortRequested);
}

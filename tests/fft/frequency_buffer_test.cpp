// The frequency buffer: sizing, coordinates, point access, cropping, assignment,
// comparison and the two-image constructor. (Refusals: reliability/bad_input_test.)

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "support/buffer_helpers.h"

namespace {
using Defs = vcFrequencyDefs;
}  // namespace

TEST(FrequencyBuffer, SizesPadToPowersOfTwo) {
  for (auto [w, h, pw, ph] : {std::tuple{100L, 60L, 128L, 64L},
                              {1L, 1L, 1L, 1L},
                              {0L, 0L, 1L, 1L},
                              {-5L, 3L, 1L, 4L},
                              {2048L, 2048L, 2048L, 2048L},
                              {1025L, 2L, 2048L, 2L}}) {
    vcFrequencyBuffer b(w, h);
    EXPECT_EQ(std::tuple(b.width(), b.height(), b.imageWidth(), b.imageHeight()), std::tuple(pw, ph, w, h));
    for (long y = 0; y < b.height(); y += 7)
      for (long x = 0; x < b.width(); x += 5) EXPECT_EQ(b.get(x, y, false), vcPair<double>(0, 0));
  }
}

TEST(FrequencyBuffer, StoredAndCenteredCoordinates) {
  vcFrequencyBuffer b = vftest::indexedBuffer(128, 64);
  EXPECT_EQ(b.get(-64, -32, true), b.get(64, 32, false));
  EXPECT_EQ(b.get(-1, 5, true), b.get(127, 5, false));
  EXPECT_EQ(b.get(63, 31, true), b.get(63, 31, false));
  EXPECT_EQ(b.getReal(127, 63, false), 127 + 1000.0 * 63);
  for (auto [x, y, centered] : {std::tuple{64L, 0L, true},
                                {0L, 32L, true},
                                {-65L, 0L, true},
                                {0L, -33L, true},
                                {128L, 0L, false},
                                {0L, 64L, false},
                                {-1L, 0L, false}}) {
    SCOPED_TRACE(testing::Message() << x << "," << y << " centered=" << centered);
    EXPECT_THROW(b.get(x, y, centered), Defs::BadCoord);
    EXPECT_THROW(b.putReal(x, y, 1.0, centered), Defs::BadCoord);
  }
  // A size-1 dimension has only the zero frequency in both conventions.
  vcFrequencyBuffer one(1, 4);
  EXPECT_NO_THROW(one.get(0, -2, true));
  EXPECT_THROW(one.get(-1, 0, true), Defs::BadCoord);
  EXPECT_THROW(one.get(1, 0, true), Defs::BadCoord);
}

TEST(FrequencyBuffer, CroppingKeepsTheLowFrequencies) {
  vcPelBuffer<double> re(200, 180), im(200, 180);
  vcFrequencyBuffer source(re, im);
  for (long y = 0; y < 256; ++y)
    for (long x = 0; x < 256; ++x) source.put(x, y, vcPair<double>(x, y), false);
  source.putReal(3, 4, std::numeric_limits<double>::quiet_NaN(), false);  // copied, not compared

  vcFrequencyBuffer crop(source, 64, 32);
  EXPECT_EQ(std::tuple(crop.width(), crop.height(), crop.imageWidth(), crop.imageHeight()), std::tuple(64, 32, 50, 22));
  EXPECT_EQ(crop.get(40, 20, false), source.get(232, 244, false));
  // Every centered frequency of the crop is the same frequency of the source.
  for (long y = -16; y < 16; ++y)
    for (long x = -32; x < 32; ++x)
      ASSERT_TRUE((x == 3 && y == 4) || crop.get(x, y, true) == source.get(x, y, true)) << x << "," << y;
  EXPECT_TRUE(std::isnan(crop.getReal(3, 4, false)));
  // The client transform picks up the scale of the coarser sampling.
  EXPECT_EQ(crop.xforms().linearXform().xform().matrix(), vcMatrix<2>::fromElements(0.25, 0.0, 0.0, 0.125));

  // A copy of a crop (image size at most half the padded size) equals it.
  vcFrequencyBuffer small(crop, 16, 8);
  EXPECT_EQ(small.imageWidth(), 12);
  EXPECT_EQ(vcFrequencyBuffer(small), small);
  // An inverse-computed source crops into an inverse-computed buffer.
  EXPECT_TRUE(vcFrequencyBuffer(vftest::inverseComputedBuffer(8, 8), 4, 4).inverseComputed());
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
  EXPECT_EQ(std::tuple(b.width(), b.height(), b.offset()), std::tuple(8, 4, vcPair<long>(3, 2)));
  for (long y = 0; y < 4; ++y)
    for (long x = 0; x < 8; ++x) {
      const bool inside = x < 5 && y < 3;
      EXPECT_EQ(b.get(x, y, false),
                inside ? vcPair<double>(static_cast<float>(re.get(x, y)), static_cast<float>(im.get(x, y)))
                       : vcPair<double>(0, 0))
          << x << "," << y;
    }
}

// Edge modes: index mapping against numpy.pad, regions and padding against an
// index-level oracle, for every pixel type.

#include "filt/vision/edges.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <vector>

#include "support/images.h"
#include "vision/edge_oracle.h"

namespace {

constexpr vcEdgeMode kModes[] = {vcEdgeMode::eZero, vcEdgeMode::ePeriodic, vcEdgeMode::eReflect, vcEdgeMode::eNearest};

// numpy.pad(np.arange(1, n + 1), (9, 9), mode) for 'constant', 'wrap',
// 'symmetric', 'edge' (printed by numpy 1.24); 0 stands for "outside".
struct PadCase {
  long n;
  vcEdgeMode mode;
  std::vector<long> values;
};
const PadCase kNumpy[] = {
    {1, vcEdgeMode::eZero, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {1, vcEdgeMode::eReflect, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    {2, vcEdgeMode::ePeriodic, {2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1}},
    {2, vcEdgeMode::eReflect, {1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2}},
    {3, vcEdgeMode::eZero, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    {3, vcEdgeMode::ePeriodic, {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}},
    {3, vcEdgeMode::eReflect, {3, 2, 1, 1, 2, 3, 3, 2, 1, 1, 2, 3, 3, 2, 1, 1, 2, 3, 3, 2, 1}},
    {3, vcEdgeMode::eNearest, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}},
    {4, vcEdgeMode::ePeriodic, {4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1}},
    {4, vcEdgeMode::eReflect, {1, 1, 2, 3, 4, 4, 3, 2, 1, 1, 2, 3, 4, 4, 3, 2, 1, 1, 2, 3, 4, 4}},
    {4, vcEdgeMode::eNearest, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}},
};

TEST(EdgeIndex, MatchesNumpyPadAndTheTestOracle) {
  for (const PadCase& c : kNumpy)
    for (std::size_t k = 0; k < c.values.size(); ++k) {
      const long i = static_cast<long>(k) - 9;
      EXPECT_EQ(vfEdgeIndex(i, c.n, c.mode) + 1, c.values[k]) << "n " << c.n << " i " << i;
      EXPECT_EQ(vftest::edgeIndex(i, c.n, c.mode) + 1, c.values[k]) << "oracle, n " << c.n << " i " << i;
    }
  // Far coordinates and long-sized axes map without overflow.
  for (vcEdgeMode mode : kModes)
    for (long n : {1L, 5L, 1000003L, LONG_MAX / 2 + 7})
      for (long i : {LONG_MIN, LONG_MIN + 1, -n, n, LONG_MAX - 1, LONG_MAX}) {
        const long j = vfEdgeIndex(i, n, mode);
        EXPECT_TRUE(mode == vcEdgeMode::eZero ? j == -1 : (j >= 0 && j < n)) << i << " " << n;
      }
  EXPECT_EQ(vfEdgeIndex(LONG_MIN, 5, vcEdgeMode::ePeriodic), ((LONG_MIN % 5) + 5) % 5);
  EXPECT_THROW(vfEdgeIndex(0, 0, vcEdgeMode::eZero), std::invalid_argument);
  EXPECT_THROW(vfEdgeIndex(3, 2, static_cast<vcEdgeMode>(9)), std::invalid_argument);
}

template <class T>
void checkRegions() {
  const vcPelBuffer<T> source = vftest::randomImage<T>(7, 5, 200, 3);
  // Rectangles inside, straddling every border, and wholly outside (beyond
  // one period of the reflection too).
  const long corners[][2] = {{0, 0}, {2, 1}, {-3, -2}, {4, 3}, {-20, 9}, {11, -13}, {-1, -1}};
  for (vcEdgeMode mode : kModes)
    for (const auto& c : corners) {
      vcPelBuffer<T> region(16, 12);
      region.offset(5, -2);  // kept, and not consulted
      vfEdgeRegion<T>(source, c[0], c[1], region, mode);
      EXPECT_EQ(region.offset(), vcPair<long>(5, -2));
      for (long y = 0; y < 12; ++y)
        for (long x = 0; x < 16; ++x)
          ASSERT_EQ(region.get(x, y), vftest::extendedPixel<T>(source, c[0] + x, c[1] + y, mode))
              << "mode " << static_cast<int>(mode) << " corner " << c[0] << "," << c[1] << " at " << x << "," << y;
    }
}

TEST(EdgeRegion, EveryModeAndPixelTypeMatchesTheIndexOracle) {
  checkRegions<unsigned char>();
  checkRegions<unsigned short>();
  checkRegions<double>();
}

TEST(EdgePad, PadsAroundTheSourceKeepingPositions) {
  vcPelBuffer<unsigned short> source = vftest::randomImage<unsigned short>(4, 3, 60000, 5);
  source.offset(10, 20);
  for (vcEdgeMode mode : kModes) {
    const vcPelBuffer<unsigned short> padded = vfEdgePad<unsigned short>(source, 9, 1, 2, 7, mode);
    ASSERT_EQ(padded.width(), 15);
    ASSERT_EQ(padded.height(), 11);
    EXPECT_EQ(padded.offset(), vcPair<long>(1, 19));
    for (long y = 0; y < 11; ++y)
      for (long x = 0; x < 15; ++x)
        ASSERT_EQ(padded.get(x, y), vftest::extendedPixel<unsigned short>(source, x - 9, y - 1, mode));
  }
  EXPECT_THROW(vfEdgePad<unsigned short>(source, -1, 0, 0, 0, vcEdgeMode::eZero), std::invalid_argument);
  EXPECT_THROW(vfEdgePad<unsigned short>(source, kEdgeMaxSide, 0, 0, 0, vcEdgeMode::eZero), std::length_error);
  EXPECT_THROW(vfEdgePad<unsigned short>(source, 0, LONG_MAX, 0, LONG_MAX, vcEdgeMode::eZero), std::length_error);
  EXPECT_THROW(vfEdgePad<unsigned short>(vcPelBuffer<unsigned short>(), 1, 1, 1, 1, vcEdgeMode::eZero),
               vcFrequencyDefs::UnboundWindow);
}

}  // namespace

// The engine against the plain reference of its algorithm: identical bits.
#include "fft/engine/engine.h"
#include "support/engine_arrays.h"
#include "support/reference_fft.h"

#include <climits>
#include <utility>

using engine_test::sameBits;
using engine_test::Size;
using engine_test::testArray;

namespace {

struct EngineRun
{
    long w, h;
    int direction; // 0: the real-input routine
    long bandMin, bandMax;
};

// Runs the engine and the reference on the same input; rows outside a band hold data,
// so the result also pins down exactly which rows and transpose tiles the band skips.
::testing::AssertionResult matchesReference(const EngineRun& r, bool sparse, long refMin, long refMax)
{
    std::vector<float> lib = testArray(r.w, r.h, static_cast<std::uint32_t>(r.w + 31 * r.h), sparse);
    std::vector<float> ref = lib;
    if (r.direction == 0) {
        vf_RealFFT2D(lib.data(), r.w, r.h);
        reference::realFFT2D(ref.data(), r.w, r.h);
    } else {
        vf_ComplexFFT2D(lib.data(), r.w, r.h, r.direction, r.bandMin, r.bandMax);
        reference::complexFFT2D(ref.data(), r.w, r.h, r.direction, refMin, refMax);
    }
    return sameBits(lib, ref) << " in " << r.w << "x" << r.h << " direction " << r.direction
                              << " band " << r.bandMin << ".." << r.bandMax;
}

::testing::AssertionResult matchesReference(const EngineRun& r, bool sparse = false)
{
    return matchesReference(r, sparse, r.bandMin, r.bandMax);
}

using EngineBits = ::testing::TestWithParam<Size>;

TEST_P(EngineBits, EveryRoutineDirectionAndBand)
{
    const auto [w, h] = GetParam();
    for (bool sparse : {false, true}) {
        EXPECT_TRUE(matchesReference({w, h, 0, 0, 0}, sparse));
        for (int direction : {+1, -1}) {
            for (const auto& band : {std::pair{0L, h}, {h / 4, h / 2 + 1}, {h / 2 + 3, h - 2}}) {
                EXPECT_TRUE(matchesReference({w, h, direction, band.first, band.second}, sparse));
            }
        }
    }
}

std::vector<Size> powerOfTwoPairs(long maxSide)
{
    std::vector<Size> sizes;
    for (long w = 1; w <= maxSide; w *= 2) {
        for (long h = 1; h <= maxSide; h *= 2) sizes.push_back({w, h});
    }
    return sizes;
}

INSTANTIATE_TEST_SUITE_P(UpTo256, EngineBits, ::testing::ValuesIn(powerOfTwoPairs(256)));

TEST(EngineBitsLarge, SampleOfLargeSizes)
{
    for (const EngineRun& r : {EngineRun{2048, 2048, -1, 700, 1400}, {2048, 512, +1, 0, 512}, {512, 2048, -1, 0, 2048},
                         {1024, 1024, 0, 0, 0}, {2048, 512, 0, 0, 0}}) {
        EXPECT_TRUE(matchesReference(r));
    }
}

// Band limits of any long value mean what their clamped values mean.
TEST(EngineBand, ExtremeLimitsActLikeTheirClampedValues)
{
    EXPECT_TRUE(matchesReference({32, 32, +1, LONG_MIN, LONG_MAX}, false, -1, 33));
    EXPECT_TRUE(matchesReference({32, 32, +1, LONG_MAX, LONG_MIN}, false, 33, -1));
    EXPECT_TRUE(matchesReference({32, 32, -1, LONG_MAX, LONG_MAX}, false, 33, 33));
    EXPECT_TRUE(matchesReference({32, 32, -1, LONG_MIN, LONG_MIN}, false, -1, -1));
    EXPECT_TRUE(matchesReference({16, 64, -1, LONG_MIN, 20}, false, -1, 20));
    EXPECT_TRUE(matchesReference({64, 16, -1, 5, LONG_MAX}, false, 5, 17));
}

// Zero rows outside a band give the unbanded result.
TEST(EngineBand, ZeroRowsOutsideTheBandChangeNothing)
{
    for (const Size s : {Size{16, 16}, Size{64, 8}, Size{8, 32}, Size{4, 4}, Size{32, 64}}) {
        const long lo = s.h / 2 - 2, hi = s.h / 2 + 1;
        std::vector<float> banded = testArray(s.w, s.h, 5);
        for (long y = 0; y < s.h; ++y) {
            const long c = (y + s.h / 2) % s.h;
            if (c < lo || c > hi) std::fill_n(banded.begin() + 2 * s.w * y, 2 * s.w, 0.0f);
        }
        std::vector<float> whole = banded;
        vf_ComplexFFT2D(banded.data(), s.w, s.h, -1, lo, hi);
        vf_ComplexFFT2D(whole.data(), s.w, s.h, -1, 0, s.h);
        EXPECT_TRUE(sameBits(banded, whole)) << s.w << "x" << s.h;
    }
}

} // namespace

// The engine against the plain reference of its algorithm: identical bits.
#include "filt/fft/engine/engine.h"
#include "support/engine_arrays.h"
#include "support/reference_fft.h"

#include <climits>

using engine_test::randomArray;
using engine_test::realInput;
using engine_test::sameBits;
using engine_test::Size;

namespace {

std::vector<Size> powerOfTwoPairs(long maxSide)
{
    std::vector<Size> sizes;
    for (long w = 1; w <= maxSide; w *= 2) {
        for (long h = 1; h <= maxSide; h *= 2) {
            sizes.push_back({w, h});
        }
    }
    return sizes;
}

class EngineBits : public ::testing::TestWithParam<Size>
{
};

// Rows outside the band hold noise, so the result also pins down exactly which rows
// and which transpose tiles the band skips.
TEST_P(EngineBits, ComplexBothDirectionsWithAndWithoutBand)
{
    const auto [w, h] = GetParam();
    const long bands[][2] = {{0, h}, {h / 4, h / 2 + 1}, {h / 2 + 3, h - 2}};
    for (int direction : {+1, -1}) {
        for (const auto& band : bands) {
            std::vector<float> lib = randomArray(w, h, static_cast<std::uint32_t>(w * 7 + h));
            std::vector<float> ref = lib;
            vf_ComplexFFT2D(lib.data(), w, h, direction, band[0], band[1]);
            reference::complexFFT2D(ref.data(), w, h, direction, band[0], band[1]);
            EXPECT_TRUE(sameBits(lib, ref)) << "direction " << direction << " band " << band[0]
                                            << ".." << band[1];
        }
    }
}

TEST_P(EngineBits, RealInput)
{
    const auto [w, h] = GetParam();
    std::vector<float> lib = realInput(w, h, static_cast<std::uint32_t>(w + 31 * h));
    std::vector<float> ref = lib;
    vf_RealFFT2D(lib.data(), w, h);
    reference::realFFT2D(ref.data(), w, h);
    EXPECT_TRUE(sameBits(lib, ref));
}

INSTANTIATE_TEST_SUITE_P(UpTo256, EngineBits, ::testing::ValuesIn(powerOfTwoPairs(256)));

TEST(EngineBitsLarge, SampleOfLargeSizes)
{
    const struct
    {
        long w, h;
        int direction;
        long bandMin, bandMax;
        bool real;
    } cases[] = {{2048, 2048, -1, 700, 1400, false}, {2048, 512, +1, 0, 512, false},
                 {512, 2048, -1, 0, 2048, false},   {1024, 1024, +1, 0, 1024, true},
                 {2048, 512, +1, 0, 0, true}};
    for (const auto& c : cases) {
        std::vector<float> lib = realInput(c.w, c.h, 99);
        std::vector<float> ref = lib;
        if (c.real) {
            vf_RealFFT2D(lib.data(), c.w, c.h);
            reference::realFFT2D(ref.data(), c.w, c.h);
        } else {
            vf_ComplexFFT2D(lib.data(), c.w, c.h, c.direction, c.bandMin, c.bandMax);
            reference::complexFFT2D(ref.data(), c.w, c.h, c.direction, c.bandMin, c.bandMax);
        }
        EXPECT_TRUE(sameBits(lib, ref)) << c.w << "x" << c.h;
    }
}

// Zero rows outside a band give the unbanded result; band limits of any long value mean
// what their clamped values mean.
TEST(EngineBand, ZeroRowsOutsideTheBandChangeNothing)
{
    for (const Size s : {Size{16, 16}, Size{64, 8}, Size{8, 32}, Size{4, 4}, Size{32, 64}}) {
        const long lo = s.h / 2 - 2, hi = s.h / 2 + 1;
        std::vector<float> banded = randomArray(s.w, s.h, 5);
        for (long y = 0; y < s.h; ++y) {
            const long c = y < s.h / 2 ? y + s.h / 2 : y - s.h / 2;
            if (c < lo || c > hi) {
                std::fill_n(banded.begin() + 2 * s.w * y, 2 * s.w, 0.0f);
            }
        }
        std::vector<float> whole = banded;
        vf_ComplexFFT2D(banded.data(), s.w, s.h, -1, lo, hi);
        vf_ComplexFFT2D(whole.data(), s.w, s.h, -1, 0, s.h);
        EXPECT_TRUE(sameBits(banded, whole)) << s.w << "x" << s.h;
    }
}

TEST(EngineBand, ExtremeLimitsActLikeTheirClampedValues)
{
    const long h = 32;
    const long cases[][4] = {{LONG_MIN, LONG_MAX, -1, h + 1},
                             {LONG_MAX, LONG_MIN, h + 1, -1},
                             {LONG_MIN, h / 2, -1, h / 2},
                             {h / 2 - 5, LONG_MAX, h / 2 - 5, h + 1}};
    for (const auto& c : cases) {
        std::vector<float> lib = randomArray(h, h, 3);
        std::vector<float> ref = lib;
        vf_ComplexFFT2D(lib.data(), h, h, +1, c[0], c[1]);
        reference::complexFFT2D(ref.data(), h, h, +1, c[2], c[3]);
        EXPECT_TRUE(sameBits(lib, ref)) << c[0] << ".." << c[1];
    }
}

} // namespace

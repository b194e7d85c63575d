// The engine against a naive double-precision DFT, and its algebraic identities.
#include "fft/engine/engine.h"
#include "support/engine_arrays.h"

#include <cmath>
#include <complex>
#include <numbers>

using engine_test::Size;
using engine_test::testArray;

namespace {

using Spectrum = std::vector<std::complex<double>>;

Spectrum toSpectrum(const std::vector<float>& a, double scale = 1.0)
{
    Spectrum s(a.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = scale * std::complex<double>(a[2 * i], a[2 * i + 1]);
    return s;
}

// Unscaled DFT with kernel exp(sign 2 pi i (ux/w + vy/h)), each twiddle evaluated
// directly from its reduced angle.
Spectrum naiveDft(const Spectrum& a, long w, long h, int sign)
{
    Spectrum out(a.size());
    for (long v = 0; v < h; ++v)
        for (long u = 0; u < w; ++u)
            for (long y = 0; y < h; ++y)
                for (long x = 0; x < w; ++x) {
                    const double turns = double(u * x % w) / double(w) + double(v * y % h) / double(h);
                    out[v * w + u] += a[y * w + x] * std::polar(1.0, sign * 2 * std::numbers::pi * turns);
                }
    return out;
}

// Largest element error relative to the RMS magnitude of the expected values.
double relativeError(const std::vector<float>& got, const Spectrum& want)
{
    double worst = 0.0, energy = 0.0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        worst = std::max(worst, std::abs(std::complex<double>(got[2 * i], got[2 * i + 1]) - want[i]));
        energy += std::norm(want[i]);
    }
    return worst / std::sqrt(energy / double(want.size()));
}

// Each butterfly rounds to float: errors of order 2^-24 log2(n). The twiddle recurrence
// starts every stage from float table values and drifts about 2^-24 per step along a
// row, so for long rows the error grows linearly (measured: about 2^-24 n/6 at
// n = 2048). The bound allows both with a margin of 3 or more.
double tolerance(long w, long h) { return std::ldexp(16.0 + 0.5 * double(w + h), -24); }

using EngineAccuracy = ::testing::TestWithParam<Size>;

TEST_P(EngineAccuracy, BothDirectionsMatchTheDftAndInvertUpToTheArea)
{
    const auto [w, h] = GetParam();
    const std::vector<float> in = testArray(w, h, 11);
    std::vector<float> out = in;
    vf_ComplexFFT2D(out.data(), w, h, +1, 0, h);
    EXPECT_LT(relativeError(out, naiveDft(toSpectrum(in), w, h, -1)), tolerance(w, h));
    vf_ComplexFFT2D(out.data(), w, h, -1, 0, h);
    EXPECT_LT(relativeError(out, toSpectrum(in, double(w * h))), 2 * tolerance(w, h));
    out = in;
    vf_ComplexFFT2D(out.data(), w, h, -1, 0, h);
    EXPECT_LT(relativeError(out, naiveDft(toSpectrum(in), w, h, +1)), tolerance(w, h));
}

TEST_P(EngineAccuracy, RealInputMatchesComplexWithExactZeroImaginaryParts)
{
    const auto [w, h] = GetParam();
    std::vector<float> real = testArray(w, h, 13);
    std::vector<float> complex(real.size(), 0.0f);
    for (long i = 0; i < w * h; ++i) complex[2 * i] = real[2 * w * (i / w) + i % w];
    const Spectrum want = naiveDft(toSpectrum(complex), w, h, -1);
    vf_RealFFT2D(real.data(), w, h);
    vf_ComplexFFT2D(complex.data(), w, h, +1, 0, h);
    EXPECT_LT(relativeError(real, want), tolerance(w, h));
    EXPECT_LT(relativeError(complex, want), tolerance(w, h));
    EXPECT_EQ(real[1], 0.0f);
    EXPECT_EQ(real[2 * (w / 2) + 1], 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EngineAccuracy,
                         ::testing::Values(Size{1, 1}, Size{2, 1}, Size{1, 8}, Size{8, 1}, Size{2, 2}, Size{4, 4},
                                           Size{8, 8}, Size{4, 16}, Size{16, 2}, Size{32, 32}, Size{64, 8},
                                           Size{2, 64}, Size{128, 1}));

} // namespace

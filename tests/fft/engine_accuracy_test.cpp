// The engine against a naive double-precision DFT, and its algebraic identities.
#include "filt/fft/engine/engine.h"
#include "support/engine_arrays.h"

#include <cmath>
#include <complex>
#include <numbers>

using engine_test::randomArray;
using engine_test::realInput;
using engine_test::Size;

namespace {

using Spectrum = std::vector<std::complex<double>>;

Spectrum toSpectrum(const std::vector<float>& in)
{
    Spectrum a(in.size() / 2);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = {in[2 * i], in[2 * i + 1]};
    return a;
}

// Unscaled 2-D DFT with kernel exp(sign 2 pi i (...)), by rows then by columns, with
// each twiddle evaluated directly from its reduced angle.
Spectrum naiveDft(const std::vector<float>& in, long w, long h, int sign)
{
    auto dft1 = [sign](const Spectrum& x) {
        const long n = static_cast<long>(x.size());
        Spectrum y(x.size());
        for (long k = 0; k < n; ++k) {
            for (long m = 0; m < n; ++m) {
                y[k] += x[m] * std::polar(1.0, sign * 2 * std::numbers::pi * (k * m % n) / n);
            }
        }
        return y;
    };
    Spectrum a = toSpectrum(in);
    for (long y = 0; y < h; ++y) {
        const Spectrum row = dft1(Spectrum(a.begin() + y * w, a.begin() + (y + 1) * w));
        std::copy(row.begin(), row.end(), a.begin() + y * w);
    }
    for (long x = 0; x < w; ++x) {
        Spectrum col(static_cast<std::size_t>(h));
        for (long y = 0; y < h; ++y) col[y] = a[y * w + x];
        col = dft1(col);
        for (long y = 0; y < h; ++y) a[y * w + x] = col[y];
    }
    return a;
}

// Largest element error relative to the RMS magnitude of the expected values.
double relativeError(const std::vector<float>& got, const Spectrum& want, double scale = 1.0)
{
    double worst = 0.0, energy = 0.0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const std::complex<double> g(got[2 * i], got[2 * i + 1]);
        worst = std::max(worst, std::abs(g - want[i] * scale));
        energy += std::norm(want[i] * scale);
    }
    return worst / std::sqrt(energy / static_cast<double>(want.size()) + 1e-300);
}

// Single-precision rounding of each butterfly gives errors of order 2^-24 log2(n); the
// twiddle recurrence, which starts every stage from float table values, adds an error
// that grows linearly along a row, about 2^-24 per step. The bound allows both.
double tolerance(long w, long h) { return 4.0 * std::ldexp(1.0, -24) * (w + h + 8); }

class EngineAccuracy : public ::testing::TestWithParam<Size>
{
};

TEST_P(EngineAccuracy, BothDirectionsMatchTheDft)
{
    const auto [w, h] = GetParam();
    for (int direction : {+1, -1}) {
        const std::vector<float> in = randomArray(w, h, 11);
        std::vector<float> out = in;
        vf_ComplexFFT2D(out.data(), w, h, direction, 0, h);
        EXPECT_LT(relativeError(out, naiveDft(in, w, h, direction >= 0 ? -1 : +1)), tolerance(w, h));
    }
}

TEST_P(EngineAccuracy, InverseOfForwardScalesByTheArea)
{
    const auto [w, h] = GetParam();
    const std::vector<float> in = randomArray(w, h, 12);
    std::vector<float> out = in;
    vf_ComplexFFT2D(out.data(), w, h, +1, 0, h);
    vf_ComplexFFT2D(out.data(), w, h, -1, 0, h);
    EXPECT_LT(relativeError(out, toSpectrum(in), static_cast<double>(w * h)), 2 * tolerance(w, h));
}

TEST_P(EngineAccuracy, RealInputMatchesComplexWithExactZeroImaginaryParts)
{
    const auto [w, h] = GetParam();
    std::vector<float> real = realInput(w, h, 13);
    std::vector<float> complex(real.size(), 0.0f);
    for (long y = 0; y < h; ++y) {
        for (long x = 0; x < w; ++x) complex[2 * (y * w + x)] = real[2 * w * y + x];
    }
    const Spectrum want = naiveDft(complex, w, h, -1);
    vf_RealFFT2D(real.data(), w, h);
    vf_ComplexFFT2D(complex.data(), w, h, +1, 0, h);
    EXPECT_LT(relativeError(real, want), tolerance(w, h));
    EXPECT_LT(relativeError(complex, want), tolerance(w, h));
    EXPECT_EQ(real[1], 0.0f);
    EXPECT_EQ(real[2 * (w / 2) + 1], 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EngineAccuracy,
                         ::testing::Values(Size{1, 1}, Size{2, 1}, Size{1, 8}, Size{8, 1}, Size{2, 2},
                                           Size{4, 4}, Size{8, 8}, Size{4, 16}, Size{16, 2}, Size{32, 32},
                                           Size{64, 16}, Size{2, 128}, Size{256, 4}, Size{128, 128}));

} // namespace

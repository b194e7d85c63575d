// The engine against FFTW in double precision on every power-of-two size pair, and
// the identities of the transform checked without any oracle: an impulse gives a pure
// phase ramp, transforms are linear, a circular shift multiplies by a phase ramp, and
// energy is kept (Parseval). The identities are checked on the FFTW wrapper as well, so
// an engine and a wrapper that agree while sharing one mistake do not pass.
#include "fft/engine/engine.h"
#include "support/engine_arrays.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>

using engine_test::Size;
using engine_test::testArray;

namespace {

using Cvec = std::vector<std::complex<double>>;
enum class Kind { Forward, Inverse, Real }; // Real: the forward real-input routine
const char* const kKindNames[] = {"forward", "inverse", "real"};
using Transform = Cvec (*)(Kind, long, long, const Cvec&);

// Through the engine; the working half of each real-input row slot holds garbage.
Cvec engine(Kind kind, long w, long h, const Cvec& in)
{
    const bool real = kind == Kind::Real;
    std::vector<float> a(in.size() * 2, real && w > 1 ? 7.5f : 0.0f);
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (real) {
            a[2 * w * (long(i) / w) + long(i) % w] = float(in[i].real());
        } else {
            a[2 * i] = float(in[i].real()), a[2 * i + 1] = float(in[i].imag());
        }
    }
    if (real) {
        vf_RealFFT2D(a.data(), w, h);
    } else {
        vf_ComplexFFT2D(a.data(), w, h, kind == Kind::Inverse ? -1 : +1, 0, h);
    }
    Cvec out(in.size());
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = {a[2 * i], a[2 * i + 1]};
    return out;
}

// Through FFTW (double, unscaled); rows are the fast dimension, so the plan is h x w.
Cvec fftw(Kind kind, long w, long h, const Cvec& in)
{
    Cvec out = in;
    auto* p = reinterpret_cast<fftw_complex*>(out.data());
    const fftw_plan plan = fftw_plan_dft_2d(int(h), int(w), p, p, kind == Kind::Inverse ? FFTW_BACKWARD : FFTW_FORWARD,
                                            FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    return out;
}

// Exact data from the engine tests' generator, imaginary parts zero for real input.
Cvec randomInput(Kind kind, long w, long h, std::uint32_t seed)
{
    const std::vector<float> a = testArray(w, h, seed);
    Cvec in(a.size() / 2);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = {a[2 * i], kind == Kind::Real ? 0.0 : a[2 * i + 1]};
    return in;
}

double relativeRms(const Cvec& got, const Cvec& want)
{
    double err = 0.0, energy = 0.0;
    for (std::size_t i = 0; i < want.size(); ++i) err += std::norm(got[i] - want[i]), energy += std::norm(want[i]);
    return std::sqrt(err / energy);
}

double tolerance(long w, long h) { return std::max(2e-6, 6e-9 * double(std::max(w, h))); }

// exp(sign 2 pi i (u x0 / w + v y0 / h)) at (u, v), from the reduced angle.
std::complex<double> ramp(Kind kind, long w, long h, long u, long v, long x0, long y0)
{
    const double turns = double(u * x0 % w) / double(w) + double(v * y0 % h) / double(h);
    return std::polar(1.0, (kind == Kind::Inverse ? 2 : -2) * std::numbers::pi * turns);
}

// ---- Against the oracle ----------------------------------------------------------

std::vector<Size> oracleSizes()
{
#ifdef NDEBUG
    bool full = true;
#else
    bool full = false;
#endif
    if (const char* env = std::getenv("VEXFILT_ORACLE_FULL")) full = std::string(env) != "0";
    std::vector<Size> sizes;
    for (long w = 1; w <= 2048; w *= 2)
        for (long h = 1; h <= 2048; h *= 2)
            if (full) sizes.push_back({w, h});
    if (!full) // unoptimised builds: the large, degenerate and lopsided cases only
        sizes = {{2048, 2048}, {2048, 1}, {1, 2048}, {1024, 1024}, {256, 256}, {1, 1}, {2, 1}, {1, 2}, {8, 8},
                 {2048, 16}, {4, 1024}, {512, 64}, {32, 256}, {2, 2048}, {1024, 2}};
    return sizes;
}

struct Row
{
    Size size;
    double err[3];
};

class EngineOracle : public ::testing::TestWithParam<Size>
{
public:
    static std::vector<Row>& table()
    {
        static std::vector<Row> rows;
        return rows;
    }
    static void TearDownTestSuite()
    {
        std::printf("relative RMS error against FFTW (double); bound max(2e-6, 6e-9 max(w, h))\n"
                    "%11s %10s %10s %10s %10s\n", "size", "forward", "inverse", "real", "bound");
        for (const Row& r : table()) {
            const std::string size = std::to_string(r.size.w) + "x" + std::to_string(r.size.h);
            std::printf("%11s %10.3g %10.3g %10.3g %10.3g\n", size.c_str(), r.err[0], r.err[1], r.err[2],
                        tolerance(r.size.w, r.size.h));
        }
        table().clear();
        fftw_cleanup();
    }
};

TEST_P(EngineOracle, RelativeRmsErrorWithinBound)
{
    const auto [w, h] = GetParam();
    Row row{{w, h}, {}};
    for (Kind kind : {Kind::Forward, Kind::Inverse, Kind::Real}) {
        const Cvec in = randomInput(kind, w, h, std::uint32_t(3 * w + 17 * h + int(kind)));
        const double err = relativeRms(engine(kind, w, h, in), fftw(kind, w, h, in));
        row.err[int(kind)] = err;
        EXPECT_LE(err, tolerance(w, h)) << kKindNames[int(kind)];
        char text[32];
        std::snprintf(text, sizeof text, "%.3g", err);
        RecordProperty(kKindNames[int(kind)], text);
    }
    table().push_back(row);
}

INSTANTIATE_TEST_SUITE_P(PowerOfTwoPairs, EngineOracle, ::testing::ValuesIn(oracleSizes()));

// ---- Identities, on the engine and on the FFTW wrapper ------------------------------

using Identities = ::testing::TestWithParam<std::tuple<Kind, Size>>;

TEST_P(Identities, ImpulseShiftLinearityParseval)
{
    const auto [kind, size] = GetParam();
    const auto [w, h] = size;
    const long n = w * h, x0 = (w - 1) * 5 / 7, y0 = (h - 1) * 2 / 3, sx = w / 4 + 1, sy = (h * 3) / 8;
    const double tol = tolerance(w, h);
    const bool real = kind == Kind::Real;
    const std::complex<double> a = real ? 0.75 : std::complex<double>(0.75, -0.5);
    const std::complex<double> b = real ? -1.25 : std::complex<double>(-1.25, 0.375);
    const Cvec f = randomInput(kind, w, h, 101), g = randomInput(kind, w, h, 202);
    Cvec impulse(std::size_t(n)), phase(std::size_t(n)), shifted(std::size_t(n)), mixed(std::size_t(n));
    impulse[std::size_t(y0 * w + x0)] = 1.0;
    for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y * w + x);
            phase[i] = ramp(kind, w, h, x, y, x0, y0); // here (x, y) are the frequencies (u, v)
            shifted[std::size_t((y + sy) % h * w + (x + sx) % w)] = f[i];
            mixed[i] = a * f[i] + b * g[i];
        }
    for (const auto& [transform, name] : {std::pair<Transform, const char*>{engine, "engine"}, {fftw, "FFTW"}}) {
        SCOPED_TRACE(name);
        EXPECT_LE(relativeRms(transform(kind, w, h, impulse), phase), tol) << "impulse at " << x0 << "," << y0;

        const Cvec F = transform(kind, w, h, f), G = transform(kind, w, h, g);
        Cvec want(F.size());
        for (long v = 0; v < h; ++v)
            for (long u = 0; u < w; ++u) want[std::size_t(v * w + u)] = F[std::size_t(v * w + u)] * ramp(kind, w, h, u, v, sx, sy);
        EXPECT_LE(relativeRms(transform(kind, w, h, shifted), want), 2 * tol) << "shift by " << sx << "," << sy;

        for (std::size_t i = 0; i < want.size(); ++i) want[i] = a * F[i] + b * G[i];
        EXPECT_LE(relativeRms(transform(kind, w, h, mixed), want), 2 * tol) << "linearity";

        double energyIn = 0.0, energyOut = 0.0;
        for (std::size_t i = 0; i < f.size(); ++i) energyIn += std::norm(f[i]), energyOut += std::norm(F[i]);
        EXPECT_NEAR(energyOut / (double(n) * energyIn), 1.0, 2 * tol) << "Parseval";
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Identities,
                         ::testing::Combine(::testing::Values(Kind::Forward, Kind::Inverse, Kind::Real),
                                            ::testing::Values(Size{1, 1}, Size{8, 8}, Size{64, 16}, Size{1, 32},
                                                              Size{32, 1}, Size{2, 128}, Size{256, 256},
                                                              Size{128, 512})));

} // namespace

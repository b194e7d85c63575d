// The engine against a double-precision oracle (FFTW where the build has it, else our
// own direct DFT; the test names start with the oracle's) on every power-of-two size
// pair the oracle affords (a sample of them in unoptimised builds, unless
// VEXFILT_ORACLE_FULL=1).
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <string>
#include <vector>

#include "fft/engine/engine.h"
#include "support/dft_oracle.h"
#include "support/engine_arrays.h"

using engine_test::Size;
using engine_test::testArray;

namespace {

using Floats = std::vector<float>;  // interleaved complex, as the engine stores it
using oracle::Cvec;
enum class Kind { Forward, Inverse, Real };  // Real: the real-input routine, on the real parts
const char* const kKindNames[] = {"forward", "inverse", "real"};

// The engine's transform of z into out (whose storage is reused). The real-input
// routine gets the real parts of z, with garbage in the working half of each row slot.
void engine(Kind kind, long w, long h, const Floats& z, Floats& out) {
  if (kind != Kind::Real) {
    out = z;
    vf_ComplexFFT2D(out.data(), w, h, kind == Kind::Inverse ? -1 : +1, 0, h);
    return;
  }
  out.assign(z.size(), w > 1 ? 7.5f : 0.0f);
  for (long i = 0; i < w * h; ++i) out[std::size_t(2 * w * (i / w) + i % w)] = z[std::size_t(2 * i)];
  vf_RealFFT2D(out.data(), w, h);
}

// The oracle's forward transform of z in double precision, into Z.
void oracleForward(long w, long h, const Floats& z, Cvec& Z) {
  Cvec in(z.size() / 2);
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = {z[2 * i], z[2 * i + 1]};
  oracle::forward2D(w, h, in, Z);
}

// The oracle at (u, v), from Z = the forward transform of z: the unscaled inverse of z
// is Z at the negated frequencies, the transform of Re z is the Hermitian part of Z.
std::complex<double> oracle(Kind kind, const Cvec& Z, long w, long h, long u, long v) {
  const std::complex<double> plus = Z[std::size_t(v * w + u)], minus = Z[std::size_t((h - v) % h * w + (w - u) % w)];
  return kind == Kind::Forward ? plus : kind == Kind::Inverse ? minus : 0.5 * (plus + std::conj(minus));
}

// sqrt(sum |got - want|^2 / sum |want|^2) over the n values.
template <class Got, class Want>
double relativeRms(long n, Got got, Want want) {
  double err = 0.0, energy = 0.0;
  for (long i = 0; i < n; ++i) err += std::norm(got(i) - want(i)), energy += std::norm(want(i));
  return std::sqrt(err / energy);
}

double tolerance(long w, long h) {
  return std::max(2e-6, 6e-9 * double(std::max(w, h)));
}

// Random complex values in [-1, 1), generated as one row so that width 1 keeps its
// imaginary parts; imaginary parts zero when the kind is Real.
Floats randomInput(Kind kind, long w, long h, std::uint32_t salt) {
  Floats z = testArray(w * h, 1, salt);
  for (std::size_t i = 1; kind == Kind::Real && i < z.size(); i += 2) z[i] = 0.0f;
  return z;
}

// ---- Against the oracle ----------------------------------------------------------

std::vector<Size> oracleSizes() {
#ifdef NDEBUG
  bool full = true;
#else
  bool full = false;
#endif
  if (const char* env = std::getenv("VEXFILT_ORACLE_FULL")) full = std::string(env) != "0";
  std::vector<Size> sizes = engine_test::powerOfTwoPairs(2048);
  if (!full)  // unoptimised builds: the large, degenerate and lopsided cases only
    sizes = {{2048, 2048}, {2048, 1},  {1, 2048}, {1024, 1024}, {256, 256}, {1, 1},    {2, 1},   {1, 2},
             {8, 8},       {2048, 16}, {4, 1024}, {512, 64},    {32, 256},  {2, 2048}, {1024, 2}};
  std::erase_if(sizes, [](const Size& s) { return !oracle::affordable(s.w, s.h); });
  return sizes;
}

class EngineOracle : public ::testing::TestWithParam<Size> {
 public:
  static void TearDownTestSuite() { oracle::cleanup(); }
};

TEST_P(EngineOracle, RelativeRmsErrorWithinBound) {
  const long w = GetParam().w, h = GetParam().h;  // not a structured binding: the lambdas capture them
  static Floats out;                              // reused across sizes: fresh allocations of many megabytes are slow
  static Cvec Z;
  const Floats z = randomInput(Kind::Forward, w, h, std::uint32_t(3 * w + 17 * h));
  oracleForward(w, h, z, Z);
  for (Kind kind : {Kind::Forward, Kind::Inverse, Kind::Real}) {
    engine(kind, w, h, z, out);
    const double err = relativeRms(
        w * h, [&](long i) { return std::complex<double>(out[std::size_t(2 * i)], out[std::size_t(2 * i + 1)]); },
        [&](long i) { return oracle(kind, Z, w, h, i % w, i / w); });
    EXPECT_LE(err, tolerance(w, h)) << kKindNames[int(kind)];
  }
}

INSTANTIATE_TEST_SUITE_P(VEXFILT_ORACLE_NAME, EngineOracle, ::testing::ValuesIn(oracleSizes()),
                         [](const auto& i) { return std::to_string(i.param.w) + "x" + std::to_string(i.param.h); });

}  // namespace

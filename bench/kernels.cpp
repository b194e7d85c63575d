// vexfilt-bench-kernels: the library's inner routines on their own, for
// reading what bounds each case of vexfilt-bench.
//
//   engine/<kind>/<level>/<shape>  the two-dimensional engine forced to each
//                                  instruction-set level the CPU has (all give
//                                  the same bits);
//   pixels/<level>/2048x2048       the 8-bit pixel loop of the inverse;
//   memory/copy/2048x2048          memcpy of a 2048 x 2048 complex array: the
//                                  machine's floor for one read and one write
//                                  of 32 MiB;
//   arithmetic/multiply/<level>    the product loop over 2048 x 2048 elements;
//   filters                        one in-place pass over a 2048 x 2048 spectrum.
//
// Built with the benchmarks (VEXFILT_BUILD_BENCHMARKS); links the library's
// objects directly to reach the engine.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fft/engine/engine.h"
#include "filt/freqfilt.h"
#include "loops/arithmetic_kernels.h"
#include "loops/pixel_rows.h"

namespace {

constexpr const char* kLevelNames[] = {"scalar", "sse2", "avx2", "avx512"};
constexpr vc_EngineLevel kLevels[] = {vc_EngineLevel::scalar, vc_EngineLevel::sse2, vc_EngineLevel::avx2,
                                      vc_EngineLevel::avx512};

std::vector<float> noise(std::size_t count) {
  std::mt19937 generator(12345);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  std::vector<float> v(count);
  for (float& x : v) x = value(generator);
  return v;
}

// The engine transforms in place: each call starts from a fresh copy of the
// input, made outside the timed region.
void engineCase(benchmark::State& state, bool real, long width, long height, vc_EngineLevel level) {
  const std::vector<float> input = noise(2 * static_cast<std::size_t>(width * height));
  std::vector<float> work(input.size());
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work.data(), input.data(), input.size() * sizeof(float));
    state.ResumeTiming();
    if (real)
      vf_RealFFT2DAtLevel(work.data(), width, height, level);
    else
      vf_ComplexFFT2DAtLevel(work.data(), width, height, +1, 0, height, level);
    benchmark::ClobberMemory();
  }
}

void pixelCase(benchmark::State& state, vc_EngineLevel level) {
  const long n = 2048;
  const std::vector<float> input = noise(2 * static_cast<std::size_t>(n * n));
  std::vector<unsigned char> pixels(static_cast<std::size_t>(n * n));
  const vc_PixelRows rows = vf_PixelRows(level);
  for (auto _ : state) {
    for (long y = 0; y < n; ++y) rows.saturated8(input.data() + 2 * n * y, pixels.data() + n * y, n, 100.0);
    benchmark::ClobberMemory();
  }
}

void copyCase(benchmark::State& state) {
  const std::vector<float> input = noise(2 * 2048 * 2048);
  std::vector<float> output(input.size());
  for (auto _ : state) {
    std::memcpy(output.data(), input.data(), input.size() * sizeof(float));
    benchmark::ClobberMemory();
  }
}

vcFrequencyBuffer noiseSpectrum(long n) {
  vcFrequencyBuffer b(n, n);
  vcPelBuffer<double> re(n, n), im(n, n);
  const std::vector<float> v = noise(2 * static_cast<std::size_t>(n * n));
  for (long y = 0; y < n; ++y)
    for (long x = 0; x < n; ++x) {
      re.set(x, y, v[static_cast<std::size_t>(2 * (y * n + x))]);
      im.set(x, y, v[static_cast<std::size_t>(2 * (y * n + x) + 1)]);
    }
  vfForwardFFT(re, im, b);
  return b;
}

// r = a * r over a 2048 x 2048 array, r fresh for each call.
void multiplyCase(benchmark::State& state, vc_EngineLevel level) {
  const std::vector<float> a = noise(2 * 2048 * 2048), r0 = noise(a.size());
  std::vector<float> r(a.size());
  const vc_ArithmeticKernels kernels = vf_ArithmeticKernels(level);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(r.data(), r0.data(), r.size() * sizeof(float));
    state.ResumeTiming();
    kernels.multiply(a.data(), r.data(), 2048 * 2048);
    benchmark::ClobberMemory();
  }
}

void filterCase(benchmark::State& state, const vcFrequencyFilter& filter) {
  const vcFrequencyBuffer spectrum = noiseSpectrum(2048);
  vcFrequencyBuffer work;
  for (auto _ : state) {
    state.PauseTiming();
    work = spectrum;
    state.ResumeTiming();
    filter.apply(work);
    benchmark::ClobberMemory();
  }
}

template <class Fn>
void add(const std::string& name, Fn fn) {
  benchmark::RegisterBenchmark(name.c_str(), fn)->Unit(benchmark::kMillisecond);
}

void registerAll() {
  const vcFrequencyFilterGabor gabor(vcPair<double>(0.015, 0.015), vcPair<double>(0.0, 0.0), vcRadian(0.5236), 0.08,
                                     vcPair<long>(2048, 2048), 0);
  const vcFrequencyFilterBandPass bandPass(0.02, 0.01, 0.1, vcPair<long>(2048, 2048), 0);
  for (int i = 0; i < 4; ++i) {
    const vc_EngineLevel level = kLevels[i];
    if (!vf_EngineLevelSupported(level)) continue;
    const std::string name = kLevelNames[i];
    for (long n : {256L, 1024L, 2048L})
      add("engine/complex_forward/" + name + "/" + std::to_string(n) + "x" + std::to_string(n),
          [=](benchmark::State& s) { engineCase(s, false, n, n, level); });
    add("engine/real_forward/" + name + "/2048x2048",
        [=](benchmark::State& s) { engineCase(s, true, 2048, 2048, level); });
    add("pixels/" + name + "/2048x2048", [=](benchmark::State& s) { pixelCase(s, level); });
    add("arithmetic/multiply/" + name + "/2048x2048", [=](benchmark::State& s) { multiplyCase(s, level); });
  }
  add("memory/copy/2048x2048", copyCase);
  add("filters/gabor_in_place/2048x2048", [gabor](benchmark::State& s) { filterCase(s, gabor); });
  add("filters/band_pass_in_place/2048x2048", [bandPass](benchmark::State& s) { filterCase(s, bandPass); });
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

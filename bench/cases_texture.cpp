// The texture bank on a 2048^2 8-bit image, 8 orientations x 2 frequencies
// (0.08 and 0.16 cycles per pixel, 1 octave, angular bandwidth 45 degrees),
// one thread, against its parts timed alone and against OpenCV's spatial
// filtering with complex Gabor kernels of the same bandwidth:
//
//   texture/bank_energy/1          forward + 16 energies, fast path, full size
//                                  (interpolated from each filter's grid)
//   texture/bank_energy/2, /4      the same, maps every 2nd / 4th pixel (at
//                                  step 4 every filter is read off exactly)
//   texture/bank_jobs/1, /2, /4    forward + 16 energy jobs into one reused
//                                  plane (no 16-plane stack to allocate)
//   texture/bank_energy_exact      forward + 16 x (library Gabor filter + banded
//                                  inverse in place, magnitudes to float)
//   texture/forward                the forward transform alone
//   texture/banded_inverse/k       filter k's banded inverse alone (spectrum
//                                  filtered outside the loop): the sum over k
//                                  is the "16 banded inverses timed alone"
//   texture/opencv_filter2d        32 filter2D calls (even and odd
//                                  getGaborKernel per filter, CV_32F) and the
//                                  magnitudes (one magnitude image, reused:
//                                  the bank keeps all 16)
//
// Registered statically; they run with the rest of vexfilt-bench (filter
// them with --benchmark_filter=texture/). Peak memory as in memory_probe.h.

#include <benchmark/benchmark.h>
#include <filt/vision/texture.h>

#include <cmath>
#include <numbers>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "inputs.h"
#include "memory_probe.h"

namespace {

constexpr Shape kShape{2048, 2048};

const vcGaborBank& bank() {
  static const vcGaborBank b({0.08, 0.16}, 8);
  return b;
}

const vcPelBuffer<unsigned char>& image() {
  return inputsFor(kShape, 0).image;
}

template <class Run>
void loop(benchmark::State& state, Run&& run) {
  memoryBaseline();
  for (auto _ : state) run();
  reportMemory(state);
}

void bankEnergy(benchmark::State& state) {
  const long step = state.range(0);
  loop(state, [&] {
    const vcTextureStack s = bank().energy<unsigned char>(image(), step);
    benchmark::DoNotOptimize(s.values.data());
  });
}

// The bank as a host runs it filter by filter (the jobs of texture.h): one
// forward transform, then each filter's energies into the same reused
// plane, as the OpenCV case reuses its magnitude image.
void bankJobs(benchmark::State& state) {
  const long step = state.range(0);
  const long w = (kShape.width + step - 1) / step, h = (kShape.height + step - 1) / step;
  std::vector<float> plane(static_cast<std::size_t>(w * h));
  loop(state, [&] {
    const vcFrequencyBuffer spectrum = bank().spectrum<unsigned char>(image());
    for (long k = 0; k < bank().filters(); ++k) {
      bank().energy(spectrum, k, step, plane.data(), w);
      benchmark::DoNotOptimize(plane.data());
    }
  });
}

void bankEnergyExact(benchmark::State& state) {
  loop(state, [&] {
    const vcTextureStack s = bank().energyExact<unsigned char>(image());
    benchmark::DoNotOptimize(s.values.data());
  });
}

void forward(benchmark::State& state) {
  vcFrequencyBuffer spectrum;
  loop(state, [&] {
    vfForwardFFT<unsigned char>(image(), spectrum);
    benchmark::DoNotOptimize(&spectrum);
  });
}

void bandedInverse(benchmark::State& state) {
  const long k = state.range(0);
  const vcFrequencyBuffer spectrum = bank().spectrum<unsigned char>(image());
  vcFrequencyBuffer filtered;
  bank().filter(k, vcPair<long>(kShape.width, kShape.height)).apply(spectrum, filtered);
  vcPelBuffer<double> magnitude;
  loop(state, [&] {
    vfInverseFFT<double>(static_cast<const vcFrequencyBuffer&>(filtered), magnitude, false);
    benchmark::DoNotOptimize(magnitude.pointToOffset());
  });
}

// OpenCV's kernel: exp(-(x'^2 + gamma^2 y'^2) / (2 sigma^2)) cos(2 pi x' /
// lambda + psi), x' along the wave vector. The bank's filter k has the
// spatial envelope sigma 1 / (2 pi sigma_u) along and 1 / (2 pi sigma_v)
// across: gamma = sigma_v / sigma_u, the same bandwidth. Kernels reach 3
// envelope sigmas of the wider axis each side (45 x 45 for 0.08 cycles per
// pixel, 23 x 23 for 0.16; the Gaussian is at 1.1 % of its peak there, the
// kernel holds 99.5 % of its mass): the same filter, neither cut short nor
// padded. filter2D's time grows with the kernel (one call on a 2048^2 float
// image, one thread: 11^2 25 ms (direct), 23^2 121 ms, 45^2 196 ms (DFT)).
void opencvFilter2d(benchmark::State& state) {
  const cv::Mat input(static_cast<int>(kShape.height), static_cast<int>(kShape.width), CV_8UC1,
                      const_cast<unsigned char*>(image().pointToOffset()),
                      static_cast<std::size_t>(image().rep().rowStride()));
  std::vector<cv::Mat> even, odd;
  for (long k = 0; k < bank().filters(); ++k) {
    const vcPair<double> s = bank().sigma(k);
    const double sigma = 1.0 / (2.0 * std::numbers::pi * s.x), gamma = s.y / s.x;
    const int half = static_cast<int>(std::ceil(3.0 * std::max(sigma, sigma / gamma)));
    const cv::Size size(2 * half + 1, 2 * half + 1);
    const double theta = bank().angle(k).value(), lambda = 1.0 / bank().frequency(k);
    even.push_back(cv::getGaborKernel(size, sigma, theta, lambda, gamma, 0.0, CV_32F));
    odd.push_back(cv::getGaborKernel(size, sigma, theta, lambda, gamma, std::numbers::pi / 2, CV_32F));
  }
  cv::Mat f, re, im, mag;
  loop(state, [&] {
    input.convertTo(f, CV_32F);
    for (std::size_t k = 0; k < even.size(); ++k) {
      cv::filter2D(f, re, CV_32F, even[k]);
      cv::filter2D(f, im, CV_32F, odd[k]);
      cv::magnitude(re, im, mag);
      benchmark::DoNotOptimize(mag.data);
    }
  });
}

const bool registered = [] {
  benchmark::RegisterBenchmark("texture/bank_energy/2048x2048", bankEnergy)
      ->Arg(1)
      ->Arg(2)
      ->Arg(4)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("texture/bank_jobs/2048x2048", bankJobs)
      ->Arg(1)
      ->Arg(2)
      ->Arg(4)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("texture/bank_energy_exact/2048x2048", bankEnergyExact)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("texture/forward/2048x2048", forward)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("texture/banded_inverse/2048x2048", bandedInverse)
      ->DenseRange(0, 15)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("texture/opencv_filter2d/2048x2048", opencvFilter2d)
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace

// vexfilt-bench-frames: one camera frame filtered whole, side by side.
//
//   4096 x 3000 8-bit frame, Gabor filter (frequency 0.08 cycles per pixel,
//   angle 30 degrees, sigma 0.015 both ways), magnitude out as doubles.
//
// Cases (one per process, named on the command line, so that each one's peak
// memory is its own):
//   plan         the library's frame plan, tiles in order on this thread
//   plan2        the same plan, its jobs shared by two std::threads
//   plan@T       the plan with its tile size imposed (T = 256 ... 2048)
//   fftw         FFTW (float): r2c of the whole frame, the Gaussian patch,
//                two c2r (real and imaginary part of the one-sided result),
//                magnitude; plans made once (FFTW_MEASURE), untimed
//   opencv       OpenCV's dft of the whole frame (complex output), the patch,
//                the inverse dft, magnitude; one thread
// The plan's tolerance is 1e-4 of the energy (the default), or
// $VEXFILT_FRAMES_TOLERANCE. Each case prints one line: its name, the median
// and minimum wall time of the repetitions and the median CPU time of the
// process (ms), the peak resident growth over the shared input frame (MiB:
// the case's own copy of it, its output, plans, tables and working arrays),
// and the largest difference from the plan's output, relative to its largest
// value, away from the frame's border.

#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <numbers>
#include <opencv2/core.hpp>
#include <string>
#include <thread>
#include <vector>

#include <filt/vision/frames.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

constexpr long W = 4096, H = 3000;
constexpr double kFrequency = 0.08, kSigma = 0.015, kAngle = std::numbers::pi / 6;

long statusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  const std::size_t n = std::strlen(field);
  for (std::string line; std::getline(status, line);)
    if (line.compare(0, n, field) == 0 && line[n] == ':') return std::atol(line.c_str() + n + 1);
  return -1;
}

// The peak of the resident set is reset to the current one (Linux >= 4.0);
// the growth of the peak over that is what a case allocates and touches.
long resetPeak() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
  std::ofstream("/proc/self/clear_refs") << "5" << std::flush;
  return statusKiB("VmRSS");
}

// A frame like a camera's: smooth shading, a grating at the filter's
// frequency in one part, noise.
std::vector<unsigned char> makeFrame() {
  std::vector<unsigned char> f(static_cast<std::size_t>(W * H));
  std::uint32_t s = 12345;
  const double fx = kFrequency * std::cos(kAngle), fy = kFrequency * std::sin(kAngle);
  for (long y = 0; y < H; ++y)
    for (long x = 0; x < W; ++x) {
      s = s * 1664525u + 1013904223u;
      const double noise = static_cast<double>(s >> 24) / 16.0;
      double v = 90 + 40 * std::sin(x * 0.001) * std::cos(y * 0.0013) + noise;
      if (x > W / 3 && y > H / 4) v += 50 * std::cos(2 * std::numbers::pi * (fx * x + fy * y));
      f[static_cast<std::size_t>(y * W + x)] = static_cast<unsigned char>(std::clamp(v, 0.0, 255.0));
    }
  return f;
}

// The patch at a frequency (u, v) in cycles per pixel: the Gaussian of the
// Gabor filter, cut like the library's window (4 sigma and 5 % each side).
double patch(double u, double v) {
  const double du = u - kFrequency * std::cos(kAngle), dv = v - kFrequency * std::sin(kAngle);
  const double along = du * std::cos(kAngle) + dv * std::sin(kAngle);
  const double across = -du * std::sin(kAngle) + dv * std::cos(kAngle);
  const double reach = 4 * kSigma + 0.05;
  if (std::fabs(along) > reach || std::fabs(across) > reach) return 0.0;
  return std::exp(-(along * along + across * across) / (2 * kSigma * kSigma));
}

double signedFrequency(long k, long n) {
  return static_cast<double>(k < (n + 1) / 2 ? k : k - n) / static_cast<double>(n);
}

struct Result {
  long peakKiB = 0;               // resident peak growth when the repetitions end
  std::vector<double> times;      // wall, ms
  std::vector<double> cpu;        // process CPU time (all threads), ms
  std::vector<double> magnitude;  // W * H, the last repetition's
};

template <class F>
void repeat(int repetitions, Result& r, F&& once) {
  for (int i = 0; i < repetitions; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    once();
    r.cpu.push_back(1000.0 * static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC);
    r.times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
}

vcFramePlan makePlan(long tile) {
  return vcFramePlan(
      W, H, vcFrameFilter::gabor({kSigma, kSigma}, {0, 0}, vcRadian(kAngle), kFrequency), vcEdgeMode::eZero,
      std::getenv("VEXFILT_FRAMES_TOLERANCE") ? std::atof(std::getenv("VEXFILT_FRAMES_TOLERANCE")) : 1e-4, tile);
}

void runPlan(const std::vector<unsigned char>& frame, Result& r, int repetitions, int threads, long tile,
             long& baseline) {
  baseline = resetPeak();
  const vcFramePlan plan = makePlan(tile);
  std::fprintf(stderr, "plan: tile %ld, margin %ld, %zu jobs, energy outside %.3g\n", plan.tileSize(), plan.margin(),
               plan.jobs().size(), plan.errorBound());
  vcPelBuffer<unsigned char> input(W, H);
  for (long y = 0; y < H; ++y)
    std::memcpy(input.pointToOffset() + y * input.rep().rowStride(), frame.data() + y * W, W);
  vcPelBuffer<double> out(W, H);
  repeat(repetitions, r, [&] {
    if (threads == 1) {
      plan.run<unsigned char>(input, out, vcFramePlan::eMagnitude);
      return;
    }
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&, t] {
        vcFramePlan::Workspace ws;
        for (std::size_t i = static_cast<std::size_t>(t); i < plan.jobs().size();
             i += static_cast<std::size_t>(threads))
          plan.runJob<unsigned char>(plan.jobs()[i], input, out, vcFramePlan::eMagnitude, ws);
      });
    for (auto& th : pool) th.join();
  });
  r.peakKiB = statusKiB("VmHWM") - baseline;
  r.magnitude.resize(static_cast<std::size_t>(W * H));
  for (long y = 0; y < H; ++y)
    std::memcpy(r.magnitude.data() + y * W, out.pointToOffset() + y * out.rep().rowStride(), W * sizeof(double));
}

void runFftw(const std::vector<unsigned char>& frame, Result& r, int repetitions, long& baseline) {
  baseline = resetPeak();
  const long half = W / 2 + 1;
  float* real = fftwf_alloc_real(static_cast<std::size_t>(W * H));
  fftwf_complex* spectrum = fftwf_alloc_complex(static_cast<std::size_t>(half * H));
  fftwf_complex* work = fftwf_alloc_complex(static_cast<std::size_t>(half * H));
  float* re = fftwf_alloc_real(static_cast<std::size_t>(W * H));
  float* im = fftwf_alloc_real(static_cast<std::size_t>(W * H));
  const fftwf_plan r2c = fftwf_plan_dft_r2c_2d(H, W, real, spectrum, FFTW_MEASURE);
  const fftwf_plan c2r = fftwf_plan_dft_c2r_2d(H, W, work, re, FFTW_MEASURE);
  // The patch on the half spectrum (columns 0 .. W/2): it lies in u > 0, so
  // the one-sided product Y gives y = IDFT(Y) with Re y = c2r(Y) / (2N) and
  // Im y = c2r(-iY) / (2N).
  std::vector<float> gain(static_cast<std::size_t>(half * H));
  for (long ky = 0; ky < H; ++ky)
    for (long kx = 0; kx < half; ++kx)
      gain[static_cast<std::size_t>(ky * half + kx)] =
          kx == 0 ? 0.0f : static_cast<float>(patch(static_cast<double>(kx) / W, signedFrequency(ky, H)));
  std::vector<double> mag(static_cast<std::size_t>(W * H));
  const double k = 1.0 / (2.0 * static_cast<double>(W) * static_cast<double>(H));
  repeat(repetitions, r, [&] {
    for (long i = 0; i < W * H; ++i) real[i] = frame[static_cast<std::size_t>(i)];
    fftwf_execute(r2c);
    for (long i = 0; i < half * H; ++i) {
      const float g = gain[static_cast<std::size_t>(i)];
      work[i][0] = spectrum[i][0] * g;
      work[i][1] = spectrum[i][1] * g;
    }
    fftwf_execute_dft_c2r(c2r, work, re);
    for (long i = 0; i < half * H; ++i) {  // -i * Y
      const float g = gain[static_cast<std::size_t>(i)];
      work[i][0] = spectrum[i][1] * g;
      work[i][1] = -spectrum[i][0] * g;
    }
    fftwf_execute_dft_c2r(c2r, work, im);
    for (long i = 0; i < W * H; ++i) mag[static_cast<std::size_t>(i)] = std::hypot(re[i], im[i]) * k;
  });
  r.peakKiB = statusKiB("VmHWM") - baseline;
  r.magnitude = mag;
  fftwf_destroy_plan(r2c);
  fftwf_destroy_plan(c2r);
  fftwf_free(real);
  fftwf_free(spectrum);
  fftwf_free(work);
  fftwf_free(re);
  fftwf_free(im);
}

void runOpenCV(const std::vector<unsigned char>& frame, Result& r, int repetitions, long& baseline) {
  baseline = resetPeak();
  cv::setNumThreads(1);
  const cv::Mat input(static_cast<int>(H), static_cast<int>(W), CV_8UC1, const_cast<unsigned char*>(frame.data()));
  cv::Mat gain(static_cast<int>(H), static_cast<int>(W), CV_32FC2);
  for (int ky = 0; ky < H; ++ky)
    for (int kx = 0; kx < W; ++kx) {
      const float g = static_cast<float>(patch(signedFrequency(kx, W), signedFrequency(ky, H)));
      gain.at<cv::Vec2f>(ky, kx) = cv::Vec2f(g, 0.0f);
    }
  cv::Mat asFloat, spectrum, result, planes[2], magnitude;
  repeat(repetitions, r, [&] {
    input.convertTo(asFloat, CV_32F);
    cv::dft(asFloat, spectrum, cv::DFT_COMPLEX_OUTPUT);
    cv::mulSpectrums(spectrum, gain, spectrum, 0);
    cv::dft(spectrum, result, cv::DFT_INVERSE | cv::DFT_SCALE | cv::DFT_COMPLEX_OUTPUT);
    cv::split(result, planes);
    cv::magnitude(planes[0], planes[1], magnitude);
  });
  r.peakKiB = statusKiB("VmHWM") - baseline;
  r.magnitude.resize(static_cast<std::size_t>(W * H));
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) r.magnitude[static_cast<std::size_t>(y * W + x)] = magnitude.at<float>(y, x);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vexfilt-bench-frames plan|plan2|plan@T|fftw|opencv [repetitions]\n");
    return 2;
  }
  const std::string name = argv[1];
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::vector<unsigned char> frame = makeFrame();
  Result r;
  long baseline = 0;
  if (name == "plan")
    runPlan(frame, r, repetitions, 1, 0, baseline);
  else if (name == "plan2")
    runPlan(frame, r, repetitions, 2, 0, baseline);
  else if (name.rfind("plan@", 0) == 0)
    runPlan(frame, r, repetitions, 1, std::atol(name.c_str() + 5), baseline);
  else if (name == "fftw")
    runFftw(frame, r, repetitions, baseline);
  else if (name == "opencv")
    runOpenCV(frame, r, repetitions, baseline);
  else {
    std::fprintf(stderr, "unknown case %s\n", name.c_str());
    return 2;
  }
  const long peak = r.peakKiB;
  // The plan's output (at its own tile choice) as the reference, away from
  // the frame's border where zero padding and the whole-frame transforms'
  // periodic wrap differ.
  double diff = 0.0, largest = 0.0;
  if (name != "plan") {
    Result ref;
    long unused = 0;
    runPlan(frame, ref, 1, 1, 0, unused);
    for (long y = 64; y < H - 64; ++y)
      for (long x = 64; x < W - 64; ++x) {
        const std::size_t i = static_cast<std::size_t>(y * W + x);
        diff = std::max(diff, std::fabs(r.magnitude[i] - ref.magnitude[i]));
        largest = std::max(largest, ref.magnitude[i]);
      }
    diff /= largest;
  }
  std::vector<double> t = r.times, c = r.cpu;
  std::sort(t.begin(), t.end());
  std::sort(c.begin(), c.end());
  std::printf("%s\twall median %.1f ms\tmin %.1f ms\tcpu median %.1f ms\tpeak +%.1f MiB\tmax rel diff %.2g\n",
              name.c_str(), t[t.size() / 2], t.front(), c[c.size() / 2], peak / 1024.0, diff);
  return 0;
}

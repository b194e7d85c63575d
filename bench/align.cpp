// vexfilt-bench-align: translation by phase correlation, side by side with
// OpenCV's cv::phaseCorrelate, one thread, in one run.
//
//   vexfilt-bench-align [REPEATS]
//
// Inputs: a sum of Gaussian blobs (sigma 1.5 to 3.5 px, random sign, a
// dense, nearly band-limited spectrum like a photograph's) rendered on a grey
// level of 128, and the same blobs moved by (37.3, -21.6) px -- an exact
// sub-pixel shift that is not periodic at the image's size -- each with
// Gaussian noise of 5 grey levels; 512 x 512 and 1024 x 1024. Both
// implementations get the same double images (OpenCV as CV_64FC1 without a
// window, as users call it). The calls alternate (ours, OpenCV, ours, ...)
// so that both see the same load; each line gives the median and minimum
// wall time and the median thread CPU time of the repetitions (ms) and the
// error of the answer (px).

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include <filt/vision/registration.h>

namespace {

constexpr double kDx = 37.3, kDy = -21.6;

struct Rng {
  std::uint64_t s;
  double uniform() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(s >> 11) / 9007199254740992.0;
  }
  double normal() {
    const double u = std::max(uniform(), 1e-300), v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * 3.141592653589793 * v);
  }
};

// The blobs moved by (dx, dy), plus noise of 5 grey levels.
vcPelBuffer<double> render(long n, double dx, double dy, std::uint64_t noiseSeed) {
  Rng rng{12345};
  const double margin = 64.0, span = static_cast<double>(n) + 2.0 * margin;
  const long count = static_cast<long>(span * span / 40.0);
  std::vector<double> image(static_cast<std::size_t>(n * n), 128.0);
  for (long i = 0; i < count; ++i) {
    const double bx = -margin + span * rng.uniform() + dx, by = -margin + span * rng.uniform() + dy;
    const double sigma = 1.5 + 2.0 * rng.uniform(), amplitude = 40.0 * (2.0 * rng.uniform() - 1.0);
    const long r = static_cast<long>(std::ceil(6.0 * sigma));
    const long x0 = std::max(0L, static_cast<long>(std::floor(bx)) - r),
               x1 = std::min(n - 1, static_cast<long>(bx) + r);
    const long y0 = std::max(0L, static_cast<long>(std::floor(by)) - r),
               y1 = std::min(n - 1, static_cast<long>(by) + r);
    const double k = -0.5 / (sigma * sigma);
    for (long y = y0; y <= y1; ++y)
      for (long x = x0; x <= x1; ++x)
        image[static_cast<std::size_t>(y * n + x)] +=
            amplitude * std::exp(k * ((x - bx) * (x - bx) + (y - by) * (y - by)));
  }
  Rng noise{noiseSeed};
  vcPelBuffer<double> out(n, n);
  for (long y = 0; y < n; ++y)
    for (long x = 0; x < n; ++x) out.set(x, y, image[static_cast<std::size_t>(y * n + x)] + 5.0 * noise.normal());
  return out;
}

double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Times {
  std::vector<double> wall, cpu;
  double error = 0.0;
  void add(double w, double c) { wall.push_back(w), cpu.push_back(c); }
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <class F>
void timed(Times& t, F&& f) {
  const double c0 = threadSeconds();
  const auto w0 = std::chrono::steady_clock::now();
  f();
  const double w = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  t.add(w, threadSeconds() - c0);
}

void print(const char* name, long n, const Times& t) {
  std::printf("%-22s %4ld x %-4ld wall median %7.1f ms  min %7.1f ms  cpu median %7.1f ms  error %.4f px\n", name, n, n,
              1e3 * median(t.wall), 1e3 * *std::min_element(t.wall.begin(), t.wall.end()), 1e3 * median(t.cpu),
              t.error);
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  cv::setNumThreads(1);
  for (long n : {512L, 1024L}) {
    const vcPelBuffer<double> ref = render(n, 0.0, 0.0, 1);
    const vcPelBuffer<double> mov = render(n, kDx, kDy, 2);
    const cv::Mat a(static_cast<int>(n), static_cast<int>(n), CV_64FC1, const_cast<double*>(ref.pointToOffset()),
                    static_cast<std::size_t>(ref.rep().rowStride()) * sizeof(double));
    const cv::Mat b(static_cast<int>(n), static_cast<int>(n), CV_64FC1, const_cast<double*>(mov.pointToOffset()),
                    static_cast<std::size_t>(mov.rep().rowStride()) * sizeof(double));
    const vcPhaseCorrelator plan(n, n);
    Times ours, opencv;
    for (int i = 0; i < repeats; ++i) {
      vcTranslation t;
      timed(ours, [&] { t = plan.run(ref, mov); });
      ours.error = std::hypot(t.dx - kDx, t.dy - kDy);
      cv::Point2d p;
      timed(opencv, [&] { p = cv::phaseCorrelate(a, b); });
      // OpenCV reports the shift of the moving image's content with the
      // same sign as ours.
      opencv.error = std::hypot(p.x - kDx, p.y - kDy);
    }
    print("vexfilt", n, ours);
    print("OpenCV phaseCorrelate", n, opencv);
  }
  return 0;
}

// Timing of the C++ calls themselves, for bench/python_bench.py: the same
// work as vexfilt.forward / vexfilt.inverse done in a C++ loop, the way a C++
// host would (one image made once, result buffers reused), so that the
// binding's own cost can be told apart. Each call is timed on the calling
// thread's CPU clock (user + system time of this thread, page faults
// included), which other processes on a busy machine do not disturb; Python's
// time.thread_time() reads the same clock. cpu=False times wall-clock seconds.
// Not part of the public API.
#include <time.h>

#include <vector>

#include "convert.h"

namespace vfpy {
namespace {

double seconds(bool cpu) {
  timespec t{};
  clock_gettime(cpu ? CLOCK_THREAD_CPUTIME_ID : CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

template <class F>
py::list timeCalls(long repeats, bool cpu, F&& call) {
  std::vector<double> times;
  heavy([&] {
    call();  // warm-up: sizes the reused result, as a host's first call does
    for (long i = 0; i < repeats; ++i) {
      const double start = seconds(cpu);
      call();
      times.push_back(seconds(cpu) - start);
    }
  });
  py::list out;
  for (double t : times) out.append(t);
  return out;
}

}  // namespace

void bindTiming(py::module_& m) {
  using namespace pybind11::literals;
  py::module_ t = m.def_submodule("_timing", "Per-call CPU times of C++ loops (for the benchmark only).");
  t.def(
      "forward",
      [](const py::array& image, long repeats, bool cpu) {
        if (pixelKind(image, "forward") != 0) throw py::type_error("_timing.forward: uint8 images only");
        const vcPelBuffer<unsigned char> pixels = toImage<unsigned char>(image);
        vcFrequencyBuffer result;
        return timeCalls(repeats, cpu, [&] { vfForwardFFT<unsigned char>(pixels, result); });
      },
      "image"_a, "repeats"_a, "cpu"_a = true,
      "Seconds of each of `repeats` vfForwardFFT calls after one untimed call (uint8 image, result reused).");
  t.def(
      "inverse",
      [](const vcFrequencyBuffer& source, long repeats, bool cpu) {
        vcFrequencyBuffer result;
        return timeCalls(repeats, cpu, [&] { vfInverseFFT(source, result); });
      },
      "buffer"_a, "repeats"_a, "cpu"_a = true,
      "Seconds of each of `repeats` buffer-to-buffer vfInverseFFT calls (result reused).");
  t.def(
      "inverse_image",
      [](const vcFrequencyBuffer& source, long repeats, bool cpu) {
        vcPelBuffer<double> image;
        return timeCalls(repeats, cpu, [&] {
          image = vcPelBuffer<double>();
          vfInverseFFT<double>(source, image, false);
        });
      },
      "buffer"_a, "repeats"_a, "cpu"_a = true,
      "Seconds of each of `repeats` inverse calls to a new float64 magnitude image.");
}

}  // namespace vfpy

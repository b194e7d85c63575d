// Timing of the C++ calls themselves, for bench/python_bench.py: the same
// work as vexfilt.forward / vexfilt.inverse done in a C++ loop, the way a C++
// host would (one image made once, result buffers reused), so that the
// binding's own cost can be told apart. Not part of the public API.
#include <chrono>
#include <vector>

#include "convert.h"

namespace vfpy {
namespace {

using Clock = std::chrono::steady_clock;

template <class F>
py::list timeCalls(long repeats, F&& call) {
  std::vector<double> seconds;
  heavy([&] {
    for (long i = 0; i < repeats; ++i) {
      const auto start = Clock::now();
      call();
      seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
  });
  py::list out;
  for (double s : seconds) out.append(s);
  return out;
}

}  // namespace

void bindTiming(py::module_& m) {
  using namespace pybind11::literals;
  py::module_ t = m.def_submodule("_timing", "Per-call times of C++ loops (for the benchmark only).");
  t.def(
      "forward",
      [](const py::array& image, long repeats) {
        if (pixelKind(image, "forward") != 0) throw py::type_error("_timing.forward: uint8 images only");
        const vcPelBuffer<unsigned char> pixels = toImage<unsigned char>(image);
        vcFrequencyBuffer result;
        return timeCalls(repeats, [&] { vfForwardFFT<unsigned char>(pixels, result); });
      },
      "image"_a, "repeats"_a, "Seconds of each of `repeats` vfForwardFFT calls (uint8 image, result reused).");
  t.def(
      "inverse",
      [](const vcFrequencyBuffer& source, long repeats) {
        vcFrequencyBuffer result;
        return timeCalls(repeats, [&] { vfInverseFFT(source, result); });
      },
      "buffer"_a, "repeats"_a, "Seconds of each of `repeats` buffer-to-buffer vfInverseFFT calls (result reused).");
  t.def(
      "inverse_image",
      [](const vcFrequencyBuffer& source, long repeats) {
        vcPelBuffer<double> image;
        return timeCalls(repeats, [&] {
          image = vcPelBuffer<double>();
          vfInverseFFT<double>(source, image, false);
        });
      },
      "buffer"_a, "repeats"_a, "Seconds of each of `repeats` inverse calls to a new float64 magnitude image.");
}

}  // namespace vfpy

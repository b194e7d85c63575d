// Orientation, coherence and texture-energy maps of a bank's energy stack.

#include <algorithm>
#include <cmath>
#include <numbers>

#include "filt/vision/texture.h"
#include "vexsys/attention.h"

vcTextureMaps vcGaborBank::maps(const vcTextureStack& stack) const {
  requireBuilt();
  if (stack.filters != filters() || stack.width < 0 || stack.height < 0 ||
      stack.values.size() != static_cast<std::size_t>(stack.filters * stack.width * stack.height))
    throw vcFrequencyDefs::InvalidSize("Energy stack does not match the bank.");
  const long N = orientations_, M = static_cast<long>(frequencies_.size());
  const long w = stack.width, h = stack.height;
  vcTextureMaps maps{vcPelBuffer<double>(w, h), vcPelBuffer<double>(w, h), vcPelBuffer<double>(w, h)};
  const double step = std::numbers::pi / static_cast<double>(N);
  std::vector<double> cos2(static_cast<std::size_t>(N)), sin2(static_cast<std::size_t>(N));
  for (long n = 0; n < N; ++n) {
    cos2[static_cast<std::size_t>(n)] = std::cos(2.0 * step * static_cast<double>(n));
    sin2[static_cast<std::size_t>(n)] = std::sin(2.0 * step * static_cast<double>(n));
  }
  std::vector<double> e(static_cast<std::size_t>(N));
  const std::size_t planeSize = static_cast<std::size_t>(w * h);
  for (long y = 0; y < h; ++y) {
    if ((y & 63) == 0) vfThrowExceptionOnFailure(vsys_attention_check());
    double* orientation = maps.orientation.pointToOffset() + y * maps.orientation.rep().rowStride();
    double* coherence = maps.coherence.pointToOffset() + y * maps.coherence.rep().rowStride();
    double* energy = maps.energy.pointToOffset() + y * maps.energy.rep().rowStride();
    for (long x = 0; x < w; ++x) {
      const std::size_t at = static_cast<std::size_t>(y * w + x);
      double total = 0.0, squares = 0.0, vc = 0.0, vs = 0.0;
      long best = 0;
      for (long n = 0; n < N; ++n) {
        double sum = 0.0;
        for (long m = 0; m < M; ++m) {
          const double v = stack.values[static_cast<std::size_t>(m * N + n) * planeSize + at];
          sum += v;
          squares += v * v;
        }
        e[static_cast<std::size_t>(n)] = sum;
        total += sum;
        vc += sum * cos2[static_cast<std::size_t>(n)];
        vs += sum * sin2[static_cast<std::size_t>(n)];
        if (sum > e[static_cast<std::size_t>(best)]) best = n;
      }
      // Parabola through ln E at the best orientation and its neighbours
      // (cyclic over pi); its vertex within half a step of the best.
      double offset = 0.0;
      if (N >= 3 && total > 0.0) {
        const double floor = 1e-12 * total;
        const double a = std::log(e[static_cast<std::size_t>((best + N - 1) % N)] + floor);
        const double b = std::log(e[static_cast<std::size_t>(best)] + floor);
        const double c = std::log(e[static_cast<std::size_t>((best + 1) % N)] + floor);
        const double curvature = a - 2.0 * b + c;
        if (curvature < 0.0) offset = std::clamp(0.5 * (a - c) / curvature, -0.5, 0.5);
      }
      double theta = (static_cast<double>(best) + offset) * step;
      if (theta < 0.0) theta += std::numbers::pi;
      if (theta >= std::numbers::pi) theta -= std::numbers::pi;
      orientation[x] = theta;
      coherence[x] = total > 0.0 ? std::min(1.0, std::hypot(vc, vs) / total) : 0.0;
      energy[x] = std::sqrt(squares);
    }
  }
  return maps;
}

template <class T>
vcPelBuffer<double> vcGaborBank::orientation(const vcPelBuffer_const<T>& image, long step) const {
  return maps(energy(image, step)).orientation;
}

template VEXFILT_API vcPelBuffer<double> vcGaborBank::orientation<unsigned char>(
    const vcPelBuffer_const<unsigned char>&, long) const;
template VEXFILT_API vcPelBuffer<double> vcGaborBank::orientation<unsigned short>(
    const vcPelBuffer_const<unsigned short>&, long) const;
template VEXFILT_API vcPelBuffer<double> vcGaborBank::orientation<double>(const vcPelBuffer_const<double>&, long) const;

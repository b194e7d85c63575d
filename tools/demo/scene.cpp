#include "scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace demo {
namespace {

constexpr std::uint64_t kSceneSalt = 20240611;

// splitmix64 and Box-Muller: the same noise on every machine and library.
class Noise {
 public:
  explicit Noise(std::uint64_t salt) : state_(salt) {}
  double next() {
    if (spare_) {
      spare_ = false;
      return second_;
    }
    const double u = (static_cast<double>(bits() >> 11) + 0.5) * 0x1p-53;
    const double v = static_cast<double>(bits() >> 11) * 0x1p-53;
    const double r = std::sqrt(-2.0 * std::log(u));
    second_ = r * std::sin(2.0 * std::numbers::pi * v);
    spare_ = true;
    return r * std::cos(2.0 * std::numbers::pi * v);
  }

 private:
  std::uint64_t bits() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

  std::uint64_t state_;
  double second_ = 0.0;
  bool spare_ = false;
};

// A unit cosine grating near `frequency` and `degrees`, moved to the nearest
// frequency with a whole number of periods across the image in both
// directions, so that it continues across the edges as the transform sees
// it (no seams at the borders).
struct Grating {
  double fx, fy;
  Grating(double frequency, double degrees, double size) {
    const double a = degrees * std::numbers::pi / 180.0;
    fx = std::round(frequency * std::cos(a) * size) / size;
    fy = std::round(frequency * std::sin(a) * size) / size;
  }
  double at(double x, double y) const { return std::cos(2.0 * std::numbers::pi * (fx * x + fy * y)); }
};

// 1 inside a disc, 0 outside, with a one-pixel soft edge against ringing.
double disc(double x, double y, double cx, double cy, double radius) {
  const double d = std::hypot(x - cx, y - cy);
  return std::clamp(radius - d + 0.5, 0.0, 1.0);
}

// Distance of (x, y) from the segment (x0, y0)-(x1, y1).
double segmentDistance(double x, double y, double x0, double y0, double x1, double y1) {
  const double dx = x1 - x0, dy = y1 - y0;
  const double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
  return std::hypot(x - (x0 + t * dx), y - (y0 + t * dy));
}

// Where the scene's pieces are, per pixel: the weight of grating B (the
// disc), of the missing patch and of the scratch, each in [0, 1].
struct Layout {
  double inB, missing, scratch;
};

Layout layoutAt(double px, double py, double n) {
  return {disc(px, py, 0.68 * n, 0.62 * n, 0.22 * n), disc(px, py, 0.30 * n, 0.30 * n, 0.04 * n),
          std::clamp(2.5 - segmentDistance(px / n, py / n, 0.16, 0.72, 0.40, 0.84) * n, 0.0, 1.0)};
}

GreyImage render(long size, bool flaws, std::uint64_t salt) {
  GreyImage image(size, size, 8);
  const double n = static_cast<double>(size);
  const Grating a(kSceneFrequencyA, kSceneAngleA, n), b(kSceneFrequencyB, kSceneAngleB, n);
  Noise noise(salt);
  for (long y = 0; y < size; ++y) {
    for (long x = 0; x < size; ++x) {
      const double px = static_cast<double>(x), py = static_cast<double>(y);
      // The flaws: a patch of missing texture and a scratch that wears the
      // texture away and leaves a brighter line.
      const Layout l = flaws ? layoutAt(px, py, n) : Layout{0.0, 0.0, 0.0};
      const double texture =
          (1.0 - l.inB) * (1.0 - l.missing) * (1.0 - l.scratch) * a.at(px, py) + l.inB * b.at(px, py);
      const double v = 128.0 + 45.0 * texture + 30.0 * l.scratch + 6.0 * noise.next();
      image.at(x, y) = static_cast<std::uint16_t>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  return image;
}

}  // namespace

GreyImage makeScene(long size) {
  return render(size, true, kSceneSalt);
}

GreyImage makeSceneTexture(long size, std::uint64_t salt) {
  return render(size, false, salt);
}

std::vector<unsigned char> sceneFlawMask(long size) {
  std::vector<unsigned char> mask(static_cast<std::size_t>(size * size));
  const double n = static_cast<double>(size);
  for (long y = 0; y < size; ++y)
    for (long x = 0; x < size; ++x) {
      const Layout l = layoutAt(static_cast<double>(x), static_cast<double>(y), n);
      mask[static_cast<std::size_t>(y * size + x)] = std::max({l.inB, l.missing, l.scratch}) >= 0.5 ? 1 : 0;
    }
  return mask;
}

}  // namespace demo

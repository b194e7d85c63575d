// Per-element arithmetic of the inverse transforms' pixel loops: the plain
// form that the vector kernels reproduce bit for bit. Not installed.
// Everything is computed in double from the array's floats.
//
// The functions have internal linkage: units built for a wider instruction
// set include this header too, and a shared inline copy built there could be
// the one the linker keeps for every caller.
#pragma once

#include <cmath>
#include <cstdint>

namespace vf_pixel {
namespace {

// |re + i im| of an element's two floats.
inline double magnitude(const float* e) {
  const double re = e[0], im = e[1];
  return std::sqrt(re * re + im * im);
}

// Round to nearest, ties to even, independent of the floating-point
// environment's rounding mode.
inline double roundHalfEven(double v) {
  double f = std::floor(v);
  const double d = v - f;  // exact
  if (d > 0.5 || (d == 0.5 && std::fmod(f, 2.0) != 0.0)) f += 1.0;
  return f;
}

// round(v) saturated into 0..max; a NaN gives 0.
inline std::uint32_t roundSaturated(double v, double max) {
  const double r = roundHalfEven(v);
  if (!(r > 0.0)) return 0;
  return r >= max ? static_cast<std::uint32_t>(max) : static_cast<std::uint32_t>(r);
}

// The low bits of round(v) as a two's complement integer (the stretch loops
// store without clamping); a NaN gives 0, values beyond 64 bits saturate first.
inline std::uint64_t roundWrapped(double v) {
  const double r = roundHalfEven(v);
  if (!(r == r)) return 0;
  if (r >= 9.2e18) return static_cast<std::uint64_t>(INT64_MAX);
  if (r <= -9.2e18) return static_cast<std::uint64_t>(INT64_MIN);
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(r));
}

// 1 if re < 0, plus 2 if im < 0 (a zero of either sign is not negative).
inline unsigned char quadrantCode(const float* e) {
  return static_cast<unsigned char>((e[0] < 0.0f ? 1 : 0) + (e[1] < 0.0f ? 2 : 0));
}

}  // namespace
}  // namespace vf_pixel

// The plain element operations of the spectrum arithmetic (see
// arithmetic_kernels.h), also the vector loops' tails. Internal linkage:
// units built for other instruction sets include it too.
#pragma once

namespace {

// (u + x, v + y)
inline void vf_AddElement(const float* a, float* r) {
  const double x = a[0], y = a[1], u = r[0], v = r[1];
  r[0] = static_cast<float>(u + x);
  r[1] = static_cast<float>(v + y);
}

// (u - x, v - y)
inline void vf_SubtractElement(const float* a, float* r) {
  const double x = a[0], y = a[1], u = r[0], v = r[1];
  r[0] = static_cast<float>(u - x);
  r[1] = static_cast<float>(v - y);
}

// (x u - y v, u y + v x): every product and the sum or difference in double.
// Products commute exactly, so the result does not depend on which factor is
// the operand.
inline void vf_MultiplyElement(const float* a, float* r) {
  const double x = a[0], y = a[1], u = r[0], v = r[1];
  r[0] = static_cast<float>(x * u - y * v);
  r[1] = static_cast<float>(u * y + v * x);
}

}  // namespace

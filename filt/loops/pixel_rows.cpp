// The plain row kernels and the choice of a set per level.

#include "loops/pixel_rows.h"

#include "loops/pixel_math.h"

namespace {

template <class P>
void saturated(const float* e, P* d, long n, double k, double max) {
  for (long x = 0; x < n; ++x, e += 2) d[x] = static_cast<P>(vf_pixel::roundSaturated(vf_pixel::magnitude(e) * k, max));
}

template <class P>
void stretched(const float* e, P* d, long n, double k, double low, double scale) {
  for (long x = 0; x < n; ++x, e += 2)
    d[x] = static_cast<P>(vf_pixel::roundWrapped((vf_pixel::magnitude(e) * k - low) * scale));
}

void saturated8(const float* e, unsigned char* d, long n, double k) {
  saturated(e, d, n, k, 255.0);
}
void saturated16(const float* e, unsigned short* d, long n, double k) {
  saturated(e, d, n, k, 65535.0);
}
void stretched8(const float* e, unsigned char* d, long n, double k, double low, double scale) {
  stretched(e, d, n, k, low, scale);
}
void stretched16(const float* e, unsigned short* d, long n, double k, double low, double scale) {
  stretched(e, d, n, k, low, scale);
}

void magnitudes(const float* e, double* d, long n, double k) {
  for (long x = 0; x < n; ++x, e += 2) d[x] = vf_pixel::magnitude(e) * k;
}

void squaredRange(const float* e, long n, double& smallest, double& largest) {
  for (long x = 0; x < n; ++x, e += 2) {
    const double re = e[0], im = e[1];
    const double s = re * re + im * im;
    if (s < smallest) smallest = s;
    if (s > largest) largest = s;
  }
}

}  // namespace

vc_PixelRows vf_PixelRows(vc_EngineLevel level) {
  if (vf_UsesAvx2Loops(level)) return vf_PixelRowsAvx2();
  return {saturated8, saturated16, stretched8, stretched16, magnitudes, squaredRange};
}

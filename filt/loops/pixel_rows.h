// Row kernels of the inverse transforms' pixel loops: one row of complex
// elements (interleaved floats) in, one row of pixels out. Not installed.
//
// Each instruction-set level has its own set; every set computes exactly the
// bits of the plain one (vf_pixel:: in pixel_math.h): the same double
// operations per element, with rounding to nearest even done by the rounding
// instruction instead of floor and a test. The AVX2 set serves the AVX2 and
// AVX-512 levels; SSE2 has no rounding instruction and uses the plain set.
#pragma once

#include "cpu/cpu_level.h"

struct vc_PixelRows {
  // d[x] = round(|e[x]| * k) saturated into 0..255 (0..65535); NaN gives 0.
  void (*saturated8)(const float* e, unsigned char* d, long n, double k);
  void (*saturated16)(const float* e, unsigned short* d, long n, double k);
  // d[x] = the low bits of round((|e[x]| * k - low) * scale); NaN gives 0.
  void (*stretched8)(const float* e, unsigned char* d, long n, double k, double low, double scale);
  void (*stretched16)(const float* e, unsigned short* d, long n, double k, double low, double scale);
  // d[x] = |e[x]| * k.
  void (*magnitudes)(const float* e, double* d, long n, double k);
  // Folds the squared magnitudes re*re + im*im of the row into smallest and
  // largest (each only replaced by a strictly smaller or larger value, so
  // NaNs never enter).
  void (*squaredRange)(const float* e, long n, double& smallest, double& largest);
};

// The kernels of a level (an unsupported level gives the plain set).
vc_PixelRows vf_PixelRows(vc_EngineLevel level);

// The AVX2 set, built for AVX2 in a unit of its own; call only where the CPU has it.
vc_PixelRows vf_PixelRowsAvx2();

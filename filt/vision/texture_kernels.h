// The texture bank's per-pixel loops behind a table of functions: a plain
// build and, on x86-64, an AVX2 build picked at run time. Both do every
// element's operations in the same order (no fused multiply-adds, IEEE
// square roots): their outputs are identical bit for bit.
#pragma once

namespace vf_texture {

struct Kernels {
  // out[i * stride] = sum_t w[t] in[i + t], t = 0..7, for the real and the
  // imaginary row: one fraction of an interpolated row.
  void (*interpolate)(const double* w, const double* inRe, const double* inIm, long count, double* outRe, double* outIm,
                      long stride);
  // out[i] = float(|sum_t w[t] row_t[i]| * scale), row_t holding n real
  // parts then n imaginary parts: an interpolated output row.
  void (*magnitudeDown)(const double* w, const double* const* rows, long n, double scale, float* out);
  // out[i] = float(sqrt(re[i]^2 + im[i]^2) * scale).
  void (*magnitude)(const double* re, const double* im, long n, double scale, float* out);
  // The same of n complex floats z (re, im interleaved), widened to double.
  void (*magnitudeInterleaved)(const float* z, long n, double scale, float* out);
};

Kernels plainKernels();
// Null members where the build has no AVX2.
Kernels avx2Kernels();
// The AVX2 table where the processor has it, else the plain one. (An
// AVX-512 build measured no faster: the loops are bound by memory.)
Kernels bestKernels();

}  // namespace vf_texture

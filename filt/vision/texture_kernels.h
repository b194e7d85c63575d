// The texture bank's per-pixel loops behind a table of functions: a plain
// build and, on x86-64, an AVX2 build picked at run time. Both do every
// element's operations in the same order (no fused multiply-adds, IEEE
// square roots): their outputs are identical bit for bit.
#pragma once

namespace vf_texture {

struct Kernels {
  // Interpolated rows between two grid rows: out[r - 1][i] = sum_t w_r[t]
  // rows[t][i] (t = 0..7) for the fractions r = 1 .. F - 1, i < n. F is a
  // power of two >= 2; w holds F - 1 sets of 8 weights, fraction F - r's the
  // reverse of fraction r's (the kernels use the pairs' symmetry: P.S + Q.D
  // and P.S - Q.D, see texture_kernels_body.h).
  void (*interpolateDown)(const double* w, long F, const double* const* rows, long n, double* const* out);
  // F = 2 only: the rows between four consecutive pairs of grid rows at once,
  // out[k] from rows[k .. k + 7] (eleven rows), the same values as four calls
  // of interpolateDown (the rows read once for the four).
  void (*interpolateDownFour)(const double* w, const double* const* rows, long n, double* const* out);
  // An output row across: samples re[m + 3], im[m + 3] (three before, four
  // after from the wrap) interpolated to F outputs each, fraction 0 the sample
  // itself; out[m F + r] = float(|value| * scale) for m F + r < count.
  void (*magnitudeAcross)(const double* w, long F, const double* re, const double* im, long count, double scale,
                          float* out);
  // out[i] = float(sqrt(re[i]^2 + im[i]^2) * scale).
  void (*magnitude)(const double* re, const double* im, long n, double scale, float* out);
  // The same of n complex floats z (re, im interleaved), widened to double.
  void (*magnitudeInterleaved)(const float* z, long n, double scale, float* out);
  // n complex floats z split into real and imaginary parts, widened to double.
  void (*widen)(const float* z, long n, double* re, double* im);
  // n complex floats z weighted: out[2 i + c] = float(double(z[2 i + c]) g[i]).
  void (*scaleCells)(const float* z, const double* g, long n, float* out);
};

Kernels plainKernels();
// Null members where the build has no AVX2.
Kernels avx2Kernels();
// The AVX2 table where the processor has it, else the plain one. (An
// AVX-512 build measured slower on the full-size bank.)
Kernels bestKernels();

}  // namespace vf_texture

// The bodies of the texture kernels, included once per instruction set
// (texture_kernels.cpp, texture_kernels_avx2.cpp) inside an anonymous
// namespace. Plain loops: the compiler vectorises them (the files are built
// without math errno so that square roots vectorise too) and keeps each
// element's operations in their written order.

void interpolateRows(const double* w, const double* inRe, const double* inIm, long count, double* outRe, double* outIm,
                     long stride) {
  const double w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3], w4 = w[4], w5 = w[5], w6 = w[6], w7 = w[7];
  for (long i = 0; i < count; ++i) {
    const double* a = inRe + i;
    const double* b = inIm + i;
    outRe[i * stride] = w0 * a[0] + w1 * a[1] + w2 * a[2] + w3 * a[3] + w4 * a[4] + w5 * a[5] + w6 * a[6] + w7 * a[7];
    outIm[i * stride] = w0 * b[0] + w1 * b[1] + w2 * b[2] + w3 * b[3] + w4 * b[4] + w5 * b[5] + w6 * b[6] + w7 * b[7];
  }
}

void magnitudeDownRows(const double* w, const double* const* rows, long n, double scale, float* out) {
  const double w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3], w4 = w[4], w5 = w[5], w6 = w[6], w7 = w[7];
  const double* __restrict r0 = rows[0], * __restrict r1 = rows[1], * __restrict r2 = rows[2], * __restrict r3 = rows[3], * __restrict r4 = rows[4], * __restrict r5 = rows[5], * __restrict r6 = rows[6], * __restrict r7 = rows[7];
  float* __restrict o = out;
  for (long i = 0; i < n; ++i) {
    const double re =
        w0 * r0[i] + w1 * r1[i] + w2 * r2[i] + w3 * r3[i] + w4 * r4[i] + w5 * r5[i] + w6 * r6[i] + w7 * r7[i];
    const double im = w0 * r0[n + i] + w1 * r1[n + i] + w2 * r2[n + i] + w3 * r3[n + i] + w4 * r4[n + i] +
                      w5 * r5[n + i] + w6 * r6[n + i] + w7 * r7[n + i];
    o[i] = static_cast<float>(std::sqrt(re * re + im * im) * scale);
  }
}

void magnitudeRow(const double* re, const double* im, long n, double scale, float* out) {
  const double* __restrict a = re;
  const double* __restrict b = im;
  float* __restrict o = out;
  for (long i = 0; i < n; ++i) o[i] = static_cast<float>(std::sqrt(a[i] * a[i] + b[i] * b[i]) * scale);
}

void magnitudeInterleavedRow(const float* z, long n, double scale, float* out) {
  const float* __restrict a = z;
  float* __restrict o = out;
  for (long i = 0; i < n; ++i) {
    const double re = static_cast<double>(a[2 * i]), im = static_cast<double>(a[2 * i + 1]);
    o[i] = static_cast<float>(std::sqrt(re * re + im * im) * scale);
  }
}

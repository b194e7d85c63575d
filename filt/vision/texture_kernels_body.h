// The bodies of the texture kernels, included once per instruction set
// (texture_kernels.cpp, texture_kernels_avx2.cpp) inside an anonymous
// namespace. Plain loops: the compiler vectorises them (the files are built
// without math errno so that square roots vectorise too) and keeps each
// element's operations in their written order.

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

// The interpolators' weights come in mirror pairs: fraction F - r has the
// weights of fraction r in reverse order, and the middle fraction (r = F / 2)
// is its own mirror. With S_j = a_j + a_(7-j) and D_j = a_j - a_(7-j)
// (j = 0..3), the pair's outputs are P.S + Q.D and P.S - Q.D, where
// P_j = (w_j + w_(7-j)) / 2 and Q_j = (w_j - w_(7-j)) / 2 (w of fraction r):
// 8 products for two outputs instead of 16, 4 for the middle one. The loops
// take their operands as restrict parameters of their own (so that they
// vectorise) and the weights by value.
struct Pair {
  double p0, p1, p2, p3, q0, q1, q2, q3;
};

inline Pair pairOf(const double* w) {
  return {0.5 * (w[0] + w[7]), 0.5 * (w[1] + w[6]), 0.5 * (w[2] + w[5]), 0.5 * (w[3] + w[4]),
          0.5 * (w[0] - w[7]), 0.5 * (w[1] - w[6]), 0.5 * (w[2] - w[5]), 0.5 * (w[3] - w[4])};
}

using Row = const double* __restrict;

// The middle fraction down: o = P.S.
void downMiddle(Row r0, Row r1, Row r2, Row r3, Row r4, Row r5, Row r6, Row r7, long n, const Pair m,
                double* __restrict o) {
  const double p0 = m.p0, p1 = m.p1, p2 = m.p2, p3 = m.p3;
  for (long i = 0; i < n; ++i)
    o[i] = p0 * (r0[i] + r7[i]) + p1 * (r1[i] + r6[i]) + p2 * (r2[i] + r5[i]) + p3 * (r3[i] + r4[i]);
}

// A mirror pair down: lo = P.S + Q.D, hi = P.S - Q.D.
void downPair(Row r0, Row r1, Row r2, Row r3, Row r4, Row r5, Row r6, Row r7, long n, const Pair a,
              double* __restrict lo, double* __restrict hi) {
  const double p0 = a.p0, p1 = a.p1, p2 = a.p2, p3 = a.p3, q0 = a.q0, q1 = a.q1, q2 = a.q2, q3 = a.q3;
  for (long i = 0; i < n; ++i) {
    const double ps = p0 * (r0[i] + r7[i]) + p1 * (r1[i] + r6[i]) + p2 * (r2[i] + r5[i]) + p3 * (r3[i] + r4[i]);
    const double qd = q0 * (r0[i] - r7[i]) + q1 * (r1[i] - r6[i]) + q2 * (r2[i] - r5[i]) + q3 * (r3[i] - r4[i]);
    lo[i] = ps + qd;
    hi[i] = ps - qd;
  }
}

// Fractions 1, 2, 3 of F = 4 in one pass over the rows.
void downFour(Row r0, Row r1, Row r2, Row r3, Row r4, Row r5, Row r6, Row r7, long n, const Pair a, const Pair m,
              double* __restrict o1, double* __restrict o2, double* __restrict o3) {
  const double p0 = a.p0, p1 = a.p1, p2 = a.p2, p3 = a.p3, q0 = a.q0, q1 = a.q1, q2 = a.q2, q3 = a.q3;
  const double m0 = m.p0, m1 = m.p1, m2 = m.p2, m3 = m.p3;
  for (long i = 0; i < n; ++i) {
    const double s0 = r0[i] + r7[i], s1 = r1[i] + r6[i], s2 = r2[i] + r5[i], s3 = r3[i] + r4[i];
    const double d0 = r0[i] - r7[i], d1 = r1[i] - r6[i], d2 = r2[i] - r5[i], d3 = r3[i] - r4[i];
    const double ps = p0 * s0 + p1 * s1 + p2 * s2 + p3 * s3;
    const double qd = q0 * d0 + q1 * d1 + q2 * d2 + q3 * d3;
    o1[i] = ps + qd;
    o2[i] = m0 * s0 + m1 * s1 + m2 * s2 + m3 * s3;
    o3[i] = ps - qd;
  }
}

// Interpolated rows between grid rows: out[r - 1][i] = sum_t w_r[t] rows[t][i]
// for the fractions r = 1 .. F - 1 (F a power of two >= 2; w holds F - 1
// sets of 8 weights, mirror pairs as above), i < n.
void interpolateDownRows(const double* w, long F, const double* const* rows, long n, double* const* out) {
  const long half = F / 2;
  const Pair m = pairOf(w + (half - 1) * 8);
  if (F == 4) {
    downFour(rows[0], rows[1], rows[2], rows[3], rows[4], rows[5], rows[6], rows[7], n, pairOf(w), m, out[0], out[1],
             out[2]);
    return;
  }
  downMiddle(rows[0], rows[1], rows[2], rows[3], rows[4], rows[5], rows[6], rows[7], n, m, out[half - 1]);
  for (long r = 1; r < half; ++r)
    downPair(rows[0], rows[1], rows[2], rows[3], rows[4], rows[5], rows[6], rows[7], n, pairOf(w + (r - 1) * 8),
             out[r - 1], out[F - r - 1]);
}

// F = 2, four grid intervals at once: out[k][i] = P.S of rows k .. k + 7
// (k = 0..3, eleven rows), each as downMiddle makes it, with the rows read
// once for the four.
void downMiddleFour(Row r0, Row r1, Row r2, Row r3, Row r4, Row r5, Row r6, Row r7, Row r8, Row r9, Row r10, long n,
                    const Pair m, double* __restrict o0, double* __restrict o1, double* __restrict o2,
                    double* __restrict o3) {
  const double p0 = m.p0, p1 = m.p1, p2 = m.p2, p3 = m.p3;
  for (long i = 0; i < n; ++i) {
    const double a0 = r0[i], a1 = r1[i], a2 = r2[i], a3 = r3[i], a4 = r4[i], a5 = r5[i], a6 = r6[i], a7 = r7[i],
                 a8 = r8[i], a9 = r9[i], a10 = r10[i];
    o0[i] = p0 * (a0 + a7) + p1 * (a1 + a6) + p2 * (a2 + a5) + p3 * (a3 + a4);
    o1[i] = p0 * (a1 + a8) + p1 * (a2 + a7) + p2 * (a3 + a6) + p3 * (a4 + a5);
    o2[i] = p0 * (a2 + a9) + p1 * (a3 + a8) + p2 * (a4 + a7) + p3 * (a5 + a6);
    o3[i] = p0 * (a3 + a10) + p1 * (a4 + a9) + p2 * (a5 + a8) + p3 * (a6 + a7);
  }
}

// F = 2 (one set of 8 weights, symmetric): the rows between grid rows n + k
// and n + k + 1 for k = 0..3, from the eleven rows n - 3 .. n + 7; the same
// values as four calls of interpolateDownRows.
void interpolateMiddleDownFourRows(const double* w, const double* const* rows, long n, double* const* out) {
  downMiddleFour(rows[0], rows[1], rows[2], rows[3], rows[4], rows[5], rows[6], rows[7], rows[8], rows[9], rows[10], n,
                 pairOf(w), out[0], out[1], out[2], out[3]);
}

inline float magnitudeOf(double re, double im, double scale) {
  return static_cast<float>(std::sqrt(re * re + im * im) * scale);
}

// Across, F = 2: out[2k] = |sample k|, out[2k + 1] = |P.S| (middle).
void acrossTwo(Row a, Row b, long whole, const Pair m, double scale, float* __restrict o) {
  const double p0 = m.p0, p1 = m.p1, p2 = m.p2, p3 = m.p3;
  for (long k = 0; k < whole; ++k) {
    const double mr =
        p0 * (a[k] + a[k + 7]) + p1 * (a[k + 1] + a[k + 6]) + p2 * (a[k + 2] + a[k + 5]) + p3 * (a[k + 3] + a[k + 4]);
    const double mi =
        p0 * (b[k] + b[k + 7]) + p1 * (b[k + 1] + b[k + 6]) + p2 * (b[k + 2] + b[k + 5]) + p3 * (b[k + 3] + b[k + 4]);
    o[2 * k] = magnitudeOf(a[k + 3], b[k + 3], scale);
    o[2 * k + 1] = magnitudeOf(mr, mi, scale);
  }
}

// Across, F = 4: the sample, P.S + Q.D, the middle, P.S - Q.D.
void acrossFour(Row a, Row b, long whole, const Pair p, const Pair m, double scale, float* __restrict o) {
  const double p0 = p.p0, p1 = p.p1, p2 = p.p2, p3 = p.p3, q0 = p.q0, q1 = p.q1, q2 = p.q2, q3 = p.q3;
  const double m0 = m.p0, m1 = m.p1, m2 = m.p2, m3 = m.p3;
  for (long k = 0; k < whole; ++k) {
    const double sr0 = a[k] + a[k + 7], sr1 = a[k + 1] + a[k + 6], sr2 = a[k + 2] + a[k + 5], sr3 = a[k + 3] + a[k + 4];
    const double dr0 = a[k] - a[k + 7], dr1 = a[k + 1] - a[k + 6], dr2 = a[k + 2] - a[k + 5], dr3 = a[k + 3] - a[k + 4];
    const double si0 = b[k] + b[k + 7], si1 = b[k + 1] + b[k + 6], si2 = b[k + 2] + b[k + 5], si3 = b[k + 3] + b[k + 4];
    const double di0 = b[k] - b[k + 7], di1 = b[k + 1] - b[k + 6], di2 = b[k + 2] - b[k + 5], di3 = b[k + 3] - b[k + 4];
    const double psr = p0 * sr0 + p1 * sr1 + p2 * sr2 + p3 * sr3, qdr = q0 * dr0 + q1 * dr1 + q2 * dr2 + q3 * dr3;
    const double psi = p0 * si0 + p1 * si1 + p2 * si2 + p3 * si3, qdi = q0 * di0 + q1 * di1 + q2 * di2 + q3 * di3;
    o[4 * k] = magnitudeOf(a[k + 3], b[k + 3], scale);
    o[4 * k + 1] = magnitudeOf(psr + qdr, psi + qdi, scale);
    o[4 * k + 2] =
        magnitudeOf(m0 * sr0 + m1 * sr1 + m2 * sr2 + m3 * sr3, m0 * si0 + m1 * si1 + m2 * si2 + m3 * si3, scale);
    o[4 * k + 3] = magnitudeOf(psr - qdr, psi - qdi, scale);
  }
}

// One output row across: the samples re[m + 3], im[m + 3] (m = 0 ..; three
// before and four after from the wrap) interpolated to F outputs each
// (fraction 0: the sample itself), out[m F + r] = float(|value| * scale) for
// m F + r < count. F a power of two >= 2; weights as above. F = 2 and 4 in
// vector loops; the general F and the last, partial group element by
// element, with the same operations.
void magnitudeAcrossRow(const double* w, long F, const double* re, const double* im, long count, double scale,
                        float* out) {
  const long half = F / 2;
  const Pair m = pairOf(w + (half - 1) * 8);
  const long whole = F <= 4 ? count / F : 0;
  if (F == 2) acrossTwo(re, im, whole, m, scale, out);
  if (F == 4) acrossFour(re, im, whole, pairOf(w), m, scale, out);
  for (long i = whole * F; i < count; ++i) {
    const long k = i / F, r = i % F;
    const double* x = re + k;
    const double* y = im + k;
    if (r == 0) {
      out[i] = magnitudeOf(x[3], y[3], scale);
    } else if (2 * r == F) {
      const double mr = m.p0 * (x[0] + x[7]) + m.p1 * (x[1] + x[6]) + m.p2 * (x[2] + x[5]) + m.p3 * (x[3] + x[4]);
      const double mi = m.p0 * (y[0] + y[7]) + m.p1 * (y[1] + y[6]) + m.p2 * (y[2] + y[5]) + m.p3 * (y[3] + y[4]);
      out[i] = magnitudeOf(mr, mi, scale);
    } else {
      const Pair p = pairOf(w + ((r < half ? r : F - r) - 1) * 8);
      const double psr = p.p0 * (x[0] + x[7]) + p.p1 * (x[1] + x[6]) + p.p2 * (x[2] + x[5]) + p.p3 * (x[3] + x[4]);
      const double qdr = p.q0 * (x[0] - x[7]) + p.q1 * (x[1] - x[6]) + p.q2 * (x[2] - x[5]) + p.q3 * (x[3] - x[4]);
      const double psi = p.p0 * (y[0] + y[7]) + p.p1 * (y[1] + y[6]) + p.p2 * (y[2] + y[5]) + p.p3 * (y[3] + y[4]);
      const double qdi = p.q0 * (y[0] - y[7]) + p.q1 * (y[1] - y[6]) + p.q2 * (y[2] - y[5]) + p.q3 * (y[3] - y[4]);
      out[i] = r < half ? magnitudeOf(psr + qdr, psi + qdi, scale) : magnitudeOf(psr - qdr, psi - qdi, scale);
    }
  }
}

// re[i] = z[2 i], im[i] = z[2 i + 1], widened to double (exact).
void widenRow(const float* z, long n, double* re, double* im) {
  const float* __restrict a = z;
  double* __restrict r = re;
  double* __restrict m = im;
  for (long i = 0; i < n; ++i) {
    r[i] = static_cast<double>(a[2 * i]);
    m[i] = static_cast<double>(a[2 * i + 1]);
  }
}

// out[2 i + c] = float(double(z[2 i + c]) g[i]) (c = 0, 1).
void scaleCellsRow(const float* z, const double* g, long n, float* out) {
  const float* __restrict a = z;
  const double* __restrict w = g;
  float* __restrict o = out;
  for (long i = 0; i < n; ++i) {
    o[2 * i] = static_cast<float>(static_cast<double>(a[2 * i]) * w[i]);
    o[2 * i + 1] = static_cast<float>(static_cast<double>(a[2 * i + 1]) * w[i]);
  }
}

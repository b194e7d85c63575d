// Written straight from the algorithm text, with plain loops. Each comment names the
// step it restates; arithmetic is in double, rounded to float on every store.
#include "reference_fft.h"

#include <cmath>
#include <utility>
#include <vector>

namespace reference {
namespace {

using Table = std::vector<std::vector<float>>;  // [k] = cos t, sin t, cos 3t, sin 3t; t = 2 pi / 2^k

Table makeTable() {
  Table t(16);
  for (int k = 0; k < 16; ++k) {
    double theta = 6.283185307179586 / std::pow(2.0, k);
    t[k] = {(float)std::cos(theta), (float)std::sin(theta), (float)std::cos(3 * theta), (float)std::sin(3 * theta)};
  }
  return t;
}

void swapValues(float* z, long a, long b) {
  std::swap(z[2 * a], z[2 * b]);
  std::swap(z[2 * a + 1], z[2 * b + 1]);
}

void conjugate(float* z, long n) {
  for (long i = 0; i < n; ++i) z[2 * i + 1] = -z[2 * i + 1];
}

void fft1d(float* z, long n, int direction, const Table& t) {
  if (n < 2) return;
  if (direction < 0) conjugate(z, n);
  int k = 0;
  while ((1L << k) < n) ++k;
  for (long s = n; s >= 4; s /= 2, --k) {  // split-radix stages, span s
    long q = s / 4;
    double c1 = 1, s1 = 0, c3 = 1, s3 = 0;
    for (long j = 0; j < q; ++j) {
      for (long is = j, id = 2 * s; is < n - 1; is = 2 * id - s + j, id *= 4) {
        for (long i = is; i < n - 1; i += id) {
          float *a = z + 2 * i, *b = a + 2 * q, *c = b + 2 * q, *d = c + 2 * q;
          double ar = (double)a[0] - c[0], ai = (double)a[1] - c[1];
          double br = (double)b[0] - d[0], bi = (double)b[1] - d[1];
          a[0] = (float)((double)a[0] + c[0]), a[1] = (float)((double)a[1] + c[1]);
          b[0] = (float)((double)b[0] + d[0]), b[1] = (float)((double)b[1] + d[1]);
          double t1 = ar + bi, t2 = br - ai, t3 = ar - bi, t4 = br + ai;
          c[0] = (float)(t1 * c1 - t2 * s1), c[1] = (float)(-t2 * c1 - t1 * s1);
          d[0] = (float)(t3 * c3 + t4 * s3), d[1] = (float)(t4 * c3 - t3 * s3);
        }
      }
      double r = c1;  // w1 *= table w1, w3 *= table w3, in double
      c1 = r * t[k][0] - s1 * t[k][1], s1 = r * t[k][1] + s1 * t[k][0];
      r = c3;
      c3 = r * t[k][2] - s3 * t[k][3], s3 = r * t[k][3] + s3 * t[k][2];
    }
  }
  for (long is = 0, id = 4; is < n - 1; is = 2 * id - 2, id *= 4) {  // length-2 stage
    for (long i = is; i < n; i += id) {
      double ar = z[2 * i], ai = z[2 * i + 1], br = z[2 * i + 2], bi = z[2 * i + 3];
      z[2 * i] = (float)(ar + br), z[2 * i + 1] = (float)(ai + bi);
      z[2 * i + 2] = (float)(ar - br), z[2 * i + 3] = (float)(ai - bi);
    }
  }
  for (long i = 1, j = 1; i < n; ++i) {  // 1-based reversal counter
    if (i < j) swapValues(z, i - 1, j - 1);
    long m = n / 2;
    for (; m < j; m /= 2) j -= m;
    j += m;
  }
  if (direction < 0) conjugate(z, n);
}

bool outside(long row, long n, long bandMin, long bandMax)  // centered row frame
{
  long c = row < n / 2 ? row + n / 2 : row - n / 2;
  return c < bandMin || c > bandMax;
}

bool blockOutside(long b, long n, long bandMin, long bandMax) {
  long shift = b < n / 2 ? -n / 2 : n / 2;
  return b + 4 < bandMin + shift || b > bandMax + shift;
}

// In place; leaves alone the elements of off-diagonal 4x4 tile pairs whose row blocks
// are both outside a band that is not the whole array.
void transposeSquare(float* z, long n, long bandMin, long bandMax) {
  bool banded = bandMin > 0 || bandMax < n;
  for (long r = 0; r < n; ++r)
    for (long c = r + 1; c < n; ++c)
      if (!(banded && r / 4 != c / 4 && blockOutside(r / 4 * 4, n, bandMin, bandMax) &&
            blockOutside(c / 4 * 4, n, bandMin, bandMax)))
        swapValues(z, r * n + c, c * n + r);
}

void transpose(const float* src, float* dst, long cols, long rows) {
  for (long r = 0; r < rows; ++r)
    for (long c = 0; c < cols; ++c)
      dst[2 * (c * rows + r)] = src[2 * (r * cols + c)], dst[2 * (c * rows + r) + 1] = src[2 * (r * cols + c) + 1];
}

}  // namespace

void complexFFT2D(float* data, long w, long h, int direction, long bandMin, long bandMax) {
  Table t = makeTable();
  for (long y = 0; y < h; ++y)
    if (!outside(y, h, bandMin, bandMax)) fft1d(data + 2 * w * y, w, direction, t);
  std::vector<float> cols(data, data + 2 * w * h);
  if (w == h)
    transposeSquare(data, w, bandMin, bandMax);
  else
    transpose(data, cols.data(), w, h);
  float* rows = w == h ? data : cols.data();
  for (long x = 0; x < w; ++x) fft1d(rows + 2 * h * x, h, direction, t);
  if (w == h)
    transposeSquare(data, w, 0, w);
  else
    transpose(cols.data(), data, h, w);
}

void realFFT2D(float* data, long w, long h) {
  Table t = makeTable();
  long n = w / 2;
  double theta = 3.141592653589793 / (n > 0 ? n : 1);
  double wpr = (float)(-2.0 * std::sin(0.5 * theta) * std::sin(0.5 * theta)), wpi = (float)(-std::sin(theta));
  for (long y = 0; y < h && w > 1; ++y) {
    float* z = data + 2 * w * y;
    fft1d(z, n, 1, t);
    double wr = 1 + wpr, wi = wpi;
    for (long k = 1; k < w / 4; ++k) {  // untangle Z[k], Z[n-k]
      float *a = z + 2 * k, *b = z + 2 * (n - k);
      double h1r = 0.5 * ((double)a[0] + b[0]), h1i = 0.5 * ((double)a[1] - b[1]);
      double h2r = 0.5 * ((double)a[1] + b[1]), h2i = -0.5 * ((double)a[0] - b[0]);
      double pr = wr * h2r - wi * h2i, pi = wr * h2i + wi * h2r;  // w_k H2
      a[0] = (float)(h1r + pr), a[1] = (float)(h1i + pi);
      b[0] = (float)(h1r - pr), b[1] = (float)(-(h1i - pi));
      double r = wr;
      wr = r + (r * wpr - wi * wpi), wi = (float)(wi + (r * wpi + wi * wpr));
    }
    if (w >= 4) z[2 * (w / 4) + 1] = -z[2 * (w / 4) + 1];
    double re = z[0], im = z[1];
    z[0] = (float)(re + im), z[1] = 0, z[2 * n] = (float)(re - im), z[2 * n + 1] = 0;
  }
  std::vector<float> cols(data, data + 2 * w * h);  // full transposes: columns 0 ... n suffice
  transpose(data, cols.data(), w, h);
  for (long x = 0; x <= n; ++x) fft1d(cols.data() + 2 * h * x, h, 1, t);
  transpose(cols.data(), data, h, w);
  for (long y = 0; y < h; ++y)  // conjugate-symmetric fill
    for (long k = 1; k < n; ++k) {
      const float* src = data + 2 * (w * ((h - y) % h) + k);
      data[2 * (w * y + w - k)] = src[0], data[2 * (w * y + w - k) + 1] = -src[1];
    }
}

}  // namespace reference

// The inverse transforms' per-pixel loops, exported under plain names. Each
// name pair shares one body; the scratch word of the calling convention
// carries nothing here.

#include "filt/fft.h"
#include "fft/pixel_math.h"

namespace {

template <class P, class F>
void loop(const float* source, P* destination, long width, long columns, long pitch, long* rows, F pixel) {
  auto* row = reinterpret_cast<unsigned char*>(destination);
  for (; *rows > 0; --*rows, source += 2 * width, row += pitch) {
    P* d = reinterpret_cast<P*>(row);
    for (long x = 0; x < columns; ++x) d[x] = pixel(source + 2 * x);
  }
}

template <class P>
void saturated(const float* source, P* destination, float k, long width, long columns, long pitch, long* rows,
               double max) {
  const double kd = k;
  loop(source, destination, width, columns, pitch, rows,
       [=](const float* e) { return static_cast<P>(vf_pixel::roundSaturated(vf_pixel::magnitude(e) * kd, max)); });
}

template <class P>
void stretched(const float* source, P* destination, float scale, float low, float k, long width, long columns,
               long pitch, long* rows) {
  const double kd = k, lowd = low, scaled = scale;
  loop(source, destination, width, columns, pitch, rows, [=](const float* e) {
    return static_cast<P>(vf_pixel::roundWrapped((vf_pixel::magnitude(e) * kd - lowd) * scaled));
  });
}

}  // namespace

extern "C" {

void vf_InverseFFTInline4(const float* s, unsigned char* d, unsigned short*, float k, long width, long columns,
                          long pitch, long* rows) {
  saturated(s, d, k, width, columns, pitch, rows, 255.0);
}
void vf_InverseFFTInline11(const float* s, unsigned char* d, unsigned short* scratch, float k, long width,
                           long columns, long pitch, long* rows) {
  vf_InverseFFTInline4(s, d, scratch, k, width, columns, pitch, rows);
}

void vf_InverseFFTInline2(const float* s, unsigned char* d, unsigned short*, float scale, float low, float k, long width,
                          long columns, long pitch, long* rows) {
  stretched(s, d, scale, low, k, width, columns, pitch, rows);
}
void vf_InverseFFTInline9(const float* s, unsigned char* d, unsigned short* scratch, float scale, float low, float k,
                          long width, long columns, long pitch, long* rows) {
  vf_InverseFFTInline2(s, d, scratch, scale, low, k, width, columns, pitch, rows);
}

void vf_InverseFFTInline6(const float* s, unsigned short* d, unsigned int*, float k, long width, long columns,
                          long pitch, long* rows) {
  saturated(s, d, k, width, columns, pitch, rows, 65535.0);
}
void vf_InverseFFTInline13(const float* s, unsigned short* d, unsigned int* scratch, float k, long width, long columns,
                           long pitch, long* rows) {
  vf_InverseFFTInline6(s, d, scratch, k, width, columns, pitch, rows);
}

void vf_InverseFFTInline5(const float* s, unsigned short* d, unsigned int*, float scale, float low, float k,
                          long width, long columns, long pitch, long* rows) {
  stretched(s, d, scale, low, k, width, columns, pitch, rows);
}
void vf_InverseFFTInline12(const float* s, unsigned short* d, unsigned int* scratch, float scale, float low, float k,
                           long width, long columns, long pitch, long* rows) {
  vf_InverseFFTInline5(s, d, scratch, scale, low, k, width, columns, pitch, rows);
}

void vf_InverseFFTInline7(const float* s, double* d, long columns, float k, long width, long pitch, long* rows) {
  const double kd = k;
  loop(s, d, width, columns, pitch, rows, [=](const float* e) { return vf_pixel::magnitude(e) * kd; });
}

void vf_InverseFFTInline14(const float* s, double* d, unsigned char* quadrant, float k, unsigned short*, long width,
                           long columns, long pitch, long quadrantPitch, long* rows) {
  const double kd = k;
  for (; *rows > 0; --*rows, s += 2 * width) {
    for (long x = 0; x < columns; ++x) {
      d[x] = vf_pixel::magnitude(s + 2 * x) * kd;
      quadrant[x] = vf_pixel::quadrantCode(s + 2 * x);
    }
    d = reinterpret_cast<double*>(reinterpret_cast<unsigned char*>(d) + pitch);
    quadrant += quadrantPitch;
  }
}

}  // extern "C"

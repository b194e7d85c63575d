// The inverse transforms' per-pixel loops, exported under plain names. Each
// name pair shares one body; the scratch word of the calling convention
// carries nothing here.

#include "filt/fft.h"
#include "loops/pixel_math.h"
#include "loops/pixel_rows.h"

namespace {

// Runs `row(source, destination row)` over *rows rows, counting *rows down
// to 0 as it goes; source rows are `width` elements apart, destination rows
// `pitch` bytes.
template <class P, class Row>
void loop(const float* source, P* destination, long width, long pitch, long* rows, Row row) {
  auto* bytes = reinterpret_cast<unsigned char*>(destination);
  for (; *rows > 0; --*rows, source += 2 * width, bytes += pitch) row(source, reinterpret_cast<P*>(bytes));
}

// The kernels of the widest level this CPU runs (the same bits at every level).
vc_PixelRows kernels() {
  return vf_PixelRows(vf_BestEngineLevel());
}

template <class P>
void saturated(const float* source, P* destination, float k, long width, long columns, long pitch, long* rows) {
  const vc_PixelRows rowKernels = kernels();
  const double kd = k;
  loop(source, destination, width, pitch, rows, [&](const float* e, P* d) {
    if constexpr (sizeof(P) == 1)
      rowKernels.saturated8(e, d, columns, kd);
    else
      rowKernels.saturated16(e, d, columns, kd);
  });
}

template <class P>
void stretched(const float* source, P* destination, float scale, float low, float k, long width, long columns,
               long pitch, long* rows) {
  const vc_PixelRows rowKernels = kernels();
  const double kd = k, lowd = low, scaled = scale;
  loop(source, destination, width, pitch, rows, [&](const float* e, P* d) {
    if constexpr (sizeof(P) == 1)
      rowKernels.stretched8(e, d, columns, kd, lowd, scaled);
    else
      rowKernels.stretched16(e, d, columns, kd, lowd, scaled);
  });
}

}  // namespace

extern "C" {

void vf_InverseFFTInline4(const float* s, unsigned char* d, unsigned short*, float k, long width, long columns,
                          long pitch, long* rows) {
  saturated(s, d, k, width, columns, pitch, rows);
}
void vf_InverseFFTInline11(const float* s, unsigned char* d, unsigned short* scratch, float k, long width, long columns,
                           long pitch, long* rows) {
  vf_InverseFFTInline4(s, d, scratch, k, width, columns, pitch, rows);
}

void vf_InverseFFTInline2(const float* s, unsigned char* d, unsigned short*, float scale, float low, float k,
                          long width, long columns, long pitch, long* rows) {
  stretched(s, d, scale, low, k, width, columns, pitch, rows);
}
void vf_InverseFFTInline9(const float* s, unsigned char* d, unsigned short* scratch, float scale, float low, float k,
                          long width, long columns, long pitch, long* rows) {
  vf_InverseFFTInline2(s, d, scratch, scale, low, k, width, columns, pitch, rows);
}

void vf_InverseFFTInline6(const float* s, unsigned short* d, unsigned int*, float k, long width, long columns,
                          long pitch, long* rows) {
  saturated(s, d, k, width, columns, pitch, rows);
}
void vf_InverseFFTInline13(const float* s, unsigned short* d, unsigned int* scratch, float k, long width, long columns,
                           long pitch, long* rows) {
  vf_InverseFFTInline6(s, d, scratch, k, width, columns, pitch, rows);
}

void vf_InverseFFTInline5(const float* s, unsigned short* d, unsigned int*, float scale, float low, float k, long width,
                          long columns, long pitch, long* rows) {
  stretched(s, d, scale, low, k, width, columns, pitch, rows);
}
void vf_InverseFFTInline12(const float* s, unsigned short* d, unsigned int* scratch, float scale, float low, float k,
                           long width, long columns, long pitch, long* rows) {
  vf_InverseFFTInline5(s, d, scratch, scale, low, k, width, columns, pitch, rows);
}

void vf_InverseFFTInline7(const float* s, double* d, long columns, float k, long width, long pitch, long* rows) {
  const vc_PixelRows rowKernels = kernels();
  const double kd = k;
  loop(s, d, width, pitch, rows, [&](const float* e, double* row) { rowKernels.magnitudes(e, row, columns, kd); });
}

void vf_InverseFFTInline14(const float* s, double* d, unsigned char* quadrant, float k, unsigned short*, long width,
                           long columns, long pitch, long quadrantPitch, long* rows) {
  const vc_PixelRows rowKernels = kernels();
  const double kd = k;
  for (; *rows > 0; --*rows, s += 2 * width) {
    rowKernels.magnitudes(s, d, columns, kd);
    for (long x = 0; x < columns; ++x) quadrant[x] = vf_pixel::quadrantCode(s + 2 * x);
    d = reinterpret_cast<double*>(reinterpret_cast<unsigned char*>(d) + pitch);
    quadrant += quadrantPitch;
  }
}

}  // extern "C"

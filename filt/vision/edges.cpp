// Edge modes: index mapping, extended regions and padding.

#include "filt/vision/edges.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

long vfEdgeIndex(long i, long n, vcEdgeMode mode) {
  if (n < 1) throw std::invalid_argument("vfEdgeIndex: the axis must hold at least one pixel");
  if (i >= 0 && i < n) return i;
  switch (mode) {
    case vcEdgeMode::eZero:
      return -1;
    case vcEdgeMode::ePeriodic: {
      const long r = i % n;  // i % n keeps the sign of i; no overflow for any i
      return r < 0 ? r + n : r;
    }
    case vcEdgeMode::eReflect: {
      // Period 2n; the second half runs backwards. 2n may overflow for huge
      // n, so fold by n first: q = floor(i / n) picks the copy, r the place.
      long q = i / n, r = i % n;
      if (r < 0) {
        r += n;
        --q;
      }
      return (q & 1) == 0 ? r : n - 1 - r;
    }
    case vcEdgeMode::eNearest:
      return i < 0 ? 0 : n - 1;
  }
  throw std::invalid_argument("vfEdgeIndex: unknown edge mode");
}

namespace {

void requireBound(const vc_PelBuffer& image) {
  if (!image.isBound()) throw vcFrequencyDefs::UnboundWindow();
}

}  // namespace

template <class T>
void vfEdgeRegion(const vcPelBuffer_const<T>& source, long x, long y, vcPelBuffer<T>& destination, vcEdgeMode mode) {
  requireBound(source);
  requireBound(destination);
  const long sw = source.width(), sh = source.height();
  const long dw = destination.width(), dh = destination.height();
  if (dw == 0 || dh == 0) return;
  if (sw == 0 || sh == 0) {  // nothing to extend: every mode sees zeros
    vfPelSet(destination, T(0));
    return;
  }
  (void)vfEdgeIndex(0, 1, mode);  // rejects an unknown mode before writing
  // Column map, and the run of destination columns that read the source in
  // place [inFirst, inLast): those are copied row by row in one piece.
  std::vector<long> columns(static_cast<std::size_t>(dw));
  for (long j = 0; j < dw; ++j) columns[static_cast<std::size_t>(j)] = vfEdgeIndex(x + j, sw, mode);
  const long inFirst = std::clamp(-x, 0L, dw);
  const long inLast = std::clamp(sw - x, inFirst, dw);
  const T* s = source.pointToOffset();
  const long ss = source.rep().rowStride();
  T* d = destination.pointToOffset();
  const long ds = destination.rep().rowStride();
  for (long r = 0; r < dh; ++r, d += ds) {
    const long sy = vfEdgeIndex(y + r, sh, mode);
    if (sy < 0) {
      std::fill(d, d + dw, T(0));
      continue;
    }
    const T* row = s + sy * ss;
    for (long j = 0; j < inFirst; ++j) {
      const long c = columns[static_cast<std::size_t>(j)];
      d[j] = c < 0 ? T(0) : row[c];
    }
    if (inLast > inFirst)
      std::memcpy(d + inFirst, row + (x + inFirst), static_cast<std::size_t>(inLast - inFirst) * sizeof(T));
    for (long j = inLast; j < dw; ++j) {
      const long c = columns[static_cast<std::size_t>(j)];
      d[j] = c < 0 ? T(0) : row[c];
    }
  }
}

template <class T>
vcPelBuffer<T> vfEdgePad(const vcPelBuffer_const<T>& source, long left, long top, long right, long bottom,
                         vcEdgeMode mode) {
  requireBound(source);
  if (left < 0 || top < 0 || right < 0 || bottom < 0)
    throw std::invalid_argument("vfEdgePad: pad widths cannot be negative");
  (void)vfEdgeIndex(0, 1, mode);
  // Each term is checked before the sum so that nothing overflows.
  if (left > kEdgeMaxSide || right > kEdgeMaxSide || top > kEdgeMaxSide || bottom > kEdgeMaxSide ||
      left + right + source.width() > kEdgeMaxSide || top + bottom + source.height() > kEdgeMaxSide)
    throw std::length_error("vfEdgePad: a padded side would exceed 2^20 pixels");
  vcPelBuffer<T> result(left + source.width() + right, top + source.height() + bottom);
  vfEdgeRegion(source, -left, -top, result, mode);
  result.offset(source.offset().x - left, source.offset().y - top);
  result.copyXforms(source);
  return result;
}

#define VEXFILT_INSTANTIATE_EDGES(T)                                                                               \
  template VEXFILT_API void vfEdgeRegion<T>(const vcPelBuffer_const<T>&, long, long, vcPelBuffer<T>&, vcEdgeMode); \
  template VEXFILT_API vcPelBuffer<T> vfEdgePad<T>(const vcPelBuffer_const<T>&, long, long, long, long, vcEdgeMode);
VEXFILT_INSTANTIATE_EDGES(unsigned char)
VEXFILT_INSTANTIATE_EDGES(unsigned short)
VEXFILT_INSTANTIATE_EDGES(double)
#undef VEXFILT_INSTANTIATE_EDGES

// Index-level oracle of the edge modes for the vision tests: the extension
// built by walking (mirror or shift one period at a time), as numpy.pad
// describes it, not by modular arithmetic.
#pragma once

#include "filt/vision/edges.h"

namespace vftest {

inline long edgeIndex(long i, long n, vcEdgeMode mode) {
  if (mode == vcEdgeMode::eZero) return i >= 0 && i < n ? i : -1;
  if (mode == vcEdgeMode::eNearest) return i < 0 ? 0 : (i >= n ? n - 1 : i);
  while (i < 0 || i >= n) {
    if (mode == vcEdgeMode::ePeriodic) {
      i += i < 0 ? n : -n;
    } else {  // reflect about the border between pixels: -1 -> 0, n -> n - 1
      i = i < 0 ? -1 - i : 2 * n - 1 - i;
    }
  }
  return i;
}

template <class T>
T extendedPixel(const vcPelBuffer_const<T>& image, long x, long y, vcEdgeMode mode) {
  const long ix = edgeIndex(x, image.width(), mode), iy = edgeIndex(y, image.height(), mode);
  return ix < 0 || iy < 0 ? T(0) : image.get(ix, iy);
}

}  // namespace vftest

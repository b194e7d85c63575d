#include "fft/zero_pad.h"

#include <algorithm>
#include <cstring>

#include "vexstd/exception.h"
#include "vexsys/attention.h"

void vf_ZeroPad(long imageWidth, long imageHeight, long width, long height, float* data) {
  vfThrowExceptionOnFailure(vsys_attention_check());
  // An image size outside 0..padded (a buffer sized from 0 or less) pads
  // everything, or nothing, rather than writing outside the array.
  const long iw = std::clamp(imageWidth, 0L, width);
  const long ih = std::clamp(imageHeight, 0L, height);
  const long rowFloats = 2 * width;
  for (long y = 0; y < ih; ++y)
    std::memset(data + y * rowFloats + 2 * iw, 0, sizeof(float) * static_cast<std::size_t>(2 * (width - iw)));
  std::memset(data + ih * rowFloats, 0, sizeof(float) * static_cast<std::size_t>(rowFloats * (height - ih)));
}

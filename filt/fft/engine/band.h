// The row band of the complex transform.
//
// Rows are numbered in the centered row frame: stored row y < height/2 is centered row
// y + height/2, stored row y >= height/2 is centered row y - height/2 (the row a
// quadrant-swapped spectrum would show it in). The band [bandMin, bandMax] is
// inclusive; the caller guarantees that every row outside it is zero, which lets the
// first pass skip those rows and the square transpose skip tiles that are zero.
#pragma once

#include <algorithm>

// Band limits may come from an archived buffer and be any long. Clamping them to
// [-1, height + 1] changes the outcome of no comparison the engine makes with them
// (centered rows lie in [0, height - 1], tested blocks start in [0, height - 4]) and
// keeps the frame shifts of vf_BlockOutsideBand from overflowing.
inline void vf_ClampBand(long& bandMin, long& bandMax, long height) {
  bandMin = std::clamp(bandMin, -1L, height + 1);
  bandMax = std::clamp(bandMax, -1L, height + 1);
}

inline bool vf_RowOutsideBand(long y, long height, long bandMin, long bandMax) {
  const long c = y < height / 2 ? y + height / 2 : y - height / 2;
  return c < bandMin || c > bandMax;
}

// True when the four stored rows b ... b+3 of an n x n array (b a multiple of 4,
// n >= 8, so the block lies in one half of the frame) are all outside the band.
// The test is deliberately conservative at the lower edge (b + 4 < lo).
inline bool vf_BlockOutsideBand(long b, long n, long bandMin, long bandMax) {
  const long shift = b < n / 2 ? -n / 2 : n / 2;
  const long lo = bandMin + shift;
  const long hi = bandMax + shift;
  return b + 4 < lo || b > hi;
}

// vexfilt11 vision layer: what lies beyond an image's border.
//
// An edge mode extends an image of n pixels along an axis to every integer
// coordinate i (numpy.pad's names in brackets):
//   zero      0 outside the image ('constant'); what the whole-buffer
//             transforms do when they pad an image to a power of two.
//   periodic  pixel i mod n: the image repeats with its own size ('wrap').
//   reflect   mirrored about the border between the edge pixel and the next:
//             ... c b a | a b c ... | x y z | z y x ... ('symmetric'; scipy.ndimage
//             calls it 'reflect'). The extension has period 2n.
//   nearest   the edge pixel repeated ('edge').
// Both axes are extended independently, so a corner beyond both borders takes
// the pixel that the two index mappings give.
#pragma once

#include <cstdint>

#include "filt/fft.h"

enum class vcEdgeMode : std::int32_t { eZero = 0, ePeriodic = 1, eReflect = 2, eNearest = 3 };

// The image index that coordinate i maps to along an axis of n > 0 pixels,
// in [0, n); -1 in zero mode for a coordinate outside [0, n). Any long i is
// accepted (no overflow). Throws std::invalid_argument for n < 1 or an
// unknown mode.
VEXFILT_API long vfEdgeIndex(long i, long n, vcEdgeMode mode);

// The largest side an edge routine makes (2^20 pixels); a larger request
// throws std::length_error before allocating.
inline constexpr long kEdgeMaxSide = 1L << 20;

// Fills all of `destination` with the extended image read over the rectangle
// whose top-left corner is at (x, y) in `source`'s pixel coordinates (counted
// from its top-left pixel, offsets ignored); the rectangle may lie partly or
// wholly outside the source. `destination` keeps its size, offset and
// transform. Throws UnboundWindow (no text) when either image is unbound.
// For T = unsigned char, unsigned short, double.
template <class T>
VEXFILT_API void vfEdgeRegion(const vcPelBuffer_const<T>& source, long x, long y, vcPelBuffer<T>& destination,
                              vcEdgeMode mode);

// A new image of (left + width + right) x (top + height + bottom) pixels: the
// source in the middle, extended by `mode` around it (numpy.pad with the
// widths ((top, bottom), (left, right))). Its offset is the source's minus
// (left, top), so every source pixel keeps its position, and it takes the
// source's client transform. Throws UnboundWindow (no text) for an unbound
// source, std::invalid_argument for a negative width, std::length_error for
// a side above kEdgeMaxSide.
template <class T>
VEXFILT_API vcPelBuffer<T> vfEdgePad(const vcPelBuffer_const<T>& source, long left, long top, long right, long bottom,
                                     vcEdgeMode mode);

#define VEXFILT_EXTERN_EDGES(T)                                                                                \
  extern template VEXFILT_API void vfEdgeRegion<T>(const vcPelBuffer_const<T>&, long, long, vcPelBuffer<T>&,   \
                                                   vcEdgeMode);                                                \
  extern template VEXFILT_API vcPelBuffer<T> vfEdgePad<T>(const vcPelBuffer_const<T>&, long, long, long, long, \
                                                          vcEdgeMode);
VEXFILT_EXTERN_EDGES(unsigned char)
VEXFILT_EXTERN_EDGES(unsigned short)
VEXFILT_EXTERN_EDGES(double)
#undef VEXFILT_EXTERN_EDGES

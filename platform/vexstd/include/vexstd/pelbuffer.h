// Images ("pel buffers"): handles onto reference-counted pixel stores.
//
// Copying or assigning a handle shares the pixels; the pixels live as long as
// any handle does. Each handle carries its own size, offset and client
// transform. A window is a handle onto a rectangle of another image's pixels:
// it shares them, keeps the parent's row stride, and its offset is the
// parent's plus the window's corner, so every pixel keeps its position.
//
// Positions: pixel (x, y) of an image (counted from its top-left pixel) stands
// at position offset + (x, y). vfPelCopy copies between the pixels that stand
// at the same position in both images, and only those.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <limits>
#include <memory>
#include <type_traits>

#include "vexstd/exception.h"
#include "vexstd/export.h"
#include "vexstd/geometry.h"

class vc_PelBuffer;

// The copy between same-typed images behind vfPelCopy (bytes per pixel =
// rep().pelSize()). Safe when both handles share a store, also when the
// source and destination rectangles overlap in memory.
VEXSTD_API void vf_PelCopySameType(const vc_PelBuffer& src, vc_PelBuffer& dst);

// The pixel store behind a handle, and where the handle's top-left pixel is.
class VEXSTD_API vc_PelRep {
 public:
  vc_PelRep() = default;
  // Pixels from the start of one row to the start of the next.
  long rowStride() const { return stride_; }
  // Bytes per pixel.
  std::size_t pelSize() const { return pelSize_; }
  // True when both handles use the same pixel store.
  bool sharesPixelsWith(const vc_PelRep& other) const { return store_ && store_ == other.store_; }
  // Number of handles onto the store (0 when unbound).
  long useCount() const { return store_.use_count(); }

 private:
  std::shared_ptr<unsigned char[]> store_;
  unsigned char* origin_ = nullptr;  // the handle's top-left pixel
  long stride_ = 0;
  std::size_t pelSize_ = 0;

  friend class vc_PelBuffer;
};

// The untyped part of every image handle.
class VEXSTD_API vc_PelBuffer {
 public:
  long width() const { return width_; }
  long height() const { return height_; }
  bool isBound() const { return rep_.store_ != nullptr; }

  vcPair<long> offset() const { return offset_; }
  void offset(long x, long y) { offset_ = vcPair<long>(x, y); }
  void offset(const vcPair<long>& o) { offset_ = o; }

  void copyXforms(const vc_PelBuffer& other) { xforms_ = other.xforms_; }
  void copyXforms(const vc2XformCache& xforms) { xforms_ = xforms; }
  const vc2XformCache& xforms() const { return xforms_; }

  const vc_PelRep& rep() const { return rep_; }

 protected:
  vc_PelBuffer() = default;
  // A new zeroed image. Rows start on `alignment`-byte boundaries (a power of
  // two up to 4096; smaller than the pixel size means the pixel size).
  // Throws vcPlatformError for negative sizes or a bad alignment.
  vc_PelBuffer(long width, long height, long alignment, std::size_t pelSize);
  // A window onto part of `parent`; throws vcPlatformError when the parent is
  // unbound or the rectangle is not inside it.
  vc_PelBuffer(const vc_PelBuffer& parent, long x, long y, long width, long height);

  unsigned char* originBytes() const { return rep_.origin_; }
  // Throws vcPlatformError("<what>: image is not bound") for an unbound image.
  void requireBound(const char* what) const;
  // Throws vcPlatformError unless 0 <= x < width and 0 <= y < height.
  void requireInside(long x, long y) const;

 private:
  vc_PelRep rep_;
  long width_ = 0;
  long height_ = 0;
  vcPair<long> offset_;
  vc2XformCache xforms_;

  friend void vf_PelCopySameType(const vc_PelBuffer& src, vc_PelBuffer& dst);
};

// Positions far out (offsets near the range of long) must not overflow: the
// sums that bound an image's positions saturate.
inline long vf_PositionEnd(long offset, long size) {
  long end;
  return __builtin_add_overflow(offset, size, &end) ? (size < 0 ? LONG_MIN : LONG_MAX) : end;
}

// Pixel conversion of the converting copy: integers from floating values
// round toward zero and saturate to the pixel range (a NaN gives 0), so no
// value is out of range for the conversion.
template <class D, class S>
inline D vf_ConvertPel(S v) {
  if constexpr (std::is_integral_v<D> && std::is_floating_point_v<S>) {
    if (!(v == v)) return D(0);
    if (v <= static_cast<S>(std::numeric_limits<D>::lowest())) return std::numeric_limits<D>::lowest();
    if (v >= static_cast<S>(std::numeric_limits<D>::max())) return std::numeric_limits<D>::max();
    return static_cast<D>(v);
  } else {
    return static_cast<D>(v);
  }
}

// A read-only image of T pixels.
template <class T>
class vcPelBuffer_const : public vc_PelBuffer {
  static_assert(std::is_arithmetic_v<T>, "pixels are arithmetic values");

 public:
  vcPelBuffer_const() = default;
  vcPelBuffer_const(long width, long height, long alignment = 32) : vc_PelBuffer(width, height, alignment, sizeof(T)) {}
  vcPelBuffer_const(const vcPelBuffer_const& parent, long x, long y, long width, long height)
      : vc_PelBuffer(parent, x, y, width, height) {}

  // Address of the top-left pixel (null when unbound).
  const T* pointToOffset() const { return reinterpret_cast<const T*>(originBytes()); }
  // Pixel (x, y) from the top-left; throws vcPlatformError outside the image.
  T get(long x, long y) const {
    requireInside(x, y);
    return pointToOffset()[y * rep().rowStride() + x];
  }
};

// A writable image of T pixels.
template <class T>
class vcPelBuffer : public vcPelBuffer_const<T> {
 public:
  vcPelBuffer() = default;
  vcPelBuffer(long width, long height, long alignment = 32) : vcPelBuffer_const<T>(width, height, alignment) {}
  vcPelBuffer(const vcPelBuffer& parent, long x, long y, long width, long height)
      : vcPelBuffer_const<T>(parent, x, y, width, height) {}

  T* pointToOffset() const { return const_cast<T*>(vcPelBuffer_const<T>::pointToOffset()); }
  void set(long x, long y, T value) {
    this->requireInside(x, y);
    pointToOffset()[y * this->rep().rowStride() + x] = value;
  }
};

// Sets every pixel of `image` to `value`.
template <class T>
void vfPelSet(vcPelBuffer<T>& image, T value) {
  if (!image.isBound()) throw vcPlatformError("vfPelSet: image is not bound");
  T* row = image.pointToOffset();
  const long stride = image.rep().rowStride();
  for (long y = 0; y < image.height(); ++y, row += stride)
    for (long x = 0; x < image.width(); ++x) row[x] = value;
}

inline void vfPelSet_U8(vcPelBuffer<unsigned char>& image, unsigned char value) {
  vfPelSet(image, value);
}

// Copies, for every position where both images have a pixel, the source's
// pixel into the destination's (converting with vf_ConvertPel when the pixel
// types differ). Other destination pixels keep their values. Throws
// vcPlatformError when either image is unbound.
template <class S, class D>
void vfPelCopy(const vcPelBuffer_const<S>& src, vcPelBuffer<D>& dst) {
  if constexpr (std::is_same_v<S, D>) {
    vf_PelCopySameType(src, dst);
  } else {
    if (!src.isBound() || !dst.isBound()) throw vcPlatformError("vfPelCopy: image is not bound");
    const long x0 = std::max(src.offset().x, dst.offset().x);
    const long y0 = std::max(src.offset().y, dst.offset().y);
    const long x1 = std::min(vf_PositionEnd(src.offset().x, src.width()), vf_PositionEnd(dst.offset().x, dst.width()));
    const long y1 =
        std::min(vf_PositionEnd(src.offset().y, src.height()), vf_PositionEnd(dst.offset().y, dst.height()));
    for (long y = y0; y < y1; ++y) {
      const S* s = src.pointToOffset() + (y - src.offset().y) * src.rep().rowStride() + (x0 - src.offset().x);
      D* d = dst.pointToOffset() + (y - dst.offset().y) * dst.rep().rowStride() + (x0 - dst.offset().x);
      for (long i = 0; i < x1 - x0; ++i) d[i] = vf_ConvertPel<D>(s[i]);
    }
  }
}

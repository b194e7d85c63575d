#include "vexstd/pelbuffer.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace {

bool isPowerOfTwo(long v) {
  return v > 0 && (v & (v - 1)) == 0;
}

}  // namespace

vc_PelBuffer::vc_PelBuffer(long width, long height, long alignment, std::size_t pelSize) {
  if (width < 0 || height < 0) throw vcPlatformError("vcPelBuffer: width and height cannot be negative");
  if (!isPowerOfTwo(alignment) || alignment > 4096)
    throw vcPlatformError("vcPelBuffer: alignment must be a power of two from 1 to 4096");
  const std::size_t align = std::max<std::size_t>(static_cast<std::size_t>(alignment), pelSize);

  // Row bytes rounded up to the alignment; every product is checked so that an
  // absurd size fails here instead of wrapping round to a small allocation.
  constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max() / 4;
  const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  if (w > kMax / pelSize) throw vcPlatformError("vcPelBuffer: image too large");
  const std::size_t rowBytes = (w * pelSize + align - 1) / align * align;
  if (h != 0 && rowBytes > kMax / h) throw vcPlatformError("vcPelBuffer: image too large");
  const std::size_t bytes = rowBytes * h + align;  // room to align the first row

  rep_.store_ = std::shared_ptr<unsigned char[]>(new unsigned char[bytes]());
  const auto base = reinterpret_cast<std::uintptr_t>(rep_.store_.get());
  rep_.origin_ = rep_.store_.get() + ((align - base % align) % align);
  rep_.stride_ = static_cast<long>(rowBytes / pelSize);
  rep_.pelSize_ = pelSize;
  width_ = width;
  height_ = height;
}

vc_PelBuffer::vc_PelBuffer(const vc_PelBuffer& parent, long x, long y, long width, long height) {
  parent.requireBound("vcPelBuffer window");
  if (width < 0 || height < 0 || x < 0 || y < 0 || x > parent.width_ - width || y > parent.height_ - height)
    throw vcPlatformError("vcPelBuffer window: the rectangle does not lie inside the parent image");
  rep_ = parent.rep_;
  rep_.origin_ = parent.rep_.origin_ + (y * parent.rep_.stride_ + x) * static_cast<long>(parent.rep_.pelSize_);
  width_ = width;
  height_ = height;
  offset_ = vcPair<long>(vf_PositionEnd(parent.offset_.x, x), vf_PositionEnd(parent.offset_.y, y));
  xforms_ = parent.xforms_;
}

void vc_PelBuffer::requireBound(const char* what) const {
  if (!isBound()) throw vcPlatformError((std::string(what) + ": image is not bound").c_str());
}

void vc_PelBuffer::requireInside(long x, long y) const {
  requireBound("vcPelBuffer pixel access");
  if (x < 0 || y < 0 || x >= width_ || y >= height_)
    throw vcPlatformError("vcPelBuffer pixel access: coordinates outside the image");
}

void vf_PelCopySameType(const vc_PelBuffer& src, vc_PelBuffer& dst) {
  if (!src.isBound() || !dst.isBound()) throw vcPlatformError("vfPelCopy: image is not bound");
  const vc_PelRep& s = src.rep();
  const vc_PelRep& d = dst.rep();
  if (s.pelSize() != d.pelSize()) throw vcPlatformError("vfPelCopy: pixel sizes differ");

  // The rectangle of positions both images cover.
  const long x0 = std::max(src.offset().x, dst.offset().x);
  const long y0 = std::max(src.offset().y, dst.offset().y);
  const long x1 = std::min(vf_PositionEnd(src.offset().x, src.width()), vf_PositionEnd(dst.offset().x, dst.width()));
  const long y1 = std::min(vf_PositionEnd(src.offset().y, src.height()), vf_PositionEnd(dst.offset().y, dst.height()));
  if (x0 >= x1 || y0 >= y1) return;

  const auto pel = static_cast<long>(s.pelSize());
  const std::size_t rowBytes = static_cast<std::size_t>((x1 - x0) * pel);
  auto srcRow = [&](long y) {
    return src.originBytes() + ((y - src.offset().y) * s.rowStride() + (x0 - src.offset().x)) * pel;
  };
  auto dstRow = [&](long y) {
    return dst.originBytes() + ((y - dst.offset().y) * d.rowStride() + (x0 - dst.offset().x)) * pel;
  };

  // Handles onto one store may overlap in memory: copy rows in the order that
  // never overwrites a source row before it is read, each with memmove.
  const bool backwards = s.sharesPixelsWith(d) && dstRow(y0) > srcRow(y0);
  if (backwards) {
    for (long y = y1 - 1; y >= y0; --y) std::memmove(dstRow(y), srcRow(y), rowBytes);
  } else {
    for (long y = y0; y < y1; ++y) std::memmove(dstRow(y), srcRow(y), rowBytes);
  }
}

// The frequency buffer: construction, copying, comparison, point access.

#include <cstdint>
#include <cstring>

#include "fft/buffer_access.h"
#include "fft/engine/large_array.h"
#include "fft/messages.h"
#include "fft/sizes.h"
#include "fft/zero_pad.h"
#include "filt/fft.h"
#include "records/float_array.h"

namespace {

long paddedSize(long n) {
  long p = 1;
  while (p < n) p <<= 1;
  return p;
}

std::size_t floatCount(long width, long height) {
  return 2 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

}  // namespace

vcFrequencyBuffer::vcFrequencyBuffer() = default;

vcFrequencyBuffer::vcFrequencyBuffer(long width, long height) {
  setAndAllocate(width, height);
  xforms_.setIdentity();
  offset_ = vcPair<long>(0, 0);
}

vcFrequencyBuffer::vcFrequencyBuffer(const vcPelBuffer_const<double>& real,
                                     const vcPelBuffer_const<double>& imaginary) {
  if (!real.isBound()) throw vcFrequencyDefs::UnboundWindow();
  if (!imaginary.isBound()) throw vcFrequencyDefs::UnboundWindow();
  if (real.height() != imaginary.height() || real.width() != imaginary.width() || real.offset() != imaginary.offset())
    throw vcFrequencyDefs::InvalidSize(vf_msg::kPelBuffersDiffer);
  setAndAllocate(real.width(), real.height());
  xforms_ = real.xforms();
  offset_ = real.offset();

  const double* re = real.pointToOffset();
  const double* im = imaginary.pointToOffset();
  const long reStride = real.rep().rowStride(), imStride = imaginary.rep().rowStride();
  for (long y = 0; y < imageHeight_; ++y) {
    float* row = data_ + 2 * width_ * y;
    for (long x = 0; x < imageWidth_; ++x) {
      row[2 * x] = static_cast<float>(re[y * reStride + x]);
      row[2 * x + 1] = static_cast<float>(im[y * imStride + x]);
    }
  }
  vf_ZeroPad(imageWidth_, imageHeight_, width_, height_, data_);
}

vcFrequencyBuffer::vcFrequencyBuffer(const vcFrequencyBuffer& source) {
  *this = source;
}

vcFrequencyBuffer::vcFrequencyBuffer(const vcFrequencyBuffer& source, long width, long height) {
  if (width <= 1) throw vcFrequencyDefs::InvalidSize(vf_msg::kCopiedWidthSmall);
  if (height <= 1) throw vcFrequencyDefs::InvalidSize(vf_msg::kCopiedHeightSmall);
  if (source.data_ == nullptr) throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
  if (width > source.width_) throw vcFrequencyDefs::InvalidSize(vf_msg::kCopiedWidthLarge);
  if (height > source.height_) throw vcFrequencyDefs::InvalidSize(vf_msg::kCopiedHeightLarge);
  if (!vf_IsPowerOfTwo(width)) throw vcFrequencyDefs::InvalidSize(vf_msg::kUnsupportedWidth);
  if (!vf_IsPowerOfTwo(height)) throw vcFrequencyDefs::InvalidSize(vf_msg::kUnsupportedHeight);

  setAndAllocate(width, height);
  inverseComputed_ = source.inverseComputed_;
  const double rx = static_cast<double>(width) / static_cast<double>(source.width_);
  const double ry = static_cast<double>(height) / static_cast<double>(source.height_);
  imageWidth_ = static_cast<long>(static_cast<double>(source.imageWidth_) * rx);
  imageHeight_ = static_cast<long>(static_cast<double>(source.imageHeight_) * ry);

  // The copy samples the source's image coarser by rx, ry: its client
  // transform is the source's composed with that scale.
  if (source.xforms_.isLinear()) {
    const vc2XformLinear scale(vcMatrix<2>(vcRadian(0.0), vcRadian(0.0), rx, ry), vcVector<2>(0.0, 0.0));
    xforms_.xform(source.xforms_.linearXform() * scale);
  } else {
    xforms_ = source.xforms_;
  }
  offset_ = source.offset_;

  // Keep the lowest frequencies of both signs: the first and the last
  // half-sizes of rows and of columns, in natural order.
  const long hw = width / 2, hh = height / 2;
  const std::size_t halfRowBytes = sizeof(float) * 2 * static_cast<std::size_t>(hw);
  for (long y = 0; y < height; ++y) {
    const long sy = y < hh ? y : source.height_ - (height - y);
    const float* from = source.data_ + 2 * source.width_ * sy;
    float* to = data_ + 2 * width * y;
    std::memcpy(to, from, halfRowBytes);
    std::memcpy(to + 2 * hw, from + 2 * (source.width_ - hw), halfRowBytes);
  }
}

vcFrequencyBuffer::vcFrequencyBuffer(vcFrequencyBuffer&& other) noexcept {
  *this = std::move(other);
}

vcFrequencyBuffer::~vcFrequencyBuffer() = default;

vcFrequencyBuffer& vcFrequencyBuffer::operator=(const vcFrequencyBuffer& source) {
  if (this == &source) return *this;
  if (source.data_ == nullptr) {
    masked_ = 0;
    data_ = nullptr;
    return *this;
  }
  // Sizes are taken exactly (a cropped buffer's image size may be half its
  // padded size or less, so they cannot go through setAndAllocate).
  vc_FrequencyBufferAccess::copyAllButArray(*this, source);
  std::memcpy(data_, source.data_, sizeof(float) * floatCount(width_, height_));
  return *this;
}

vcFrequencyBuffer& vcFrequencyBuffer::operator=(vcFrequencyBuffer&& other) noexcept {
  if (this == &other) return *this;
  vc_FrequencyBufferAccess::copyDescription(*this, other);
  storage_ = std::move(other.storage_);  // the allocation moves; data_ stays valid
  data_ = other.data_;
  // The source is left Empty, with the description of a new buffer.
  other.storage_.clear();
  other.data_ = nullptr;
  other.width_ = other.height_ = other.imageWidth_ = other.imageHeight_ = 0;
  other.masked_ = other.maskedMiny_ = other.maskedMaxy_ = 0;
  other.offset_ = vcPair<long>();
  other.xforms_.setIdentity();
  other.inverseComputed_ = false;
  return *this;
}

bool vcFrequencyBuffer::operator==(const vcFrequencyBuffer& other) const {
  if (data_ == nullptr || other.data_ == nullptr) return data_ == nullptr && other.data_ == nullptr;
  if (width_ != other.width_ || height_ != other.height_ || imageWidth_ != other.imageWidth_ ||
      imageHeight_ != other.imageHeight_ || inverseComputed_ != other.inverseComputed_ || masked_ != other.masked_)
    return false;
  if (masked_ != 0 && (maskedMiny_ != other.maskedMiny_ || maskedMaxy_ != other.maskedMaxy_)) return false;
  if (offset_ != other.offset_) return false;
  const std::size_t n = floatCount(width_, height_);
  for (std::size_t i = 0; i < n; ++i)
    if (!(data_[i] == other.data_[i])) return false;
  return true;
}

long vcFrequencyBuffer::width() const {
  if (data_ == nullptr) throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
  return width_;
}

long vcFrequencyBuffer::height() const {
  if (data_ == nullptr) throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
  return height_;
}

float* vcFrequencyBuffer::element(long x, long y, bool centered) const {
  if (data_ == nullptr) throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
  if (inverseComputed_) throw vcFrequencyDefs::InvalidBuffer(vf_msg::kInverseComputed);
  if (centered) {
    if (x < -(width_ >> 1) || x >= ((width_ + 1) >> 1) || y < -(height_ >> 1) || y >= ((height_ + 1) >> 1))
      throw vcFrequencyDefs::BadCoord(vf_msg::kBadCoord);
    if (x < 0) x += width_;
    if (y < 0) y += height_;
  } else if (x < 0 || x >= width_ || y < 0 || y >= height_) {
    throw vcFrequencyDefs::BadCoord(vf_msg::kBadCoord);
  }
  return data_ + 2 * (y * width_ + x);
}

vcPair<double> vcFrequencyBuffer::get(long x, long y, bool centered) const {
  const float* e = element(x, y, centered);
  return vcPair<double>(e[0], e[1]);
}

double vcFrequencyBuffer::getReal(long x, long y, bool centered) const {
  return element(x, y, centered)[0];
}

double vcFrequencyBuffer::getImaginary(long x, long y, bool centered) const {
  return element(x, y, centered)[1];
}

void vcFrequencyBuffer::put(long x, long y, vcPair<double> value, bool centered) {
  float* e = element(x, y, centered);
  e[0] = static_cast<float>(value.x);
  e[1] = static_cast<float>(value.y);
}

void vcFrequencyBuffer::putReal(long x, long y, double value, bool centered) {
  element(x, y, centered)[0] = static_cast<float>(value);
}

void vcFrequencyBuffer::putImaginary(long x, long y, double value, bool centered) {
  element(x, y, centered)[1] = static_cast<float>(value);
}

void vcFrequencyBuffer::setAndAllocate(long width, long height) {
  if (width > kVfMaxSize || height > kVfMaxSize) throw vcFrequencyDefs::InvalidSize(vf_msg::kSizeLimit);
  imageWidth_ = width;
  imageHeight_ = height;
  const long w = paddedSize(width), h = paddedSize(height);
  if (data_ != nullptr && (w != width_ || h != height_)) data_ = nullptr;
  width_ = w;
  height_ = h;
  masked_ = 0;
  inverseComputed_ = false;
  if (data_ == nullptr) allocate();
}

void vcFrequencyBuffer::allocate() {
  // Reserved first and advised for huge pages before the zero fill touches the
  // new memory: fewer page faults, and a faster column pass (large_array.h).
  const std::size_t count = floatCount(width_, height_) + kFloatAlignmentSlack;
  if (storage_.capacity() < count) {
    storage_.reserve(count);
    vf_AdviseHugePages(storage_.data(), count * sizeof(float));
  }
  storage_.resize(count);
  data_ = vf_FirstAligned(storage_);
}

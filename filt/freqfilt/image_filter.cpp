// The image filter: multiplies by a stored spectrum.

#include "fft/buffer_access.h"
#include "fft/messages.h"
#include "filt/freqfilt.h"
#include "records/record_level.h"

namespace {
using Access = vc_FrequencyBufferAccess;

void requireData(const vcFrequencyBuffer& b) {
  if (Access::data(b) == nullptr) throw vcFrequencyDefs::Uninitialized(vf_msg::kBufferUninitialized);
}
}  // namespace

vcFrequencyFilterImage::vcFrequencyFilterImage() = default;

vcFrequencyFilterImage::vcFrequencyFilterImage(const vcFrequencyBuffer& image) {
  create(image);
}

vcFrequencyFilterImage::vcFrequencyFilterImage(const vcFrequencyFilterImage& other)
    : vcPersistent(), vcRepBase(), vcFrequencyFilter() {
  initialized_ = other.initialized_;
  image_ = other.image_;
}

vcFrequencyFilterImage& vcFrequencyFilterImage::operator=(const vcFrequencyFilterImage& other) {
  initialized_ = other.initialized_;
  image_ = other.image_;
  return *this;
}

vcFrequencyFilterImage::~vcFrequencyFilterImage() = default;

bool vcFrequencyFilterImage::operator==(const vcFrequencyFilterImage& other) const {
  return initialized_ == other.initialized_ && image_ == other.image_;
}

void vcFrequencyFilterImage::setImage(const vcFrequencyBuffer& image) {
  create(image);
}

void vcFrequencyFilterImage::create(const vcFrequencyBuffer& image) {
  requireData(image);
  mutating();
  image_ = image;
  initialized_ = true;
}

long vcFrequencyFilterImage::supportWidth() const {
  return image_.width();
}

long vcFrequencyFilterImage::supportHeight() const {
  return image_.height();
}

vcFrequencyFilter* vcFrequencyFilterImage::clone() const {
  return new vcFrequencyFilterImage(*this);
}

void vcFrequencyFilterImage::check(const vcFrequencyBuffer& buffer) const {
  requireData(buffer);
  requireData(image_);
  if (buffer.width() != image_.width() || buffer.height() != image_.height())
    throw vcFrequencyDefs::InvalidSize(vf_msg::kFilterSize);
}

void vcFrequencyFilterImage::apply(vcFrequencyBuffer& buffer) const {
  check(buffer);
  vfFrequencyMultiply(image_, buffer);
  Access::setBand(buffer, 0, 0, 0);
}

void vcFrequencyFilterImage::apply(const vcFrequencyBuffer& source, vcFrequencyBuffer& target) const {
  check(source);
  target = source;
  vfFrequencyMultiply(image_, target);
  Access::setBand(target, 0, 0, 0);
}

vcPersistent* vcFrequencyFilterImage::make() {
  return new vcFrequencyFilterImage();
}

void vcFrequencyFilterImage::dispatchSerialize(vcArchive& ar) {
  vf_RecordLevel(ar, this, sizeof(vcFrequencyFilterImage),
                 [&](unsigned char version) { vcFrequencyFilterImage::serialize_(ar, version); });
}

void vcFrequencyFilterImage::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("filt/freqfilt", __LINE__);
  vcFrequencyFilter::dispatchSerialize(ar);
  ar || image_;
}

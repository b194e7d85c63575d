// The archive record of a frequency buffer.
//
// Loading reads the whole record into locals, checks that it can be right,
// and only then allocates and commits: a malformed record is rejected before
// any allocation and leaves the buffer as it was.

#include <cstdint>

#include "fft/sizes.h"
#include "filt/fft.h"
#include "records/float_array.h"

vcArchive& operator||(vcArchive& ar, vcFrequencyBuffer& b) {
  unsigned char version = 1;
  ar || version;
  if (version > 1) throw vcArchive::UnknownVersion("filt/fft", __LINE__);

  long width = b.width_, height = b.height_, imageWidth = b.imageWidth_, imageHeight = b.imageHeight_;
  long masked = b.masked_, maskedMiny = b.maskedMiny_, maskedMaxy = b.maskedMaxy_;
  bool inverseComputed = b.inverseComputed_;
  ar || width || height || imageWidth || imageHeight || masked || maskedMiny || maskedMaxy || inverseComputed;

  vc2XformCache xforms = b.xforms_;
  if (version >= 1) {
    ar || xforms;
  } else {
    // Early records hold a bare affine transform.
    vcXform<2> x;
    ar || x;
    xforms.xform(vc2XformLinear(x));
  }

  unsigned char pairVersion = 0;
  ar || pairVersion;
  if (pairVersion != 0) throw vcArchive::UnknownVersion(nullptr, 0);
  vcPair<long> offset = b.offset_;
  ar || offset.x || offset.y;

  bool hasData = b.data_ != nullptr;
  ar || hasData;

  if (ar.isStoring()) {
    vf_StoreFloatArray(ar, b.data_, hasData ? 2 * static_cast<unsigned long>(width * height) : 0);
    return ar;
  }

  const unsigned long count = vf_LoadFloatArrayHead(ar);
  if (hasData) {
    if (!vf_IsTransformSize(width) || !vf_IsTransformSize(height))
      throw vcArchive::BadData("Frequency buffer record: width and height must be powers of 2 from 1 to 2048");
    if (imageWidth > width || imageHeight > height)
      throw vcArchive::BadData("Frequency buffer record: image size exceeds the padded size");
    if (count != 2 * static_cast<unsigned long>(width * height))
      throw vcArchive::BadData("Frequency buffer record: value count does not match the size");
  } else if (count != 0) {
    throw vcArchive::BadData("Frequency buffer record: values stored for a buffer without data");
  }

  // Sizes are bounded now; the count was checked against the bytes left.
  std::vector<float> storage;
  float* data = nullptr;
  if (hasData) {
    data = vf_LoadAlignedFloats(ar, storage, count, count);
  }

  b.width_ = width;
  b.height_ = height;
  b.imageWidth_ = imageWidth;
  b.imageHeight_ = imageHeight;
  b.masked_ = masked;
  b.maskedMiny_ = maskedMiny;
  b.maskedMaxy_ = maskedMaxy;
  b.inverseComputed_ = inverseComputed;
  b.xforms_ = xforms;
  b.offset_ = offset;
  b.storage_ = std::move(storage);  // the allocation moves with it
  b.data_ = data;
  return ar;
}

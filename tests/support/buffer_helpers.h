// Building and inspecting frequency buffers in tests.
#pragma once

#include <vector>

#include "filt/fft.h"

namespace vftest {

// A buffer of the given size whose element (x, y) holds (x + 1000 y, -x - 1000 y - 0.5):
// every element distinct, exact in float.
inline vcFrequencyBuffer indexedBuffer(long width, long height) {
  vcFrequencyBuffer b(width, height);
  for (long y = 0; y < b.height(); ++y)
    for (long x = 0; x < b.width(); ++x) b.put(x, y, vcPair<double>(x + 1000.0 * y, -x - 1000.0 * y - 0.5), false);
  return b;
}

// Equal in every field: == leaves out the image size of empty buffers and the band
// limits while the band is off.
inline bool sameBuffer(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b) {
  return a == b && a.imageWidth() == b.imageWidth() && a.imageHeight() == b.imageHeight() &&
         a.maskedMiny() == b.maskedMiny() && a.maskedMaxy() == b.maskedMaxy();
}

inline std::vector<unsigned char> store(vcFrequencyBuffer& b) {
  vcMemoryArchive ar;
  ar || b;
  return ar.bytes();
}

inline vcFrequencyBuffer load(const std::vector<unsigned char>& bytes) {
  vcMemoryArchive ar(bytes);
  vcFrequencyBuffer b;
  ar || b;
  return b;
}

// Byte offsets in a buffer record: the version, then seven longs (width, height,
// image width and height, masked, maskedMiny, maskedMaxy), then the inverse flag.
constexpr std::size_t kRecordLong = 1, kRecordInverseFlag = 1 + 7 * 8;

inline void putLong(std::vector<unsigned char>& bytes, std::size_t at, long v) {
  for (std::size_t i = 0; i < 8; ++i)
    bytes[at + i] = static_cast<unsigned char>(static_cast<unsigned long>(v) >> (8 * i));
}

// The buffer with its row band set, the way a host gets one back from an archive.
inline vcFrequencyBuffer withBand(vcFrequencyBuffer b, long masked, long miny, long maxy) {
  std::vector<unsigned char> bytes = store(b);
  for (long i : {4, 5, 6}) putLong(bytes, kRecordLong + 8 * i, i == 4 ? masked : i == 5 ? miny : maxy);
  return load(bytes);
}

// A buffer whose inverse has been computed in place, made the same way.
inline vcFrequencyBuffer inverseComputedBuffer(long width, long height) {
  vcFrequencyBuffer b(width, height);
  std::vector<unsigned char> bytes = store(b);
  bytes[kRecordInverseFlag] = 1;
  return load(bytes);
}

}  // namespace vftest

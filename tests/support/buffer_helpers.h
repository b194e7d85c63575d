// Building and inspecting frequency buffers in tests.
#pragma once

#include <cstdint>
#include <vector>

#include "filt/fft.h"

namespace vftest {

// A buffer of the given size whose element (x, y) holds (x + 1000 y, -x - 1000 y - 0.5):
// every element distinct, exact in float.
inline vcFrequencyBuffer indexedBuffer(long width, long height) {
  vcFrequencyBuffer b(width, height);
  for (long y = 0; y < b.height(); ++y)
    for (long x = 0; x < b.width(); ++x)
      b.put(x, y, vcPair<double>(x + 1000.0 * y, -x - 1000.0 * y - 0.5), false);
  return b;
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

// Byte offsets in a buffer record: version, then seven longs, then the
// inverse flag.
constexpr std::size_t kRecordInverseFlag = 1 + 7 * 8;

// A buffer whose inverse has been computed in place, made the way a host
// would get one back from an archive.
inline vcFrequencyBuffer inverseComputedBuffer(long width, long height) {
  vcFrequencyBuffer b(width, height);
  std::vector<unsigned char> bytes = store(b);
  bytes[kRecordInverseFlag] = 1;
  return load(bytes);
}

}  // namespace vftest

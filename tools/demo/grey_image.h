// The demo's own image type for file input and output, independent of the
// library: grey samples of 8 or 16 bits, row-major, no padding.
#pragma once

#include <cstdint>
#include <vector>

namespace demo {

// Readers refuse larger images before allocating for them. The library
// transforms images up to 2048 pixels a side; larger ones are read and then
// refused by the library with its own message.
inline constexpr long kMaxImageSide = 8192;

struct GreyImage {
  long width = 0;
  long height = 0;
  int depth = 8;                       // bits per sample: 8 or 16
  std::vector<std::uint16_t> samples;  // width * height values below 2^depth

  GreyImage() = default;
  GreyImage(long w, long h, int bits) : width(w), height(h), depth(bits), samples(static_cast<std::size_t>(w * h), 0) {}

  std::uint16_t at(long x, long y) const { return samples[static_cast<std::size_t>(y * width + x)]; }
  std::uint16_t& at(long x, long y) { return samples[static_cast<std::size_t>(y * width + x)]; }
};

}  // namespace demo

// The display mapping: any double image to 8-bit pixels by one of five
// mappings.

#include <cmath>

#include "fft/messages.h"
#include "filt/fft.h"

namespace {

using Defs = vcFrequencyDefs;

// trunc(v) toward zero for a value the mapping has meant for 0..255. A
// conversion of a NaN or of a value outside the byte's range would be
// undefined, so a NaN gives 0 and anything beyond the range saturates; for a
// value inside it this is plain truncation.
unsigned char truncatedByte(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 255.0) return 255;
  return static_cast<unsigned char>(v);
}

// The low 8 bits (two's complement) of trunc(v), exact for every finite v:
// the reduction modulo 256 happens in double, where fmod is exact, so no
// integer conversion ever sees a value outside 0..255. A NaN or an infinity
// gives 0.
unsigned char lowByteOfTruncated(double v) {
  if (!std::isfinite(v)) return 0;
  double m = std::fmod(std::trunc(v), 256.0);
  if (m < 0.0) m += 256.0;
  return static_cast<unsigned char>(m);
}

// Rows of both images are stepped by their own row strides: the input may be
// a window onto a wider image.
template <class F>
void forEachPixel(const vcPelBuffer_const<double>& image, F f) {
  const double* row = image.pointToOffset();
  const long stride = image.rep().rowStride();
  for (long y = 0; y < image.height(); ++y, row += stride)
    for (long x = 0; x < image.width(); ++x) f(row[x]);
}

template <class F>
void mapPixels(const vcPelBuffer_const<double>& in, vcPelBuffer<unsigned char>& out, F map) {
  const double* from = in.pointToOffset();
  unsigned char* to = out.pointToOffset();
  const long inStride = in.rep().rowStride(), outStride = out.rep().rowStride();
  for (long y = 0; y < in.height(); ++y, from += inStride, to += outStride)
    for (long x = 0; x < in.width(); ++x) to[x] = map(from[x]);
}

}  // namespace

vcPelBuffer<unsigned char> vfFrequencyMapImage(const vcPelBuffer_const<double>& image,
                                               vcFrequencyDefs::FrequencyMapping mapping, double a, double b) {
  if (!image.isBound()) throw Defs::UnboundWindow();

  // The scan starts from +-1e20 in single precision and compares strictly,
  // so NaN pixels take no part and lo (hi) never exceeds 1e20f (-1e20f).
  double lo = static_cast<double>(1e20f), hi = static_cast<double>(-1e20f);
  if (mapping == Defs::eMapLinear || mapping == Defs::eMapLog) {
    forEachPixel(image, [&](double p) {
      if (p < lo) lo = p;
      if (p > hi) hi = p;
    });
  } else if (mapping == Defs::eMapRange) {
    lo = a;
    hi = b;
  }
  // A non-negative range counts from 0, not from its minimum.
  double range = lo < 0.0 ? hi - lo : hi;
  if (range <= 0.0) range = 1.0;
  const double s = 255.0 / range;

  vcPelBuffer<unsigned char> out(image.width(), image.height(), 32);
  out.copyXforms(image);
  switch (mapping) {
    case Defs::eMapClip:
      mapPixels(image, out, [](double p) { return truncatedByte(p); });
      break;
    case Defs::eMapLinear:
      if (lo < 0.0)
        mapPixels(image, out, [=](double p) { return truncatedByte((p - lo) * s); });
      else
        mapPixels(image, out, [=](double p) { return truncatedByte(p * s); });
      break;
    case Defs::eMapRange:
      // The caller's low end is subtracted whatever its sign.
      mapPixels(image, out, [=](double p) { return truncatedByte((p - a) * s); });
      break;
    case Defs::eMapLog: {
      const double logScale = 255.0 / std::log(range < 2.0 ? 2.0 : range);
      if (lo < 0.0)
        mapPixels(image, out, [=](double p) { return truncatedByte(std::log(p - lo + 1.0) * logScale); });
      else
        mapPixels(image, out, [=](double p) { return truncatedByte(std::log(p + 1.0) * logScale); });
      break;
    }
    case Defs::eMapPhase:
      // 40.58451 = 255 / (2 pi) to seven digits: [0, 2 pi) maps to 0..254.
      mapPixels(image, out, [](double p) { return lowByteOfTruncated(p * 40.58451); });
      break;
    default:
      // No mapping: the image of the right size, cleared here rather than
      // relying on how the platform's constructor leaves new pixels.
      vfPelSet(out, static_cast<unsigned char>(0));
      break;
  }
  return out;
}

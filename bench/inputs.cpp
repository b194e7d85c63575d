// The shared inputs: the scene, its spectrum, a complex array, the filters and
// their masks. Nothing here is timed.

#include "inputs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>

namespace {

// Filter parameters, in cycles per pixel: the Gabor patch sits on the scene's
// main grating; the band-pass ring passes a band around 0.1.
constexpr double kGratingFrequency = 0.08, kGratingAngle = 30.0 * std::numbers::pi / 180.0;
constexpr double kGaborSigma = 0.015;
constexpr double kBandFrequency = 0.1, kBandSigma = 0.02, kBandPlateau = 0.01;

// A small fixed generator, so the scene is the same with every standard library.
class Noise {
 public:
  double next() {  // uniform in [-1, 1)
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<double>(state_ >> 11) * 0x1p-52 - 1.0;
  }

 private:
  std::uint64_t state_ = 0x9e3779b97f4a7c15ULL;
};

// cos(2 pi f (u cos a + v sin a)) at every pixel, from per-column and per-row
// tables (cos(p + q) = cos p cos q - sin p sin q): two tables instead of a
// cosine per pixel, which at 2048 x 2048 would dominate making the inputs.
class Grating {
 public:
  Grating(Shape s, double frequency, double angle) : cx_(s.width), sx_(s.width), cy_(s.height), sy_(s.height) {
    const double w = 2.0 * std::numbers::pi * frequency;
    for (long x = 0; x < s.width; ++x) {
      cx_[x] = std::cos(w * std::cos(angle) * static_cast<double>(x));
      sx_[x] = std::sin(w * std::cos(angle) * static_cast<double>(x));
    }
    for (long y = 0; y < s.height; ++y) {
      cy_[y] = std::cos(w * std::sin(angle) * static_cast<double>(y));
      sy_[y] = std::sin(w * std::sin(angle) * static_cast<double>(y));
    }
  }
  double at(long x, long y) const {
    const auto i = static_cast<std::size_t>(x), j = static_cast<std::size_t>(y);
    return cx_[i] * cy_[j] - sx_[i] * sy_[j];
  }

 private:
  std::vector<double> cx_, sx_, cy_, sy_;
};

vcPelBuffer<unsigned char> makeScene(Shape s) {
  vcPelBuffer<unsigned char> image(s.width, s.height, 32);
  Noise noise;
  const Grating first(s, kGratingFrequency, kGratingAngle);
  const Grating second(s, 0.2, kGratingAngle + std::numbers::pi / 2.0);
  for (long y = 0; y < s.height; ++y) {
    unsigned char* row = image.pointToOffset() + y * image.rep().rowStride();
    for (long x = 0; x < s.width; ++x) {
      const double p = 128.0 + 60.0 * first.at(x, y) + 25.0 * second.at(x, y) + 20.0 * noise.next();
      row[x] = static_cast<unsigned char>(std::clamp(std::lround(p), 0L, 255L));
    }
  }
  return image;
}

// The scene + i * (the scene mirrored left to right).
vcFrequencyBuffer makeComplexInput(const vcPelBuffer<unsigned char>& image) {
  vcFrequencyBuffer b(image.width(), image.height());
  const long W = image.width();
  for (long y = 0; y < image.height(); ++y) {
    const unsigned char* row = image.pointToOffset() + y * image.rep().rowStride();
    for (long x = 0; x < W; ++x) b.put(x, y, vcPair<double>(row[x], row[W - 1 - x]), false);
  }
  return b;
}

// A filter's response at every element: the filter applied to ones.
std::vector<float> maskOf(const vcFrequencyFilter& filter, Shape s) {
  vcFrequencyBuffer b(s.width, s.height);
  for (long y = 0; y < s.height; ++y)
    for (long x = 0; x < s.width; ++x) b.putReal(x, y, 1.0, false);
  filter.apply(b);
  return valuesOf(b);
}

// Makes the parts of `in` that `need` asks for and it does not hold yet.
void complete(Inputs& in, unsigned need) {
  const Shape s = in.shape;
  if ((need & kNeedComplex) && in.complexValues.empty()) {
    in.complexInput = makeComplexInput(in.image);
    in.complexValues = valuesOf(in.complexInput);
  }
  if ((need & kNeedSpectrum) && in.spectrumValues.empty()) {
    vfForwardFFT<unsigned char>(in.image, in.spectrum);
    in.spectrumValues = valuesOf(in.spectrum);
  }
  const vcPair<long> size(s.width, s.height);
  if ((need & kNeedGabor) && in.gaborMask.empty()) {
    in.gabor.set(vcPair<double>(kGaborSigma, kGaborSigma), vcPair<double>(0.0, 0.0), vcRadian(kGratingAngle),
                 kGratingFrequency, size, 0);
    in.gaborMask = maskOf(in.gabor, s);
  }
  if ((need & kNeedBandPass) && in.bandPassMask.empty()) {
    in.bandPass.set(kBandSigma, kBandPlateau, kBandFrequency, size, 0);
    in.bandPassMask = maskOf(in.bandPass, s);
  }
}

}  // namespace

// get() widens the stored floats exactly, so this is a copy. Element by
// element rather than through the spectrum images, which would allocate (and
// fault in) two double images per call.
std::vector<float> valuesOf(const vcFrequencyBuffer& b) {
  std::vector<float> v;
  v.reserve(static_cast<std::size_t>(2 * b.width() * b.height()));
  for (long y = 0; y < b.height(); ++y)
    for (long x = 0; x < b.width(); ++x) {
      const vcPair<double> e = b.get(x, y, false);
      v.push_back(static_cast<float>(e.x));
      v.push_back(static_cast<float>(e.y));
    }
  return v;
}

const Inputs& inputsFor(Shape shape, unsigned need) {
  static std::unique_ptr<Inputs> current;
  if (!current || !(current->shape == shape)) {
    current.reset();  // before making the next, so two sets never coexist
    current = std::make_unique<Inputs>();
    current->shape = shape;
    current->image = makeScene(shape);
  }
  complete(*current, need);
  return *current;
}

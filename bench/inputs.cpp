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

vcPelBuffer<unsigned char> makeScene(Shape s) {
  vcPelBuffer<unsigned char> image(s.width, s.height, 32);
  Noise noise;
  const double c1 = std::cos(kGratingAngle), s1 = std::sin(kGratingAngle);
  const double a2 = kGratingAngle + std::numbers::pi / 2.0, c2 = std::cos(a2), s2 = std::sin(a2);
  for (long y = 0; y < s.height; ++y) {
    unsigned char* row = image.pointToOffset() + y * image.rep().rowStride();
    for (long x = 0; x < s.width; ++x) {
      const double u = static_cast<double>(x), v = static_cast<double>(y);
      const double g1 = std::cos(2.0 * std::numbers::pi * kGratingFrequency * (c1 * u + s1 * v));
      const double g2 = std::cos(2.0 * std::numbers::pi * 0.2 * (c2 * u + s2 * v));
      const double p = 128.0 + 60.0 * g1 + 25.0 * g2 + 20.0 * noise.next();
      row[x] = static_cast<unsigned char>(std::clamp(std::lround(p), 0L, 255L));
    }
  }
  return image;
}

vcPelBuffer<double> toDouble(const vcPelBuffer<unsigned char>& image, bool mirrored) {
  vcPelBuffer<double> out(image.width(), image.height(), 32);
  for (long y = 0; y < image.height(); ++y) {
    const unsigned char* from = image.pointToOffset() + y * image.rep().rowStride();
    double* to = out.pointToOffset() + y * out.rep().rowStride();
    for (long x = 0; x < image.width(); ++x) to[x] = from[mirrored ? image.width() - 1 - x : x];
  }
  return out;
}

// A filter's response at every element: the filter applied to ones.
std::vector<float> maskOf(const vcFrequencyFilter& filter, Shape s) {
  vcPelBuffer<double> ones(s.width, s.height, 32), zeros(s.width, s.height, 32);
  vfPelSet(ones, 1.0);
  vcFrequencyBuffer b(ones, zeros);
  filter.apply(b);
  return valuesOf(b);
}

std::unique_ptr<Inputs> make(Shape s) {
  auto in = std::make_unique<Inputs>();
  in->shape = s;
  in->image = makeScene(s);
  in->complexInput = vcFrequencyBuffer(toDouble(in->image, false), toDouble(in->image, true));
  in->complexValues = valuesOf(in->complexInput);
  vfForwardFFT<unsigned char>(in->image, in->spectrum);
  in->spectrumValues = valuesOf(in->spectrum);

  const vcPair<long> size(s.width, s.height);
  in->gabor.set(vcPair<double>(kGaborSigma, kGaborSigma), vcPair<double>(0.0, 0.0), vcRadian(kGratingAngle),
                kGratingFrequency, size, 0);
  in->bandPass.set(kBandSigma, kBandPlateau, kBandFrequency, size, 0);
  in->gaborMask = maskOf(in->gabor, s);
  in->bandPassMask = maskOf(in->bandPass, s);
  return in;
}

}  // namespace

// The spectrum images are exact widenings of the stored floats, so this is a copy.
std::vector<float> valuesOf(const vcFrequencyBuffer& b) {
  const vcPelBuffer<double> re = b.getRealImage(false), im = b.getImaginaryImage(false);
  std::vector<float> v(static_cast<std::size_t>(2 * b.width() * b.height()));
  for (long y = 0; y < b.height(); ++y) {
    const double* r = re.pointToOffset() + y * re.rep().rowStride();
    const double* i = im.pointToOffset() + y * im.rep().rowStride();
    float* to = v.data() + 2 * b.width() * y;
    for (long x = 0; x < b.width(); ++x) {
      to[2 * x] = static_cast<float>(r[x]);
      to[2 * x + 1] = static_cast<float>(i[x]);
    }
  }
  return v;
}

const Inputs& inputsFor(Shape shape) {
  static std::unique_ptr<Inputs> current;
  if (!current || !(current->shape == shape)) {
    current.reset();  // before making the next, so two sets never coexist
    current = make(shape);
  }
  return *current;
}

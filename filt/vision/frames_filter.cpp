// Frame filters: a filter's parameters without a size, realised at any tile
// size.

#include <cstring>
#include <stdexcept>

#include "filt/vision/frames.h"
#include "vision/frame_support.h"

namespace {

// A deep copy of an image, offset (0, 0).
vcPelBuffer<double> copyOf(const vcPelBuffer_const<double>& image) {
  vcPelBuffer<double> copy(image.width(), image.height());
  copy.offset(image.offset());
  vfPelCopy(image, copy);
  copy.offset(0, 0);
  return copy;
}

// Writes kernel pixel (cx + qx, cy + qy) at ((qx mod size), (qy mod size))
// of a new size x size image, cx = width/2, cy = height/2.
vcPelBuffer<double> wrapped(const vcPelBuffer_const<double>& kernel, long size) {
  vcPelBuffer<double> out(size, size);
  const long cx = kernel.width() / 2, cy = kernel.height() / 2;
  for (long y = 0; y < kernel.height(); ++y)
    for (long x = 0; x < kernel.width(); ++x) {
      const long tx = ((x - cx) % size + size) % size, ty = ((y - cy) % size + size) % size;
      out.set(tx, ty, kernel.get(x, y));
    }
  return out;
}

}  // namespace

vcFrameFilter vcFrameFilter::bandPass(double sigma, double plateau, double frequency, long dcRemovalRadius) {
  vcFrameFilter f;
  f.kind_ = eBandPass;
  f.sigma_ = vcPair<double>(sigma, sigma);
  f.plateau_ = vcPair<double>(plateau, plateau);
  f.frequency_ = frequency;
  f.dcRadius_ = dcRemovalRadius;
  (void)f.realise(1);  // the class's own parameter checks
  return f;
}

vcFrameFilter vcFrameFilter::bandReject(double sigma, double plateau, double frequency, long dcProtectionRadius) {
  vcFrameFilter f = bandPass(sigma, plateau, frequency, 0);
  f.kind_ = eBandReject;
  f.dcRadius_ = dcProtectionRadius;
  (void)f.realise(1);
  return f;
}

vcFrameFilter vcFrameFilter::gabor(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle,
                                   double frequency, long dcRemovalRadius) {
  vcFrameFilter f;
  f.kind_ = eGabor;
  f.sigma_ = sigma;
  f.plateau_ = plateau;
  f.angle_ = angle;
  f.frequency_ = frequency;
  f.dcRadius_ = dcRemovalRadius;
  (void)f.realise(1);
  return f;
}

vcFrameFilter vcFrameFilter::gaborReject(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle,
                                         double frequency, long dcProtectionRadius) {
  vcFrameFilter f = gabor(sigma, plateau, angle, frequency, 0);
  f.kind_ = eGaborReject;
  f.dcRadius_ = dcProtectionRadius;
  (void)f.realise(1);
  return f;
}

vcFrameFilter vcFrameFilter::kernel(const vcPelBuffer_const<double>& real) {
  if (!real.isBound()) throw vcFrequencyDefs::UnboundWindow();
  if (real.width() < 1 || real.height() < 1 || real.width() > vcFramePlan::kMaxTile ||
      real.height() > vcFramePlan::kMaxTile)
    throw vcFrequencyDefs::InvalidSize("Kernel sides must be from 1 to 2048.");
  vcFrameFilter f;
  f.kind_ = eKernel;
  f.kernelReal_ = copyOf(real);
  return f;
}

vcFrameFilter vcFrameFilter::kernel(const vcPelBuffer_const<double>& real, const vcPelBuffer_const<double>& imaginary) {
  if (!imaginary.isBound()) throw vcFrequencyDefs::UnboundWindow();
  vcFrameFilter f = kernel(real);
  if (imaginary.width() != real.width() || imaginary.height() != real.height())
    throw vcFrequencyDefs::InvalidSize("Real and Imaginary kernels must have the same size.");
  f.kernelImaginary_ = copyOf(imaginary);
  return f;
}

vcFrameFilter vcFrameFilter::from(const vcFrequencyFilter& filter) {
  if (auto* p = dynamic_cast<const vcFrequencyFilterBandPass*>(&filter))
    return bandPass(p->sigma(), p->plateau(), p->frequency(), p->dcRemovalRadius());
  if (auto* p = dynamic_cast<const vcFrequencyFilterBandReject*>(&filter))
    return bandReject(p->sigma(), p->plateau(), p->frequency(), p->dcProtectionRadius());
  if (auto* p = dynamic_cast<const vcFrequencyFilterGabor*>(&filter))
    return gabor(p->sigma(), p->plateau(), p->angle(), p->frequency(), p->dcRemovalRadius());
  if (auto* p = dynamic_cast<const vcFrequencyFilterGaborReject*>(&filter))
    return gaborReject(p->sigma(), p->plateau(), p->angle(), p->frequency(), p->dcProtectionRadius());
  if (auto* p = dynamic_cast<const vcFrequencyFilterImage*>(&filter)) {
    const long w = p->supportWidth(), h = p->supportHeight();  // Uninitialized when Empty
    // The stored spectrum is the filter applied to an all-ones spectrum (the
    // exact transform of a unit impulse); its inverse is the kernel with the
    // origin at (0, 0).
    vcFrequencyBuffer spectrum;
    vf_frames::impulseSpectrum(w, h, spectrum);
    p->apply(spectrum);
    vfInverseFFT(spectrum, spectrum, true);
    const float* data = vf_frames::bufferData(spectrum);
    const double k = 1.0 / (static_cast<double>(w) * static_cast<double>(h));
    vcPelBuffer<double> re(w, h), im(w, h);
    const long cx = w / 2, cy = h / 2;
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) {
        const float* e = data + 2 * (y * w + x);
        const long kx = (x + cx) % w, ky = (y + cy) % h;  // origin to the centre pixel
        re.set(kx, ky, static_cast<double>(e[0]) * k);
        im.set(kx, ky, static_cast<double>(e[1]) * k);
      }
    return kernel(re, im);
  }
  throw std::invalid_argument("vcFrameFilter::from: not one of the library's five filter classes");
}

std::unique_ptr<vcFrequencyFilter> vcFrameFilter::realise(long size) const {
  const vcPair<long> sz(size, size);
  switch (kind_) {
    case eBandPass:
      return std::make_unique<vcFrequencyFilterBandPass>(sigma_.x, plateau_.x, frequency_, sz, dcRadius_);
    case eBandReject:
      return std::make_unique<vcFrequencyFilterBandReject>(sigma_.x, plateau_.x, frequency_, sz, dcRadius_);
    case eGabor:
      return std::make_unique<vcFrequencyFilterGabor>(sigma_, plateau_, angle_, frequency_, sz, dcRadius_);
    case eGaborReject:
      return std::make_unique<vcFrequencyFilterGaborReject>(sigma_, plateau_, angle_, frequency_, sz, dcRadius_);
    case eKernel:
      break;
  }
  if (size < 1 || size > vcFramePlan::kMaxTile || (size & (size - 1)) != 0)
    throw vcFrequencyDefs::InvalidSize("Size must be a power of 2.");
  if (kernelReal_.width() > size || kernelReal_.height() > size)
    throw vcFrequencyDefs::InvalidSize("Kernel does not fit the tile.");
  vcFrequencyBuffer spectrum;
  const vcPelBuffer<double> re = wrapped(kernelReal_, size);
  if (kernelImaginary_.isBound())
    vfForwardFFT<double>(re, wrapped(kernelImaginary_, size), spectrum);
  else
    vfForwardFFT<double>(re, spectrum);
  return std::make_unique<vcFrequencyFilterImage>(spectrum);
}

#include "pipeline.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <numbers>

#include <filt/vision/frames.h>

#include "errors.h"

namespace demo {
namespace {

// Runs one step; a library exception becomes a RunError naming the step.
template <class Step>
auto step(const std::string& what, Step&& run) -> decltype(run()) {
  try {
    return run();
  } catch (const vcException& e) {
    throw RunError(what + ": " + describe(e));
  }
}

template <class T>
vcPelBuffer<T> toPelBuffer(const GreyImage& image) {
  vcPelBuffer<T> pels(image.width, image.height);
  T* row = pels.pointToOffset();
  for (long y = 0; y < image.height; ++y, row += pels.rep().rowStride())
    for (long x = 0; x < image.width; ++x) row[x] = static_cast<T>(image.at(x, y));
  return pels;
}

GreyImage fromPelBuffer(const vcPelBuffer<unsigned char>& pels) {
  GreyImage image(pels.width(), pels.height(), 8);
  const unsigned char* row = pels.pointToOffset();
  for (long y = 0; y < image.height; ++y, row += pels.rep().rowStride())
    for (long x = 0; x < image.width; ++x) image.at(x, y) = row[x];
  return image;
}

vcPelBuffer<double> filledImage(long width, long height, double value) {
  vcPelBuffer<double> image(width, height);
  vfPelSet(image, value);
  return image;
}

// The kernel as a padded-size image with its centre on pixel (0, 0) and the
// rest wrapped around the edges, normalised to sum 1: multiplying by its
// spectrum convolves circularly without shifting the image.
vcPelBuffer<double> kernelImage(const Options& o, long width, long height) {
  vcPelBuffer<double> kernel = filledImage(width, height, 0.0);
  const auto wrapped = [](long i, long n) { return i < n - n / 2 ? i : i - n; };  // -n/2 .. n/2 - 1
  double sum = 0.0;
  for (long y = 0; y < height; ++y) {
    for (long x = 0; x < width; ++x) {
      const long dx = wrapped(x, width), dy = wrapped(y, height);
      double v;
      if (o.kernel == KernelKind::gauss) {
        v = std::exp(-static_cast<double>(dx * dx + dy * dy) / (2.0 * o.kernelSize * o.kernelSize));
      } else {
        // An N x N box covers -(N-1)/2 .. N/2: centred for odd N, half a
        // pixel off for even N.
        const long n = static_cast<long>(o.kernelSize), lo = -(n - 1) / 2, hi = n / 2;
        v = (lo <= dx && dx <= hi && lo <= dy && dy <= hi) ? 1.0 : 0.0;
      }
      kernel.set(x, y, v);
      sum += v;
    }
  }
  for (long y = 0; y < height; ++y)
    for (long x = 0; x < width; ++x) kernel.set(x, y, kernel.get(x, y) / sum);
  return kernel;
}

// The centred magnitude of a spectrum, mapped for display.
GreyImage spectrumPicture(const vcFrequencyBuffer& buffer, vcFrequencyDefs::FrequencyMapping mapping) {
  const vcPelBuffer<double> magnitude = buffer.getMagnitudeImage(true);
  return fromPelBuffer(vfFrequencyMapImage(magnitude, mapping, 0.0, 1.0));
}

// Defined below, after the filters.
template <class T>
std::vector<Picture> runFrame(const Options& o, const GreyImage& input, std::vector<Picture> pictures);

}  // namespace

std::string describe(const vcException& e) {
  const std::string message = e.what();
  if (!message.empty()) return message;
  char text[64];
  std::snprintf(text, sizeof text, "error 0x%lx", static_cast<unsigned long>(e.errorNumber()));
  return text;
}

FilterSet makeFilters(const Options& o, const vcPair<long>& size) {
  FilterSet set;
  const std::string what = "building the filter " + describeFilter(o);
  step(what, [&] {
    const vcPair<double> sigma(o.sigma, o.sigmaAcross.value_or(o.sigma));
    const vcPair<double> plateau(o.plateau, o.plateauAcross.value_or(o.plateau));
    const vcRadian angle(o.angle);
    switch (o.filter) {
      case FilterKind::bandPass:
        set.filters.push_back(
            std::make_unique<vcFrequencyFilterBandPass>(o.sigma, o.plateau, o.frequency, size, o.dcRadius));
        break;
      case FilterKind::bandReject:
        set.filters.push_back(
            std::make_unique<vcFrequencyFilterBandReject>(o.sigma, o.plateau, o.frequency, size, o.dcRadius));
        break;
      case FilterKind::gabor:
        set.filters.push_back(
            std::make_unique<vcFrequencyFilterGabor>(sigma, plateau, angle, o.frequency, size, o.dcRadius));
        break;
      case FilterKind::gaborReject:
        set.filters.push_back(
            std::make_unique<vcFrequencyFilterGaborReject>(sigma, plateau, angle, o.frequency, size, o.dcRadius));
        break;
      case FilterKind::image: {
        if (o.kernel == KernelKind::box &&
            (o.kernelSize > static_cast<double>(size.x) || o.kernelSize > static_cast<double>(size.y)))
          throw RunError("--kernel box: larger than the padded image");
        vcFrequencyBuffer kernelSpectrum;
        vfForwardFFT<double>(kernelImage(o, size.x, size.y), kernelSpectrum);
        set.filters.push_back(std::make_unique<vcFrequencyFilterImage>(kernelSpectrum));
        break;
      }
    }
    if (o.mirror) {
      // The same patch turned half a turn: a copy of the filter with the
      // angle changed through its setter (which rebuilds the coefficients).
      std::unique_ptr<vcFrequencyFilter> second(set.filters.front()->clone());
      if (auto* g = dynamic_cast<vcFrequencyFilterGabor*>(second.get())) g->angle(angle + vcRadian(std::numbers::pi));
      if (auto* r = dynamic_cast<vcFrequencyFilterGaborReject*>(second.get()))
        r->angle(angle + vcRadian(std::numbers::pi));
      set.filters.push_back(std::move(second));
      set.addPasses = o.filter == FilterKind::gabor;
    }
  });
  return set;
}

vcFrequencyBuffer applyFilters(const FilterSet& set, const vcFrequencyBuffer& spectrum) {
  // Filter a copy in place: the two-buffer apply would give the result the
  // padded size as its image size.
  vcFrequencyBuffer result(spectrum);
  if (!set.addPasses) {
    for (const auto& filter : set.filters) filter->apply(result);
    return result;
  }
  // A sum of passes: start from zero with the spectrum's fields (and no row
  // band, which a Gabor pass would leave behind and the sum would break),
  // then add each pass.
  vfFrequencySubtract(spectrum, result);
  for (const auto& filter : set.filters) {
    vcFrequencyBuffer pass(spectrum);
    filter->apply(pass);
    vfFrequencyAdd(pass, result);
  }
  return result;
}

std::vector<Picture> runPipeline(const Options& o, const GreyImage& input) {
  std::vector<Picture> pictures;
  pictures.push_back({"input.png", input});
  if (input.width > 2048 || input.height > 2048)
    return input.depth == 8 ? runFrame<unsigned char>(o, input, std::move(pictures))
                            : runFrame<unsigned short>(o, input, std::move(pictures));

  vcFrequencyBuffer spectrum;
  step("forward transform", [&] {
    if (input.depth == 8)
      vfForwardFFT<unsigned char>(toPelBuffer<unsigned char>(input), spectrum);
    else
      vfForwardFFT<unsigned short>(toPelBuffer<unsigned short>(input), spectrum);
  });
  const long width = spectrum.width(), height = spectrum.height();
  const FilterSet filters = makeFilters(o, vcPair<long>(width, height));

  step("spectrum pictures", [&] {
    pictures.push_back({"spectrum.png", spectrumPicture(spectrum, vcFrequencyDefs::eMapLog)});
    // The gain of every cell: the filter applied to an all-(1 + 0i) buffer.
    const vcFrequencyBuffer ones(filledImage(width, height, 1.0), filledImage(width, height, 0.0));
    pictures.push_back({"response.png", spectrumPicture(applyFilters(filters, ones), vcFrequencyDefs::eMapRange)});
  });

  vcFrequencyBuffer filtered = step("filtering", [&] { return applyFilters(filters, spectrum); });
  step("filtered spectrum picture", [&] {
    pictures.push_back({"filtered-spectrum.png", spectrumPicture(filtered, vcFrequencyDefs::eMapLog)});
  });

  step("inverse transform", [&] {
    // In place: the first inverse overwrites the array, the second re-reads
    // the result instead of transforming again.
    vcPelBuffer<double> real, imaginary, magnitude;
    vfInverseFFT(filtered, real, imaginary, true);
    vfInverseFFT<double>(filtered, magnitude, false, true);
    pictures.push_back({"filtered.png", fromPelBuffer(vfFrequencyMapImage(real, vcFrequencyDefs::eMapLinear, 0, 0))});
    pictures.push_back(
        {"filtered-magnitude.png", fromPelBuffer(vfFrequencyMapImage(magnitude, vcFrequencyDefs::eMapLinear, 0, 0))});
  });
  return pictures;
}

namespace {

// ---- frames larger than one buffer: a tiled plan ----

// The command line's filter as a frame filter (no size). The image filter's
// kernel gets a finite support: a Gaussian to 4 sigma, or the box, both
// normalised to sum 1, centred as in kernelImage.
vcFrameFilter frameFilter(const Options& o, double angle) {
  const vcPair<double> sigma(o.sigma, o.sigmaAcross.value_or(o.sigma));
  const vcPair<double> plateau(o.plateau, o.plateauAcross.value_or(o.plateau));
  switch (o.filter) {
    case FilterKind::bandPass:
      return vcFrameFilter::bandPass(o.sigma, o.plateau, o.frequency, o.dcRadius);
    case FilterKind::bandReject:
      return vcFrameFilter::bandReject(o.sigma, o.plateau, o.frequency, o.dcRadius);
    case FilterKind::gabor:
      return vcFrameFilter::gabor(sigma, plateau, vcRadian(angle), o.frequency, o.dcRadius);
    case FilterKind::gaborReject:
      return vcFrameFilter::gaborReject(sigma, plateau, vcRadian(angle), o.frequency, o.dcRadius);
    case FilterKind::image:
      break;
  }
  // An even box of N covers -(N-1)/2 .. N/2: one more column and row, the
  // first left empty, puts its centre pixel where the whole-buffer kernel has it.
  const long n = static_cast<long>(o.kernelSize);
  const long side = o.kernel == KernelKind::gauss ? 2 * static_cast<long>(std::ceil(4.0 * o.kernelSize)) + 1
                                                  : (n % 2 == 0 ? n + 1 : n);
  if (side < 1 || side > 2047) throw RunError("--kernel: too large for a tile");
  vcPelBuffer<double> kernel = filledImage(side, side, 0.0);
  const long c = side / 2;
  double sum = 0.0;
  for (long y = 0; y < side; ++y)
    for (long x = 0; x < side; ++x) {
      const long dx = x - c, dy = y - c;
      double v;
      if (o.kernel == KernelKind::gauss)
        v = std::exp(-static_cast<double>(dx * dx + dy * dy) / (2.0 * o.kernelSize * o.kernelSize));
      else
        v = (-(n - 1) / 2 <= dx && dx <= n / 2 && -(n - 1) / 2 <= dy && dy <= n / 2) ? 1.0 : 0.0;
      kernel.set(x, y, v);
      sum += v;
    }
  for (long y = 0; y < side; ++y)
    for (long x = 0; x < side; ++x) kernel.set(x, y, kernel.get(x, y) / sum);
  return vcFrameFilter::kernel(kernel);
}

// Frames above 2048 a side go through tiled plans. The spectrum pictures are
// those of the frame's central tile (the filter built at the tile size); the
// filtered pictures are of the whole frame. --mirror adds the outputs of the
// two patches (Gabor), or for Gabor-reject gives r1 + r2 - input, the same
// as applying both when the two patches do not overlap.
template <class Pel>
std::vector<Picture> runFrame(const Options& o, const GreyImage& input, std::vector<Picture> pictures) {
  const long w = input.width, h = input.height;
  const vcPelBuffer<Pel> frame = toPelBuffer<Pel>(input);
  std::vector<vcFramePlan> plans;
  step("planning the tiles", [&] {
    plans.emplace_back(w, h, frameFilter(o, o.angle), vcEdgeMode::eReflect);
    if (o.mirror) plans.emplace_back(w, h, frameFilter(o, o.angle + std::numbers::pi), vcEdgeMode::eReflect);
  });
  const vcFramePlan& plan = plans.front();
  std::cout << "frame: " << w << "x" << h << " is larger than one buffer (2048 a side): filtered through a tiled plan, "
            << plan.jobs().size() << " tiles of " << plan.tileSize() << "x" << plan.tileSize() << ", margin "
            << plan.margin() << ", reflected edges, energy left outside the margin " << plan.errorBound()
            << "; the spectrum pictures show the central tile\n";

  const long T = plan.tileSize();
  const vcPelBuffer<Pel> tile(frame, std::max(0L, (w - T) / 2), std::max(0L, (h - T) / 2), std::min(T, w),
                              std::min(T, h));
  vcFrequencyBuffer spectrum;
  step("forward transform of the central tile", [&] {
    vcPelBuffer_const<Pel> view = tile;
    view.offset(0, 0);
    vfForwardFFT<Pel>(view, spectrum);
  });
  const FilterSet filters = makeFilters(o, vcPair<long>(spectrum.width(), spectrum.height()));
  step("spectrum pictures", [&] {
    pictures.push_back({"spectrum.png", spectrumPicture(spectrum, vcFrequencyDefs::eMapLog)});
    const long sw = spectrum.width(), sh = spectrum.height();
    const vcFrequencyBuffer ones(filledImage(sw, sh, 1.0), filledImage(sw, sh, 0.0));
    pictures.push_back({"response.png", spectrumPicture(applyFilters(filters, ones), vcFrequencyDefs::eMapRange)});
    pictures.push_back(
        {"filtered-spectrum.png", spectrumPicture(applyFilters(filters, spectrum), vcFrequencyDefs::eMapLog)});
  });

  step("filtering the frame", [&] {
    vcPelBuffer<double> real, imaginary;
    plan.run<Pel>(frame, real, imaginary);
    for (std::size_t i = 1; i < plans.size(); ++i) {
      vcPelBuffer<double> re2, im2;
      plans[i].run<Pel>(frame, re2, im2);
      const bool reject = o.filter == FilterKind::gaborReject;
      for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) {
          real.set(x, y, real.get(x, y) + re2.get(x, y) - (reject ? static_cast<double>(frame.get(x, y)) : 0.0));
          imaginary.set(x, y, imaginary.get(x, y) + im2.get(x, y));
        }
    }
    pictures.push_back({"filtered.png", fromPelBuffer(vfFrequencyMapImage(real, vcFrequencyDefs::eMapLinear, 0, 0))});
    for (long y = 0; y < h; ++y)  // the magnitude, into the imaginary part's pixels
      for (long x = 0; x < w; ++x) imaginary.set(x, y, std::hypot(real.get(x, y), imaginary.get(x, y)));
    pictures.push_back(
        {"filtered-magnitude.png", fromPelBuffer(vfFrequencyMapImage(imaginary, vcFrequencyDefs::eMapLinear, 0, 0))});
  });
  return pictures;
}

}  // namespace

}  // namespace demo

// Fuzz target: the vision layer's parameters. The first byte picks an entry
// point (texture bank, texture model, frame plan, phase correlation,
// similarity registration, windows, edge padding); the rest of the input
// supplies its parameters, each as a typical value, a scaled one, a special
// one (zeros of both signs, denormals, NaN, infinities, extremes) or raw
// bytes, and the pixels of small images. The property: every call returns or
// throws one of the library's errors (vcException, or std::invalid_argument
// where the interface names it); anything else -- another exception, a
// sanitizer report, a huge allocation -- is a finding.

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "filt/vision/edges.h"
#include "filt/vision/frames.h"
#include "filt/vision/registration.h"
#include "filt/vision/texture.h"
#include "filt/vision/windows.h"
#include "fuzz_support.h"

using namespace vffuzz;

namespace {

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  unsigned byte() { return at_ < size_ ? data_[at_++] : 0u; }

  double real(double typical) {
    const unsigned mode = byte() % 4;
    if (mode == 0) return typical;
    if (mode == 1) return typical * (static_cast<double>(byte()) - 32.0) / 32.0;
    if (mode == 2) {
      static constexpr double kSpecial[] = {0.0, -0.0, 1e-300, 5e-324, -1.0, 1.0, 0.5, 1e300, -1e300};
      const unsigned k = byte() % 11;
      if (k == 9) return std::numeric_limits<double>::quiet_NaN();
      if (k == 10)
        return (byte() & 1) ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
      return kSpecial[k];
    }
    double v = 0.0;
    raw(&v, sizeof v);
    return v;
  }

  long integer(long typical) {
    const unsigned mode = byte() % 4;
    if (mode == 0) return typical;
    if (mode == 1) return static_cast<long>(byte()) - 64;
    if (mode == 2) {
      static constexpr long kSpecial[] = {0,
                                          -1,
                                          1,
                                          2048,
                                          2049,
                                          65536,
                                          65537,
                                          1L << 31,
                                          1L << 40,
                                          std::numeric_limits<long>::max(),
                                          std::numeric_limits<long>::min()};
      return kSpecial[byte() % (sizeof kSpecial / sizeof kSpecial[0])];
    }
    long v = 0;
    raw(&v, sizeof v);
    return v;
  }

  // An image of 1 to 48 pixels a side, smooth structure plus noise from the
  // input, or of the given size.
  vcPelBuffer<double> image(long w = 0, long h = 0) {
    if (w <= 0) w = 1 + static_cast<long>(byte() % 48);
    if (h <= 0) h = 1 + static_cast<long>(byte() % 48);
    const double a = 0.05 + 0.01 * (byte() % 40), b = 0.05 + 0.01 * (byte() % 40);
    vcPelBuffer<double> out(w, h);
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) out.set(x, y, 100.0 + 50.0 * std::sin(a * x + b * y) + ((x * 31 + y * 17) % 7));
    return out;
  }

 private:
  void raw(void* out, std::size_t n) {
    unsigned char bytes[8] = {};
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(byte());
    std::memcpy(out, bytes, n);
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

template <class E>
E anEnum(Reader& in, int count) {
  // One past the valid values as well: a host may pass any value of the
  // underlying type.
  return static_cast<E>(static_cast<int>(in.byte() % static_cast<unsigned>(count + 1)));
}

vcGaborBank aBank(Reader& in) {
  std::vector<double> frequencies(1 + in.byte() % 3);
  for (double& f : frequencies) f = in.real(0.15);
  const long orientations = in.integer(4);
  // Every parameter is read into a variable of its own first: the order in
  // which a call's arguments are evaluated is the compiler's choice, and the
  // replay (g++) must read an input as the fuzzer (clang) did.
  const bool fromBandwidths = in.byte() & 1;
  const double bandwidth = in.real(1.0);
  const double angular = in.real(0.0);
  vcGaborBank bank = fromBandwidths
                         ? vcGaborBank(frequencies, orientations, bandwidth, angular)
                         : vcGaborBank(frequencies, orientations,
                                       std::vector<vcPair<double>>(frequencies.size(), {in.real(0.04), in.real(0.04)}));
  if (in.byte() & 1) bank.support(in.real(4.0));
  if (in.byte() & 1) bank.oversample(in.integer(2));
  return bank;
}

void texture(Reader& in) {
  const vcGaborBank bank = aBank(in);
  const vcPelBuffer<double> image = in.image();
  const long step = in.integer(1);
  const vcTextureStack stack = bank.energy<double>(image, step);
  require(stack.filters == bank.filters(), "one energy plane per filter");
  (void)bank.maps(stack);
  const long k = in.integer(0), boundStep = in.integer(1);
  (void)bank.energyBound(k, boundStep, {in.integer(64), in.integer(64)});
  (void)bank.orientation<double>(image, in.integer(2));
}

void model(Reader& in) {
  const vcGaborBank bank = aBank(in);
  const double rate = in.real(0.01);
  const long smoothing = in.integer(-1), margin = in.integer(-1);
  const double shrinkage = in.real(0.0);
  const auto features = anEnum<vcTextureModel::Features>(in, 2);
  vcTextureModel m(bank, rate, smoothing, margin, shrinkage, features);
  const long side = 8 + static_cast<long>(in.byte() % 56);
  m.train(std::vector<vcPelBuffer_const<double>>{in.image(side, side)});
  if (in.byte() & 1) m.threshold(in.real(m.threshold()));
  const vcPelBuffer<double> test = in.image();
  const vcPelBuffer<unsigned char> flags = m.defects<double>(test);
  require(flags.width() == test.width() && flags.height() == test.height(), "defects keep the image's size");
}

vcFrameFilter aFrameFilter(Reader& in) {
  const unsigned kind = in.byte() % 4;
  if (kind < 2) {
    const double sigma = in.real(0.02), plateau = in.real(0.0), frequency = in.real(0.1);
    const long dc = in.integer(0);
    return kind == 0 ? vcFrameFilter::bandPass(sigma, plateau, frequency, dc)
                     : vcFrameFilter::bandReject(sigma, plateau, frequency, dc);
  }
  const vcPair<double> sigma{in.real(0.03), in.real(0.03)}, plateau{in.real(0.0), in.real(0.0)};
  const double angle = in.real(0.5), frequency = in.real(0.12);
  const long dc = in.integer(0);
  return kind == 2 ? vcFrameFilter::gabor(sigma, plateau, vcRadian(angle), frequency, dc)
                   : vcFrameFilter::gaborReject(sigma, plateau, vcRadian(angle), frequency, dc);
}

void frames(Reader& in) {
  const vcFrameFilter filter = aFrameFilter(in);
  const long w = in.integer(40), h = in.integer(30);
  const vcEdgeMode edge = anEnum<vcEdgeMode>(in, 4);
  const double tolerance = in.real(1e-3);
  const long tile = in.integer(0);
  const vcFramePlan plan(w, h, filter, edge, tolerance, tile);
  const double low = in.real(0.0), high = in.real(255.0);
  (void)plan.pixelErrorBound(low, high);
  if (w > 64 || h > 64) return;  // the plan alone: frames this size are not run here
  const vcPelBuffer<double> input = in.image(w, h);
  vcPelBuffer<double> out;
  plan.run<double>(input, out, static_cast<vcFramePlan::Output>(in.byte() % 3));
  require(out.width() == w && out.height() == h, "a frame's output has its size");
}

vcPhaseCorrelationOptions someOptions(Reader& in) {
  vcPhaseCorrelationOptions o;
  o.edges = anEnum<vcEdgeTreatment>(in, 4);
  o.coarseEdges = anEnum<vcEdgeTreatment>(in, 4);
  o.tukeyAlpha = in.real(0.5);
  o.largeShifts = in.byte() & 1;
  o.subPixel = in.byte() & 1;
  o.coarseSide = in.integer(32);
  o.fineSide = in.integer(64);
  o.followingWindow = in.byte() & 1;
  o.followingTaper = in.real(0.1);
  o.ambiguityThreshold = in.real(0.05);
  return o;
}

void correlation(Reader& in) {
  const long w = in.integer(40), h = in.integer(36);
  const vcPhaseCorrelator correlator(w, h, someOptions(in));
  if (w > 64 || h > 64) return;
  const vcPelBuffer<double> a = in.image(w, h), b = in.image(w, h);
  vcPelBuffer<double> surface;
  const vcTranslation t = correlator.run(a, b, (in.byte() & 1) ? &surface : nullptr);
  require(!(t.confidence < 0.0) && !(t.confidence > 1.0), "confidence in [0, 1]");
}

void similarity(Reader& in) {
  vcSimilarityOptions o;
  o.angles = in.integer(32);
  o.radii = in.integer(16);
  o.minScale = in.real(0.5);
  o.maxScale = in.real(2.0);
  o.refinements = static_cast<int>(in.integer(1));
  o.translation = someOptions(in);
  const long w = in.integer(32), h = in.integer(32);
  const vcSimilarityRegistration registration(w, h, o);
  if (w > 64 || h > 64) return;
  const vcPelBuffer<double> reference = in.image(w, h), moving = in.image(w, h);
  (void)registration.run(reference, moving);
}

void windows(Reader& in) {
  const long n = in.integer(16);
  if (n < (1L << 16)) {  // larger windows are just large; not bad input
    (void)vfHannWindow(n);
    (void)vfTukeyWindow(n, in.real(0.5));
  }
  vcPelBuffer<double> image = in.image();
  vfApplyTukeyWindow(image, in.real(0.5));
  (void)vfPeriodicSmoothDecomposition(image);
}

void edges(Reader& in) {
  const long i = in.integer(3), n = in.integer(10);
  const vcEdgeMode mode = anEnum<vcEdgeMode>(in, 4);
  const long at = vfEdgeIndex(i, n, mode);
  require(at >= -1 && at < n, "an edge index lies in the image or is -1");
  const vcPelBuffer<double> source = in.image();
  const long l = in.integer(2), t = in.integer(2), r = in.integer(2), b = in.integer(2);
  if (l > 256 || t > 256 || r > 256 || b > 256) return;  // large pads are just large
  const vcPelBuffer<double> padded = vfEdgePad<double>(source, l, t, r, b, mode);
  require(padded.width() == source.width() + l + r && padded.height() == source.height() + t + b,
          "a padded image has the pads' size");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Reader in(data + 1, size - 1);
  try {
    switch (data[0] % 7) {
      case 0:
        texture(in);
        break;
      case 1:
        model(in);
        break;
      case 2:
        frames(in);
        break;
      case 3:
        correlation(in);
        break;
      case 4:
        similarity(in);
        break;
      case 5:
        windows(in);
        break;
      default:
        edges(in);
        break;
    }
  } catch (const vcException&) {
  } catch (const std::invalid_argument&) {
  }
  return 0;
}

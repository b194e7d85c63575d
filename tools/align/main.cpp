// vexfilt-align REFERENCE MOVING [--similarity] [-o DIR] [options]
//
// Prints one line of JSON: the shift (dx, dy) that carries the reference onto
// the moving image, moving(x, y) ~ reference(x - dx, y - dy), its confidence
// and ambiguity flag, with --similarity also angle (radians) and scale, and
// the time of one call in seconds. With -o DIR it writes DIR/surface.png
// (the coarse correlation surface, zero shift at the centre) and
// DIR/overlay.png (a checkerboard of the reference and the moving image
// carried back onto it: seams vanish when the alignment is right).
//
// Options for measurements: --fine follow|ps|hann|tukey|none (the fine stage's
// edge treatment), --taper T (the following window's taper fraction),
// --coarse-side N (the coarse stage's largest side), --angles N and --radii N
// (the log-polar grid of --similarity),
// --coarse ps|hann|tukey|none, --large-shifts,
// --integer (no sub-pixel stage), --repeat N (time N calls, report the mean).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "errors.h"
#include "filt/fft.h"
#include "filt/vision/registration.h"
#include "image_file.h"

namespace {

struct Args {
  std::string reference;
  std::string moving;
  std::string outDir;
  bool similarity = false;
  int repeat = 1;
  long angles = 512;
  long radii = 256;
  vcPhaseCorrelationOptions options;
};

Args parse(const std::vector<std::string>& argv) {
  Args a;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string& s = argv[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= argv.size()) throw demo::UsageError(s + " needs a value");
      return argv[++i];
    };
    if (s == "--similarity") {
      a.similarity = true;
    } else if (s == "-o") {
      a.outDir = value();
    } else if (s == "--large-shifts") {
      a.options.largeShifts = true;
    } else if (s == "--integer") {
      a.options.subPixel = false;
    } else if (s == "--angles") {
      a.angles = std::stol(value());
    } else if (s == "--radii") {
      a.radii = std::stol(value());
    } else if (s == "--coarse-side") {
      a.options.coarseSide = std::stol(value());
    } else if (s == "--taper") {
      a.options.followingTaper = std::stod(value());
    } else if (s == "--repeat") {
      a.repeat = std::stoi(value());
      if (a.repeat < 1 || a.repeat > 1000) throw demo::UsageError("--repeat must be 1 .. 1000");
    } else if (s == "--fine" || s == "--coarse") {
      const std::string& e = value();
      vcEdgeTreatment t = vcEdgeTreatment::periodicSmooth;
      if (e == "ps")
        t = vcEdgeTreatment::periodicSmooth;
      else if (e == "hann")
        t = vcEdgeTreatment::hann;
      else if (e == "tukey")
        t = vcEdgeTreatment::tukey;
      else if (e == "none")
        t = vcEdgeTreatment::none;
      else if (e != "follow" || s == "--coarse")
        throw demo::UsageError(s + " takes ps, hann, tukey, none" + (s == "--fine" ? " or follow" : ""));
      if (s == "--coarse") {
        a.options.coarseEdges = t;
      } else {
        a.options.followingWindow = e == "follow";
        a.options.edges = t;
      }
    } else if (!s.empty() && s[0] == '-') {
      throw demo::UsageError("unknown option " + s);
    } else {
      files.push_back(s);
    }
  }
  if (files.size() != 2)
    throw demo::UsageError(
        "usage: vexfilt-align REFERENCE MOVING [--similarity] [-o DIR] [--fine follow|ps|hann|tukey|none] "
        "[--coarse ps|hann|tukey|none] "
        "[--large-shifts] [--integer] [--repeat N]");
  a.reference = files[0];
  a.moving = files[1];
  return a;
}

vcPelBuffer<double> toDouble(const demo::GreyImage& g) {
  vcPelBuffer<double> out(g.width, g.height);
  for (long y = 0; y < g.height; ++y)
    for (long x = 0; x < g.width; ++x) out.set(x, y, g.at(x, y));
  return out;
}

// Bilinear sample with the border clamped.
double sample(const vcPelBuffer_const<double>& im, double x, double y) {
  x = std::clamp(x, 0.0, static_cast<double>(im.width() - 1));
  y = std::clamp(y, 0.0, static_cast<double>(im.height() - 1));
  const long x0 = std::min(static_cast<long>(x), im.width() - 2 < 0 ? 0 : im.width() - 2);
  const long y0 = std::min(static_cast<long>(y), im.height() - 2 < 0 ? 0 : im.height() - 2);
  const double fx = x - x0, fy = y - y0;
  const long x1 = std::min(x0 + 1, im.width() - 1), y1 = std::min(y0 + 1, im.height() - 1);
  return (1 - fy) * ((1 - fx) * im.get(x0, y0) + fx * im.get(x1, y0)) +
         fy * ((1 - fx) * im.get(x0, y1) + fx * im.get(x1, y1));
}

void writeOutputs(const std::filesystem::path& dir, const vcPelBuffer<double>& ref, const vcPelBuffer<double>& mov,
                  const vcPelBuffer<double>& surface, double dx, double dy, double angle, double scale, int depth) {
  std::filesystem::create_directories(dir);
  if (surface.isBound()) {
    const vcPelBuffer<unsigned char> s8 = vfFrequencyMapImage(surface, vcFrequencyDefs::eMapLinear, 0, 0);
    demo::GreyImage g(s8.width(), s8.height(), 8);
    for (long y = 0; y < s8.height(); ++y)
      for (long x = 0; x < s8.width(); ++x) g.at(x, y) = s8.get(x, y);
    demo::writeImageFile(dir / "surface.png", g);
  }
  // The moving image carried back: pixel q of the reference shows at
  // p = c + scale R(angle) (q - c) + (dx, dy) in the moving image.
  const double cx = (ref.width() - 1) / 2.0, cy = (ref.height() - 1) / 2.0;
  const double ca = std::cos(angle) * scale, sa = std::sin(angle) * scale;
  const long tile = std::max(8L, std::min(ref.width(), ref.height()) / 8);
  const double top = depth == 16 ? 65535.0 : 255.0;
  demo::GreyImage g(ref.width(), ref.height(), depth);
  for (long y = 0; y < ref.height(); ++y)
    for (long x = 0; x < ref.width(); ++x) {
      double v = ref.get(x, y);
      if (((x / tile) + (y / tile)) % 2 == 1) {
        const double qx = x - cx, qy = y - cy;
        v = sample(mov, cx + ca * qx - sa * qy + dx, cy + sa * qx + ca * qy + dy);
      }
      g.at(x, y) = static_cast<std::uint16_t>(std::lround(std::clamp(v, 0.0, top)));
    }
  demo::writeImageFile(dir / "overlay.png", g);
}

int run(const std::vector<std::string>& argv) {
  const Args args = parse(argv);
  const demo::GreyImage a = demo::readImageFile(args.reference);
  const demo::GreyImage b = demo::readImageFile(args.moving);
  if (a.width != b.width || a.height != b.height) throw demo::InputError("the two images differ in size");
  const vcPelBuffer<double> ref = toDouble(a);
  const vcPelBuffer<double> mov = toDouble(b);
  vcPelBuffer<double> surface;
  double dx = 0, dy = 0, angle = 0, scale = 1, confidence = 0;
  bool ambiguous = true;
  const auto t0 = std::chrono::steady_clock::now();
  if (args.similarity) {
    vcSimilarityOptions options;
    options.translation = args.options;
    options.angles = args.angles;
    options.radii = args.radii;
    const vcSimilarityRegistration plan(a.width, a.height, options);
    vcSimilarity r;
    for (int i = 0; i < args.repeat; ++i) r = plan.run(ref, mov);
    dx = r.dx, dy = r.dy, angle = r.angle, scale = r.scale, confidence = r.confidence, ambiguous = r.ambiguous;
  } else {
    const vcPhaseCorrelator plan(a.width, a.height, args.options);
    vcTranslation r;
    for (int i = 0; i < args.repeat; ++i) r = plan.run(ref, mov, args.outDir.empty() ? nullptr : &surface);
    dx = r.dx, dy = r.dy, confidence = r.confidence, ambiguous = r.ambiguous;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / static_cast<double>(args.repeat);
  std::printf("{\"dx\": %.6f, \"dy\": %.6f, \"confidence\": %.6f, \"ambiguous\": %s", dx, dy, confidence,
              ambiguous ? "true" : "false");
  if (args.similarity) std::printf(", \"angle\": %.8f, \"scale\": %.8f", angle, scale);
  std::printf(", \"seconds\": %.6f}\n", seconds);
  if (!args.outDir.empty())
    writeOutputs(args.outDir, ref, mov, surface, dx, dy, angle, scale, std::max(a.depth, b.depth));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const demo::Error& e) {
    std::fprintf(stderr, "vexfilt-align: %s\n", e.what());
    return e.status();
  } catch (const vcException& e) {
    std::fprintf(stderr, "vexfilt-align: %s\n", e.message().c_str());
    return demo::kExitFailure;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vexfilt-align: %s\n", e.what());
    return demo::kExitFailure;
  }
}

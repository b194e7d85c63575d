#include "args.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "errors.h"
#include "scene.h"

namespace demo {
namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

// What an option needs and which filters it applies to.
enum class Applies { always, parametric, gaborOnly, imageOnly, sceneOnly, bankOnly };

struct OptionInfo {
  const char* name;
  bool takesValue;
  Applies applies;
};

constexpr OptionInfo kOptions[] = {
    {"--output", true, Applies::always},
    {"--filter", true, Applies::always},
    {"--frequency", true, Applies::parametric},
    {"--sigma", true, Applies::parametric},
    {"--sigma-across", true, Applies::gaborOnly},
    {"--plateau", true, Applies::parametric},
    {"--plateau-across", true, Applies::gaborOnly},
    {"--angle", true, Applies::gaborOnly},
    {"--dc-radius", true, Applies::parametric},
    {"--mirror", false, Applies::gaborOnly},
    {"--kernel", true, Applies::imageOnly},
    {"--scene-size", true, Applies::sceneOnly},
    {"--bank", false, Applies::always},
    {"--bank-frequencies", true, Applies::bankOnly},
    {"--orientations", true, Applies::bankOnly},
    {"--false-alarm", true, Applies::bankOnly},
    {"--train", true, Applies::bankOnly},
    {"--help", false, Applies::always},
    {"--version", false, Applies::always},
};

const OptionInfo* findOption(const std::string& name) {
  for (const OptionInfo& info : kOptions)
    if (name == info.name) return &info;
  return nullptr;
}

std::string longName(const std::string& arg) {
  if (arg == "-o") return "--output";
  if (arg == "-f") return "--filter";
  if (arg == "-h") return "--help";
  return arg;
}

double parseNumber(const std::string& option, const std::string& text) {
  double v = 0.0;
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || p != end || !std::isfinite(v))
    throw UsageError(option + ": '" + text + "' is not a number");
  return v;
}

long parseInteger(const std::string& option, const std::string& text) {
  long v = 0;
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || p != end) throw UsageError(option + ": '" + text + "' is not an integer");
  return v;
}

// Degrees, or radians with the suffix "rad"; "deg" may be written.
double parseAngle(const std::string& option, const std::string& text) {
  if (text.ends_with("rad")) return parseNumber(option, text.substr(0, text.size() - 3));
  if (text.ends_with("deg")) return parseNumber(option, text.substr(0, text.size() - 3)) * kDegree;
  return parseNumber(option, text) * kDegree;
}

FilterKind parseFilter(const std::string& text) {
  if (text == "band-pass") return FilterKind::bandPass;
  if (text == "band-reject") return FilterKind::bandReject;
  if (text == "gabor") return FilterKind::gabor;
  if (text == "gabor-reject") return FilterKind::gaborReject;
  if (text == "image") return FilterKind::image;
  throw UsageError("--filter: unknown filter '" + text + "' (band-pass, band-reject, gabor, gabor-reject, image)");
}

void parseKernel(const std::string& text, Options& o) {
  const std::size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  if (colon == std::string::npos || (kind != "gauss" && kind != "box"))
    throw UsageError("--kernel: expected gauss:SIGMA or box:SIZE, not '" + text + "'");
  const std::string value = text.substr(colon + 1);
  if (kind == "gauss") {
    o.kernel = KernelKind::gauss;
    o.kernelSize = parseNumber("--kernel gauss", value);
    if (o.kernelSize <= 0.0) throw UsageError("--kernel gauss: sigma must be positive");
  } else {
    o.kernel = KernelKind::box;
    o.kernelSize = static_cast<double>(parseInteger("--kernel box", value));
    if (o.kernelSize < 1.0) throw UsageError("--kernel box: size must be at least 1");
  }
}

void setOption(Options& o, const std::string& name, const std::string& value) {
  if (name == "--output") {
    if (value.empty()) throw UsageError("--output: empty directory name");
    o.outputDir = value;
  } else if (name == "--filter") {
    o.filter = parseFilter(value);
  } else if (name == "--frequency") {
    o.frequency = parseNumber(name, value);
  } else if (name == "--sigma") {
    o.sigma = parseNumber(name, value);
  } else if (name == "--sigma-across") {
    o.sigmaAcross = parseNumber(name, value);
  } else if (name == "--plateau") {
    o.plateau = parseNumber(name, value);
  } else if (name == "--plateau-across") {
    o.plateauAcross = parseNumber(name, value);
  } else if (name == "--angle") {
    o.angle = parseAngle(name, value);
  } else if (name == "--dc-radius") {
    o.dcRadius = parseInteger(name, value);
  } else if (name == "--mirror") {
    o.mirror = true;
  } else if (name == "--kernel") {
    parseKernel(value, o);
  } else if (name == "--scene-size") {
    o.sceneSize = parseInteger(name, value);
    if (o.sceneSize < 16 || o.sceneSize > 2048) throw UsageError("--scene-size: must be from 16 to 2048");
  } else if (name == "--bank") {
    o.bank = true;
  } else if (name == "--bank-frequencies") {
    o.bankFrequencies.clear();
    for (std::size_t start = 0; start <= value.size();) {
      const std::size_t comma = std::min(value.find(',', start), value.size());
      o.bankFrequencies.push_back(parseNumber(name, value.substr(start, comma - start)));
      start = comma + 1;
    }
  } else if (name == "--orientations") {
    o.orientations = parseInteger(name, value);
  } else if (name == "--false-alarm") {
    o.falseAlarm = parseNumber(name, value);
  } else if (name == "--train") {
    if (value.empty()) throw UsageError("--train: empty file name");
    for (std::size_t start = 0; start <= value.size();) {
      const std::size_t comma = std::min(value.find(',', start), value.size());
      o.train.push_back(value.substr(start, comma - start));
      start = comma + 1;
    }
  } else if (name == "--help") {
    o.help = true;
  } else if (name == "--version") {
    o.version = true;
  }
}

bool isGabor(FilterKind k) {
  return k == FilterKind::gabor || k == FilterKind::gaborReject;
}

void checkApplies(const Options& o, const OptionInfo& info) {
  const std::string name = info.name;
  switch (info.applies) {
    case Applies::always:
      return;
    case Applies::parametric:
      if (o.filter == FilterKind::image) throw UsageError(name + " does not apply to --filter image (see --kernel)");
      return;
    case Applies::gaborOnly:
      if (!isGabor(o.filter)) throw UsageError(name + " applies to --filter gabor and gabor-reject only");
      return;
    case Applies::imageOnly:
      if (o.filter != FilterKind::image) throw UsageError(name + " applies to --filter image only");
      return;
    case Applies::sceneOnly:
      if (!o.input.empty()) throw UsageError(name + " applies to the built-in scene only, not to an input image");
      return;
    case Applies::bankOnly:
      if (!o.bank) throw UsageError(name + " applies to --bank only");
      return;
  }
}

}  // namespace

Options::Options() : frequency(kSceneFrequencyA), sigma(0.015), angle(kSceneAngleA * kDegree) {}

Options parseArgs(const std::vector<std::string>& args) {
  Options o;
  // Help is given whatever else the command line holds.
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      return o;
    }
  }
  std::vector<const OptionInfo*> given;
  bool positionalOnly = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (positionalOnly || arg.size() < 2 || arg[0] != '-') {
      if (!o.input.empty()) throw UsageError("more than one input image: '" + o.input + "' and '" + arg + "'");
      if (arg.empty()) throw UsageError("empty input file name");
      o.input = arg;
      continue;
    }
    if (arg == "--") {
      positionalOnly = true;
      continue;
    }
    std::string name = longName(arg), value;
    bool hasValue = false;
    if (const std::size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    const OptionInfo* info = findOption(name);
    if (info == nullptr) throw UsageError("unknown option '" + arg + "' (see --help)");
    if (info->takesValue && !hasValue) {
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      value = args[++i];
    } else if (!info->takesValue && hasValue) {
      throw UsageError(name + " takes no value");
    }
    for (const OptionInfo* g : given)
      if (g == info) throw UsageError(name + " given twice");
    given.push_back(info);
    setOption(o, name, value);
  }
  if (o.help || o.version) return o;
  for (const OptionInfo* info : given) checkApplies(o, *info);
  return o;
}

const char* filterName(FilterKind kind) {
  switch (kind) {
    case FilterKind::bandPass:
      return "band-pass";
    case FilterKind::bandReject:
      return "band-reject";
    case FilterKind::gabor:
      return "gabor";
    case FilterKind::gaborReject:
      return "gabor-reject";
    case FilterKind::image:
      return "image";
  }
  return "?";
}

std::string describeFilter(const Options& o) {
  char text[240];
  const double across = o.sigmaAcross.value_or(o.sigma), plateauAcross = o.plateauAcross.value_or(o.plateau);
  switch (o.filter) {
    case FilterKind::bandPass:
    case FilterKind::bandReject:
      std::snprintf(text, sizeof text, "%s (frequency %g, sigma %g, plateau %g, dc radius %ld)", filterName(o.filter),
                    o.frequency, o.sigma, o.plateau, o.dcRadius);
      break;
    case FilterKind::gabor:
    case FilterKind::gaborReject:
      std::snprintf(text, sizeof text,
                    "%s (frequency %g, angle %g degrees, sigma %g x %g, plateau %g x %g, dc radius %ld%s)",
                    filterName(o.filter), o.frequency, o.angle / kDegree, o.sigma, across, o.plateau, plateauAcross,
                    o.dcRadius, o.mirror ? ", mirrored" : "");
      break;
    case FilterKind::image:
      std::snprintf(text, sizeof text, "image (kernel %s %g)", o.kernel == KernelKind::gauss ? "gauss" : "box",
                    o.kernelSize);
      break;
  }
  return text;
}

std::string helpText() {
  return R"(Usage: vexfilt-demo [options] [IMAGE]

Runs one frequency-domain filter end to end -- forward FFT of a grey image,
the filter applied to its spectrum, inverse FFT -- and writes PNG images:
  input.png               the image as read (or the built-in scene)
  spectrum.png            log magnitude of its spectrum, zero frequency at the
                          centre, frequency x to the right and y downward
  response.png            the filter's gain in the same layout, 0 black, 1 white
  filtered-spectrum.png   log magnitude of the filtered spectrum
  filtered.png            the filtered image (real part, linear over its range)
  filtered-magnitude.png  its magnitude: for a Gabor filter the local strength
                          of the grating it selects

IMAGE is an 8- or 16-bit PNG (colour is converted to grey) or a binary PGM
(P5), at most 8192 pixels a side; the library pads it to powers of two and
transforms up to 2048 a side. Without IMAGE the demo makes a test scene: a
grating at 0.08 cycles/pixel and 30 degrees with two flaws, a disc of a second
grating at 0.17 and 120 degrees, and noise; the default Gabor filter picks the
first grating, so the flaws show as dark marks in filtered-magnitude.png.

Units. Frequencies are normalised: cycles per pixel, 0.5 is the Nyquist
frequency (a period of 2 pixels), 0.1 a period of 10 pixels; the spectrum's
width sets the scale in both directions. Sigma and plateau are measured in the
same unit. Angles are degrees, or radians with the suffix "rad" (1.2rad).

Options:
  -o, --output DIR        directory for the images, created if needed
                          (default: out)
  -f, --filter NAME       band-pass     passes a ring around zero frequency
                          band-reject   removes that ring, keeps the rest
                          gabor         passes a patch around one oriented
                                        frequency (default)
                          gabor-reject  removes that patch, keeps the rest
                          image         multiplies by a kernel's spectrum
                                        (see --kernel)
  --frequency F           band filters: the ring's radius; Gabor filters: the
                          patch centre's distance from zero frequency; 0 to 0.5
                          (default 0.08)
  --sigma S               standard deviation of the Gaussian fall-off beyond the
                          plateau; Gabor: along the angle (> 0, default 0.015)
  --sigma-across S        Gabor: standard deviation across the angle
                          (default: --sigma)
  --plateau P             half-width of the flat top (gain exactly 1, or 0 for
                          the reject filters); Gabor: along the angle
                          (>= 0, default 0)
  --plateau-across P      Gabor: plateau across the angle (default: --plateau)
  --angle A               Gabor: direction of the selected frequency. 0 varies
                          along x (vertical stripes), 90 along y (horizontal
                          stripes, y pointing down) (default 30)
  --dc-radius R           cells around zero frequency: band-pass and Gabor set
                          the (2R-1) x (2R-1) square there to 0 after filtering,
                          the reject filters keep it unchanged; 0: none
                          (default 0)
  --mirror                Gabor filters: also apply the patch at angle + 180
                          degrees, the mirror image of a real grating's peak, so
                          a real image gives a real result; gabor adds the two
                          passes, gabor-reject applies both (needed to remove a
                          grating completely)
  --kernel gauss:S|box:N  image filter: convolve (circularly, over the padded
                          image) with a Gaussian of S pixels standard deviation
                          or an N x N box, normalised to sum 1 (default gauss:2)
  --scene-size N          side of the built-in scene, 16 to 2048 (default 512)
  --bank                  instead of one filter, a Gabor bank: writes the
                          orientation (hue; saturation: coherence), texture
                          energy and defect maps (see docs/texture.md)
  --bank-frequencies LIST bank: frequencies, cycles per pixel (default 0.08,0.16)
  --orientations N        bank: orientations over 180 degrees (default 8)
  --false-alarm R         bank: false-alarm rate of the defect threshold on
                          the training pixels (default 0.01)
  --train FILE[,FILE...]  bank: defect-free images to train the defect model
                          on (default: the scene's weave without flaws; for
                          an input image, the image itself)
  -h, --help              this text
  --version               the demo's and the library's version

Exit status: 0 done; 1 the library refused (its message is shown) or an
output could not be written; 2 a bad command line or an unreadable image.
)";
}

}  // namespace demo

// The demo's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace demo {

enum class FilterKind { bandPass, bandReject, gabor, gaborReject, image };
enum class KernelKind { gauss, box };

struct Options {
  std::string input;  // empty: the built-in scene
  std::string outputDir = "out";
  long sceneSize = 512;

  FilterKind filter = FilterKind::gabor;
  // Normalised like the library's filters: cycles per pixel, 0.5 = Nyquist.
  double frequency;
  double sigma;
  std::optional<double> sigmaAcross;  // Gabor; default: sigma
  double plateau = 0.0;
  std::optional<double> plateauAcross;  // Gabor; default: plateau
  double angle;                         // radians
  long dcRadius = 0;                    // cells
  bool mirror = false;

  KernelKind kernel = KernelKind::gauss;
  double kernelSize = 2.0;  // Gaussian sigma or box side, pixels

  // --bank: a Gabor bank's orientation, energy and defect maps instead of
  // one filter (see bank.h).
  bool bank = false;
  std::vector<double> bankFrequencies{0.08, 0.16};
  long orientations = 8;
  double falseAlarm = 0.01;
  std::vector<std::string> train;  // defect-free images; none: see bank.h

  bool help = false;
  bool version = false;

  Options();
};

// Parses the arguments after the program name. Throws UsageError for an
// unknown option, a missing or malformed value, an option that does not
// apply to the chosen filter, or a second image. Value ranges the library
// checks (frequency, sigma, ...) are left to it.
Options parseArgs(const std::vector<std::string>& args);

std::string helpText();
const char* filterName(FilterKind kind);
// The filter and its parameters in the units of --help, on one line.
std::string describeFilter(const Options& options);

}  // namespace demo

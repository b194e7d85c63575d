// Helpers of the demo's tests: running the demo as a process, making test
// images, and measuring gratings in its output pictures.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "grey_image.h"
#include "image_file.h"

namespace demotest {

namespace fs = std::filesystem;

// A fresh directory for one test, under the build tree.
inline fs::path scratchDir(const std::string& name) {
  const fs::path dir = fs::path(VEXFILT_TEST_SCRATCH) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

inline std::string readText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Run {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  std::string out, err;
};

// Runs the demo with `args`, stdout and stderr captured through files in
// `dir`; no shell is involved.
inline Run runDemo(const std::vector<std::string>& args, const fs::path& dir) {
  const std::string outPath = (dir / "stdout.txt").string(), errPath = (dir / "stderr.txt").string();
  std::vector<std::string> all{VEXFILT_DEMO};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  Run run;
  if (posix_spawn(&pid, VEXFILT_DEMO, &actions, nullptr, argv.data(), environ) == 0) {
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = readText(outPath);
  run.err = readText(errPath);
  return run;
}

// One of the pictures a run wrote into dir/out.
inline demo::GreyImage picture(const fs::path& dir, const std::string& name) {
  return demo::readImageFile(dir / "out" / name);
}

// A sum of unit cosine gratings (fx, fy in cycles per pixel) with the given
// amplitudes around `mean`, rounded to the image's depth.
struct Wave {
  double fx, fy, amplitude;
};

inline demo::GreyImage gratings(long w, long h, int depth, double mean, const std::vector<Wave>& waves) {
  demo::GreyImage image(w, h, depth);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      double v = mean;
      for (const Wave& g : waves)
        v += g.amplitude *
             std::cos(2.0 * std::numbers::pi * (g.fx * static_cast<double>(x) + g.fy * static_cast<double>(y)));
      image.at(x, y) = static_cast<std::uint16_t>(std::lround(v));
    }
  return image;
}

// The Fourier coefficient of the grating (fx, fy) in a picture after
// removing the mean, scaled so that a pure grating a cos(phase) gives
// a e^(i phase). Linear display mappings scale every grating alike, so
// ratios of amplitudes and phases survive them.
inline std::complex<double> coefficient(const demo::GreyImage& image, double fx, double fy) {
  double mean = 0.0;
  for (std::uint16_t v : image.samples) mean += v;
  mean /= static_cast<double>(image.samples.size());
  std::complex<double> sum = 0.0;
  for (long y = 0; y < image.height; ++y)
    for (long x = 0; x < image.width; ++x)
      sum += (image.at(x, y) - mean) *
             std::polar(1.0, -2.0 * std::numbers::pi * (fx * static_cast<double>(x) + fy * static_cast<double>(y)));
  return 2.0 * sum / static_cast<double>(image.samples.size());
}

inline double amplitude(const demo::GreyImage& image, double fx, double fy) {
  return std::abs(coefficient(image, fx, fy));
}

}  // namespace demotest

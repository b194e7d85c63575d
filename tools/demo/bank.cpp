#include "bank.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

#include "errors.h"
#include "filt/vision/texture.h"
#include "image_file.h"
#include "scene.h"

namespace demo {
namespace {

vcPelBuffer<double> toPel(const GreyImage& image) {
  vcPelBuffer<double> pel(image.width, image.height);
  for (long y = 0; y < image.height; ++y)
    for (long x = 0; x < image.width; ++x) pel.set(x, y, static_cast<double>(image.at(x, y)));
  return pel;
}

double percentile(const vcPelBuffer<double>& image, double q) {
  std::vector<double> v;
  for (long y = 0; y < image.height(); ++y)
    for (long x = 0; x < image.width(); ++x) v.push_back(image.get(x, y));
  if (v.empty()) return 1.0;
  const std::size_t at = std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())));
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(at), v.end());
  return v[at] > 0.0 ? v[at] : 1.0;
}

unsigned char byte(double v) {
  return static_cast<unsigned char>(std::clamp(std::lround(v * 255.0), 0L, 255L));
}

void writeRgb(const std::filesystem::path& path, long w, long h, const std::vector<unsigned char>& rgb) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr))
    throw RunError("cannot write " + path.string() + ": " + image.message);
}

// HSV with hue, saturation and value in [0, 1] to 8-bit RGB.
void hsv(double h, double s, double v, unsigned char* out) {
  const double c = v * s, hp = h * 6.0, x = c * (1.0 - std::fabs(std::fmod(hp, 2.0) - 1.0)), m = v - c;
  double r = 0, g = 0, b = 0;
  switch (static_cast<int>(hp) % 6) {
    case 0:
      r = c, g = x;
      break;
    case 1:
      r = x, g = c;
      break;
    case 2:
      g = c, b = x;
      break;
    case 3:
      g = x, b = c;
      break;
    case 4:
      r = x, b = c;
      break;
    default:
      r = c, b = x;
      break;
  }
  out[0] = byte(r + m), out[1] = byte(g + m), out[2] = byte(b + m);
}

GreyImage greyOf(const vcPelBuffer<double>& image, double full) {
  GreyImage out(image.width(), image.height(), 8);
  for (long y = 0; y < image.height(); ++y)
    for (long x = 0; x < image.width(); ++x) out.at(x, y) = byte(image.get(x, y) / full);
  return out;
}

}  // namespace

int runBank(const Options& options, const GreyImage& input, bool isScene) {
  const std::filesystem::path dir(options.outputDir);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw RunError("cannot create the output directory " + dir.string() + ": " + ec.message());

  const vcGaborBank bank(options.bankFrequencies, options.orientations);
  std::cout << "bank: " << bank.filters() << " filters (" << options.bankFrequencies.size() << " frequencies x "
            << options.orientations << " orientations, 1 octave)\n";
  const vcPelBuffer<double> image = toPel(input);
  const vcTextureMaps maps = bank.maps(bank.energy<double>(image));

  std::vector<vcPelBuffer_const<double>> training;
  if (!options.train.empty()) {
    for (const std::string& file : options.train) training.push_back(toPel(readImageFile(file)));
  } else if (isScene) {
    training = {toPel(makeSceneTexture(input.width, 1)), toPel(makeSceneTexture(input.width, 2))};
  } else {
    training = {image};
  }
  vcTextureModel model(bank, options.falseAlarm);
  model.train(training);
  const vcPelBuffer<double> distance = model.distance<double>(image);
  const vcPelBuffer<unsigned char> defects = model.defectsFromDistances(distance);
  std::cout << "defect model: " << training.size() << " training image(s), smoothing " << model.smoothing()
            << ", margin " << model.margin() << ", threshold " << model.threshold() << '\n';

  const long w = input.width, h = input.height;
  const double energyFull = percentile(maps.energy, 0.995);
  std::vector<unsigned char> rgb(static_cast<std::size_t>(3 * w * h));
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      hsv(maps.orientation.get(x, y) / std::numbers::pi, maps.coherence.get(x, y),
          std::min(1.0, maps.energy.get(x, y) / energyFull), &rgb[static_cast<std::size_t>(3 * (y * w + x))]);
  writeRgb(dir / "bank_orientation.png", w, h, rgb);
  writeImageFile(dir / "bank_energy.png", greyOf(maps.energy, energyFull));
  writeImageFile(dir / "bank_distance.png", greyOf(distance, 2.0 * model.threshold()));
  const double top = input.depth == 16 ? 65535.0 : 255.0;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      unsigned char* p = &rgb[static_cast<std::size_t>(3 * (y * w + x))];
      const double g = 0.6 * static_cast<double>(input.at(x, y)) / top;
      if (defects.get(x, y))
        p[0] = 255, p[1] = byte(0.3 * g), p[2] = byte(0.3 * g);
      else
        p[0] = p[1] = p[2] = byte(g);
    }
  writeRgb(dir / "bank_defects.png", w, h, rgb);
  for (const char* name : {"bank_orientation.png", "bank_energy.png", "bank_distance.png", "bank_defects.png"})
    std::cout << "wrote " << (dir / name).string() << '\n';

  if (isScene) {
    // Flaw pixels found and flaw-free pixels flagged, inside the margin; and
    // the same with a guard band of two envelope widths around each flaw
    // edge left out (energies there mix both sides by construction).
    const std::vector<unsigned char> mask = sceneFlawMask(w);
    const long m = model.margin(), guard = static_cast<long>(std::ceil(2.0 * bank.envelopeSigma()));
    const auto nearEdge = [&](long x, long y) {
      const unsigned char v = mask[static_cast<std::size_t>(y * w + x)];
      for (long dy = -guard; dy <= guard; ++dy)
        for (long dx = -guard; dx <= guard; ++dx) {
          const long xx = std::clamp(x + dx, 0L, w - 1), yy = std::clamp(y + dy, 0L, h - 1);
          if (mask[static_cast<std::size_t>(yy * w + xx)] != v) return true;
        }
      return false;
    };
    double found[2] = {0, 0}, flaws[2] = {0, 0}, alarms[2] = {0, 0}, clean[2] = {0, 0};
    for (long y = m; y < h - m; ++y)
      for (long x = m; x < w - m; ++x) {
        const bool flaw = mask[static_cast<std::size_t>(y * w + x)] != 0, hit = defects.get(x, y) != 0;
        for (int g = 0; g < 2; ++g) {
          if (g == 1 && nearEdge(x, y)) continue;
          (flaw ? flaws : clean)[g] += 1;
          if (hit) (flaw ? found : alarms)[g] += 1;
        }
      }
    for (int g = 0; g < 2; ++g) {
      const std::string label = g ? " (edges +-" + std::to_string(guard) + " px left out)" : "";
      std::printf("scene flaws%s: %.1f %% of flaw pixels found, %.2f %% of flaw-free pixels flagged\n", label.c_str(),
                  100.0 * found[g] / std::max(1.0, flaws[g]), 100.0 * alarms[g] / std::max(1.0, clean[g]));
    }
  }
  return 0;
}

}  // namespace demo

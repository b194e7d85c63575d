// texture_probe: the texture bank on PGM files, for the measurement scripts
// (scripts/texture_goals.py). Writes raw little-endian float32 maps.
//   texture_probe orient FREQS N IN.pgm OUT.f32
//       the orientation map (radians) and, after it, the coherence map
//   texture_probe energy FREQS N IN.pgm OUT.f32
//       the energy stack (filters, height, width)
//   texture_probe defects FREQS N RATE SMOOTHING OUT.f32 TEST.pgm TRAIN.pgm...
//       the distance map of TEST; prints "threshold T margin M"
//       SMOOTHING: R, R:SHRINKAGE or R:SHRINKAGE:FEATURES (filters,
//       invariant or invariant_sharp; R < 0 the feature set's default radius)
//   texture_probe features FREQS N RATE SMOOTHING OUT.f32 TEST.pgm TRAIN.pgm...
//       the same model's feature maps of TEST (features, height, width), then
//       its distance map; prints "threshold T margin M features F"
// FREQS: comma-separated cycles per pixel; N: orientations, or N:A (angular
// bandwidth, degrees) or N:A:B (bandwidth, octaves). SMOOTHING < 0: the default.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "filt/vision/texture.h"
#include "pgm.h"

namespace {

vcPelBuffer<double> readPgm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
  const demo::GreyImage g = demo::decodePgm(bytes);
  vcPelBuffer<double> image(g.width, g.height);
  for (long y = 0; y < g.height; ++y)
    for (long x = 0; x < g.width; ++x) image.set(x, y, g.at(x, y));
  return image;
}

void writeMaps(const std::string& path, const std::vector<const vcPelBuffer<double>*>& maps) {
  std::ofstream out(path, std::ios::binary);
  for (const auto* m : maps)
    for (long y = 0; y < m->height(); ++y)
      for (long x = 0; x < m->width(); ++x) {
        const float v = static_cast<float>(m->get(x, y));
        out.write(reinterpret_cast<const char*>(&v), sizeof v);
      }
}

// N, or N:A with A the angular bandwidth in degrees, or N:A:B with B the
// bandwidth in octaves.
vcGaborBank makeBank(const std::string& freqs, const std::string& layout) {
  std::vector<double> v;
  for (std::size_t start = 0; start <= layout.size();) {
    const std::size_t colon = std::min(layout.find(':', start), layout.size());
    v.push_back(std::stod(layout.substr(start, colon - start)));
    start = colon + 1;
  }
  std::vector<double> f;
  for (std::size_t start = 0; start <= freqs.size();) {
    const std::size_t comma = std::min(freqs.find(',', start), freqs.size());
    f.push_back(std::stod(freqs.substr(start, comma - start)));
    start = comma + 1;
  }
  return vcGaborBank(f, static_cast<long>(v[0]), v.size() > 2 ? v[2] : 1.0,
                     v.size() > 1 ? v[1] * 3.141592653589793 / 180.0 : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 5 && a[0] == "orient") {
      const vcGaborBank bank = makeBank(a[1], a[2]);
      const vcTextureMaps maps = bank.maps(bank.energy<double>(readPgm(a[3])));
      writeMaps(a[4], {&maps.orientation, &maps.coherence});
      return 0;
    }
    if (a.size() == 5 && a[0] == "energy") {
      const vcGaborBank bank = makeBank(a[1], a[2]);
      const vcTextureStack s = bank.energy<double>(readPgm(a[3]));
      std::ofstream out(a[4], std::ios::binary);
      out.write(reinterpret_cast<const char*>(s.values.data()), static_cast<std::streamsize>(4 * s.values.size()));
      return 0;
    }
    if (a.size() >= 8 && (a[0] == "defects" || a[0] == "features")) {
      const vcGaborBank bank = makeBank(a[1], a[2]);
      // SMOOTHING, SMOOTHING:SHRINKAGE or SMOOTHING:SHRINKAGE:FEATURES.
      std::vector<std::string> parts;
      for (std::size_t start = 0; start <= a[4].size();) {
        const std::size_t colon = std::min(a[4].find(':', start), a[4].size());
        parts.push_back(a[4].substr(start, colon - start));
        start = colon + 1;
      }
      const std::string set = parts.size() > 2 ? parts[2] : "filters";
      const auto features = set == "invariant"         ? vcTextureModel::Features::invariant
                            : set == "invariant_sharp" ? vcTextureModel::Features::invariantSharp
                                                       : vcTextureModel::Features::perFilter;
      vcTextureModel model(bank, std::stod(a[3]), std::stol(parts[0]), -1, parts.size() > 1 ? std::stod(parts[1]) : 0.0,
                           features);
      std::vector<vcPelBuffer_const<double>> training;
      for (std::size_t i = 7; i < a.size(); ++i) training.push_back(readPgm(a[i]));
      model.train(training);
      const vcPelBuffer<double> test = readPgm(a[6]);
      const vcPelBuffer<double> d = model.distance<double>(test);
      if (a[0] == "features") {
        const vcTextureStack f = model.featureMaps<double>(test);
        std::ofstream out(a[5], std::ios::binary);
        out.write(reinterpret_cast<const char*>(f.values.data()), static_cast<std::streamsize>(4 * f.values.size()));
        out.close();
        std::ofstream append(a[5], std::ios::binary | std::ios::app);
        for (long y = 0; y < d.height(); ++y)
          for (long x = 0; x < d.width(); ++x) {
            const float v = static_cast<float>(d.get(x, y));
            append.write(reinterpret_cast<const char*>(&v), sizeof v);
          }
        std::cout << "threshold " << model.threshold() << " margin " << model.margin() << " features "
                  << model.featureCount() << '\n';
        return 0;
      }
      writeMaps(a[5], {&d});
      std::cout << "threshold " << model.threshold() << " margin " << model.margin() << '\n';
      return 0;
    }
    std::cerr << "usage: texture_probe orient FREQS N IN.pgm OUT.f32 | defects|features FREQS N RATE SMOOTHING "
                 "OUT.f32 TEST.pgm TRAIN.pgm...\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "texture_probe: " << e.what() << '\n';
    return 1;
  }
}

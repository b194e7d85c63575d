// Filters as data: store filters of several kinds in one archive file and
// load them back without knowing their classes (polymorphic loading through
// the persistence registry), then check that each loaded filter filters
// exactly like the one that was stored.
//
//   filter-archive [archive-file]

#include <filt/freqfilt.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr long kSize = 64;

// A test spectrum: the transform of a small ramp-and-ripple image.
vcFrequencyBuffer testSpectrum() {
  vcPelBuffer<double> image(kSize, kSize);
  for (long y = 0; y < kSize; ++y)
    for (long x = 0; x < kSize; ++x) image.set(x, y, static_cast<double>((x * 7 + y * 3) % 17) + 0.25 * x);
  vcFrequencyBuffer spectrum;
  vfForwardFFT<double>(image, spectrum);
  return spectrum;
}

// A kernel's spectrum for the image filter: a 3 x 3 box around pixel (0, 0).
vcFrequencyBuffer boxSpectrum() {
  vcPelBuffer<double> kernel(kSize, kSize);
  vfPelSet(kernel, 0.0);
  for (long y : {0L, 1L, kSize - 1})
    for (long x : {0L, 1L, kSize - 1}) kernel.set(x, y, 1.0 / 9.0);
  vcFrequencyBuffer spectrum;
  vfForwardFFT<double>(kernel, spectrum);
  return spectrum;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path =
      argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "vexfilt-filter-archive.bin").string();
  try {
    const vcPair<long> size(kSize, kSize);
    std::vector<std::unique_ptr<vcFrequencyFilter>> filters;
    filters.push_back(std::make_unique<vcFrequencyFilterBandPass>(0.02, 0.01, 0.2, size, 1));
    filters.push_back(std::make_unique<vcFrequencyFilterBandReject>(0.03, 0.0, 0.1, size, 2));
    filters.push_back(std::make_unique<vcFrequencyFilterGabor>(vcPair<double>(0.03, 0.02), vcPair<double>(0.0, 0.0),
                                                               vcRadian(std::numbers::pi / 3), 0.25, size, 0));
    filters.push_back(std::make_unique<vcFrequencyFilterImage>(boxSpectrum()));

    // Store: each record names its class, then holds the filter.
    {
      vcFileArchive file(path, vcFileArchive::Mode::store);
      for (auto& filter : filters) file.storeObject(*filter);
      file.close();
    }
    std::printf("stored %zu filters in %s (%ju bytes)\n", filters.size(), path.c_str(),
                static_cast<std::uintmax_t>(std::filesystem::file_size(path)));

    // Load: the registry makes an object of each recorded class.
    const vcFrequencyBuffer spectrum = testSpectrum();
    vcFileArchive file(path, vcFileArchive::Mode::load);
    bool allSame = true;
    for (const auto& original : filters) {
      std::unique_ptr<vcPersistent> object = file.loadObject();
      auto* loaded = dynamic_cast<vcFrequencyFilter*>(object.get());
      if (loaded == nullptr) {
        std::printf("the archive held something that is not a filter\n");
        return 1;
      }
      vcFrequencyBuffer byOriginal(spectrum), byLoaded(spectrum);
      original->apply(byOriginal);
      loaded->apply(byLoaded);
      const bool same = byOriginal == byLoaded;
      allSame = allSame && same;
      std::printf("loaded a %s: %s\n", vc_Instantiator::nameOf(typeid(*loaded)).c_str(),
                  same ? "filters exactly like the stored one" : "DIFFERS");
    }
    return allSame ? 0 : 1;
  } catch (const vcException& e) {
    std::fprintf(stderr, "filter-archive: %s\n", e.what());
    return 2;
  }
}

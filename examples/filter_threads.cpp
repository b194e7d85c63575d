// One filter, many images, several threads. A filter is built once for a
// spectrum size; apply() is const, so threads may share it, each filtering
// its own buffers. Every thread here finds the strength of one oriented
// grating (a Gabor filter) in its share of a batch of images; the results
// must equal those of a single-threaded run bit for bit.
//
//   filter-threads

#include <filt/freqfilt.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <thread>
#include <vector>

namespace {

constexpr long kSize = 128;
constexpr int kImages = 24;
constexpr int kThreads = 4;

// Image i: a grating at 0.125 cycles per pixel whose direction turns with i.
vcPelBuffer<unsigned char> makeImage(int i) {
  vcPelBuffer<unsigned char> image(kSize, kSize);
  const double angle = std::numbers::pi * i / kImages;
  for (long y = 0; y < kSize; ++y)
    for (long x = 0; x < kSize; ++x) {
      const double phase = 2.0 * std::numbers::pi * 0.125 * (x * std::cos(angle) + y * std::sin(angle));
      image.set(x, y, static_cast<unsigned char>(128.0 + 100.0 * std::cos(phase)));
    }
  return image;
}

// The mean strength of the selected grating: the Gabor-filtered spectrum's
// inverse magnitude (8 bits), averaged.
double strength(const vcFrequencyFilter& filter, const vcPelBuffer<unsigned char>& image) {
  vcFrequencyBuffer spectrum;
  vfForwardFFT<unsigned char>(image, spectrum);
  filter.apply(spectrum);
  vcPelBuffer<unsigned char> magnitude;
  vfInverseFFT<unsigned char>(spectrum, magnitude, false, true);
  double sum = 0.0;
  for (long y = 0; y < magnitude.height(); ++y)
    for (long x = 0; x < magnitude.width(); ++x) sum += magnitude.get(x, y);
  return sum / static_cast<double>(kSize * kSize);
}

}  // namespace

int main() {
  try {
    std::vector<vcPelBuffer<unsigned char>> images;
    for (int i = 0; i < kImages; ++i) images.push_back(makeImage(i));

    // Built once: horizontal frequency 0.125 (vertical stripes), sigma 0.02.
    const vcFrequencyFilterGabor gabor(vcPair<double>(0.02, 0.02), vcPair<double>(0.0, 0.0), vcRadian(0.0), 0.125,
                                       vcPair<long>(kSize, kSize), 0);

    std::vector<double> expected(kImages), got(kImages);
    for (int i = 0; i < kImages; ++i) expected[i] = strength(gabor, images[i]);

    // Thread t takes images t, t + kThreads, ... Exceptions must not leave a
    // thread: each records its own failure.
    std::vector<std::thread> threads;
    std::vector<int> failed(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        try {
          for (int i = t; i < kImages; i += kThreads) got[i] = strength(gabor, images[i]);
        } catch (const vcException&) {
          failed[t] = 1;
        }
      });
    for (std::thread& thread : threads) thread.join();

    bool same = true;
    for (int i = 0; i < kImages; ++i) same = same && got[i] == expected[i];
    for (int f : failed) same = same && f == 0;
    for (int i = 0; i < kImages; i += 3)
      std::printf("grating at %5.1f degrees: strength %6.2f\n", 180.0 * i / kImages, got[i]);
    std::printf("%d images on %d threads: %s\n", kImages, kThreads,
                same ? "the same results as on one thread" : "results DIFFER from one thread");
    // The filter selects the grating at 0 degrees: image 0 is the strongest.
    const bool selective = expected[0] > 4.0 * expected[kImages / 2];
    return same && selective ? 0 : 1;
  } catch (const vcException& e) {
    std::fprintf(stderr, "filter-threads: %s\n", e.what());
    return 2;
  }
}

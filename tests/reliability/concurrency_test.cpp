// Concurrency: what the library promises to several threads at once -- one
// built filter applied to different buffers, transforms of distinct buffers
// -- gives the results of a sequential run. (Archive passes on their own
// threads: platform/archive_test, VisitMarksTest.) Run under
// ThreadSanitizer in CI (ctest label `concurrency`).

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "filt/freqfilt.h"
#include "support/images.h"

namespace {

constexpr std::size_t kThreads = 4;

// Runs job(i) for i = 0 .. kThreads-1 on kThreads threads at once.
void onThreads(const std::function<void(std::size_t)>& job) {
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < kThreads; ++i) threads.emplace_back(job, i);
  for (std::thread& t : threads) t.join();
}

vcFrequencyBuffer spectrumOf(long w, long h, std::uint32_t salt) {
  vcFrequencyBuffer b;
  vfForwardFFT(vftest::randomImage<unsigned short>(w, h, 4000.0, salt), b);
  return b;
}

std::vector<std::unique_ptr<vcFrequencyFilter>> filters() {
  std::vector<std::unique_ptr<vcFrequencyFilter>> f;
  f.emplace_back(new vcFrequencyFilterBandPass(0.05, 0.01, 0.2, {128, 64}, 2));
  f.emplace_back(new vcFrequencyFilterBandReject(0.05, 0.0, 0.3, {128, 64}, 3));
  f.emplace_back(new vcFrequencyFilterGabor({0.03, 0.05}, {0.01, 0.0}, vcRadian(0.6), 0.25, {128, 64}, 1));
  f.emplace_back(new vcFrequencyFilterGaborReject({0.04, 0.02}, {0.0, 0.0}, vcRadian(2.5), 0.1, {128, 64}, 2));
  f.emplace_back(new vcFrequencyFilterImage(spectrumOf(128, 64, 99)));
  return f;
}

// Each filter, shared by all threads, in place and into a second buffer.
TEST(Concurrency, OneFilterManyBuffers) {
  for (const auto& filter : filters()) {
    const vcFrequencyFilter& f = *filter;
    const std::string name = vc_Instantiator::nameOf(typeid(f));
    std::vector<vcFrequencyBuffer> inputs, sequential, inPlace(kThreads), twoBuffer(kThreads);
    for (std::size_t i = 0; i < kThreads; ++i) {
      inputs.push_back(spectrumOf(100, 60, static_cast<std::uint32_t>(i + 1)));
      sequential.push_back(inputs[i]);
      filter->apply(sequential[i]);
    }
    onThreads([&](std::size_t i) {
      for (int round = 0; round < 3; ++round) {
        inPlace[i] = inputs[i];
        filter->apply(inPlace[i]);
        filter->apply(inputs[i], twoBuffer[i]);
      }
    });
    for (std::size_t i = 0; i < kThreads; ++i) {
      EXPECT_EQ(inPlace[i], sequential[i]) << name << " " << i;
      vcFrequencyBuffer again;
      filter->apply(inputs[i], again);
      EXPECT_EQ(twoBuffer[i], again) << name << " " << i;
    }
  }
}

// Forward and inverse transforms of distinct buffers; the inputs (an image,
// a spectrum) are shared read-only.
TEST(Concurrency, TransformsOfDistinctBuffers) {
  const vcPelBuffer<unsigned char> image = vftest::randomImage<unsigned char>(200, 120, 255.0, 5);
  const vcFrequencyBuffer spectrum = spectrumOf(256, 128, 6);
  vcFrequencyBuffer wantForward, wantInPlace = spectrum;
  vcPelBuffer<double> wantMagnitude, wantAngle;
  vcPelBuffer<unsigned char> wantPixels;
  vfForwardFFT(image, wantForward);
  vfInverseFFTAngle(spectrum, wantMagnitude, wantAngle, false);
  vfInverseFFT(wantInPlace, wantPixels, true, true);

  std::vector<vcFrequencyBuffer> forward(kThreads), inPlace(kThreads);
  std::vector<vcPelBuffer<double>> magnitude(kThreads), angle(kThreads);
  std::vector<vcPelBuffer<unsigned char>> pixels(kThreads);
  onThreads([&](std::size_t i) {
    vfForwardFFT(image, forward[i]);
    vfInverseFFTAngle(spectrum, magnitude[i], angle[i], false);
    inPlace[i] = spectrum;
    vfInverseFFT(inPlace[i], pixels[i], true, true);
  });
  for (std::size_t i = 0; i < kThreads; ++i) {
    EXPECT_EQ(forward[i], wantForward);
    EXPECT_EQ(inPlace[i], wantInPlace);
    EXPECT_TRUE(vftest::samePixels<double>(magnitude[i], wantMagnitude));
    EXPECT_TRUE(vftest::samePixels<double>(angle[i], wantAngle));
    EXPECT_TRUE(vftest::samePixels<unsigned char>(pixels[i], wantPixels));
  }
}

}  // namespace

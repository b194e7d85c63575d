// OpenCV doing the same work the way a user of OpenCV would (cv::setNumThreads(1)
// is set in main). The shared inputs are wrapped, not copied: CV_8UC1 over
// the scene's rows, CV_32FC2 over the interleaved arrays and masks.
//
//   complex_forward / complex_inverse  cv::dft / cv::idft, complex to complex, unscaled.
//   real_forward   convertTo CV_32F, dft with DFT_COMPLEX_OUTPUT (the full spectrum).
//   inverse_u8     idft with DFT_SCALE | DFT_REAL_OUTPUT (the spectrum is
//                  conjugate symmetric), convertTo CV_8U (rounds and saturates).
//   pipelines      convertTo CV_32F, dft DFT_COMPLEX_OUTPUT, mulSpectrums with
//                  the full-size mask, idft DFT_SCALE, split, magnitude,
//                  convertTo CV_8U.
// Output matrices live outside the loop, so OpenCV reuses them.

#include <opencv2/core.hpp>

#include "cases.h"
#include "memory_probe.h"

namespace {

cv::Mat wrapImage(const vcPelBuffer<unsigned char>& image) {
  return cv::Mat(static_cast<int>(image.height()), static_cast<int>(image.width()), CV_8UC1,
                 const_cast<unsigned char*>(image.pointToOffset()), static_cast<std::size_t>(image.rep().rowStride()));
}

cv::Mat wrapComplex(const std::vector<float>& values, Shape s) {
  return cv::Mat(static_cast<int>(s.height), static_cast<int>(s.width), CV_32FC2, const_cast<float*>(values.data()));
}

template <class Run>
void loop(benchmark::State& state, Run&& run, const cv::Mat& out) {
  for (auto _ : state) {
    run();
    benchmark::DoNotOptimize(out.data);
    benchmark::ClobberMemory();
  }
}

void checkComplex(benchmark::State& state, Shape s, Op op, const cv::Mat& out) {
  reportDifference(state, s, op, out.ptr<float>(0));
}

void checkPixels(benchmark::State& state, Shape s, Op op, const cv::Mat& out) {
  reportDifference(state, s, op, out.ptr<unsigned char>(0), static_cast<long>(out.step));
}

template <bool forward>
void complexCase(benchmark::State& state, Shape s) {
  const Inputs& in = inputsFor(s, needOf(forward ? Op::complexForward : Op::complexInverse));
  const cv::Mat input = wrapComplex(forward ? in.complexValues : in.spectrumValues, s);
  memoryBaseline();
  cv::Mat out;
  auto run = [&] {
    if (forward)
      cv::dft(input, out);
    else
      cv::idft(input, out);
  };
  run();
  if (checkingOutputs()) checkComplex(state, s, forward ? Op::complexForward : Op::complexInverse, out);
  loop(state, run, out);
  reportMemory(state);
}

void realForwardCase(benchmark::State& state, Shape s) {
  const Inputs& in = inputsFor(s, needOf(Op::realForward));
  const cv::Mat image = wrapImage(in.image);
  memoryBaseline();
  cv::Mat real, out;
  auto run = [&] {
    image.convertTo(real, CV_32F);
    cv::dft(real, out, cv::DFT_COMPLEX_OUTPUT);
  };
  run();
  if (checkingOutputs()) checkComplex(state, s, Op::realForward, out);
  loop(state, run, out);
  reportMemory(state);
}

void inverseU8Case(benchmark::State& state, Shape s) {
  const Inputs& in = inputsFor(s, needOf(Op::inverseU8));
  const cv::Mat spectrum = wrapComplex(in.spectrumValues, s);
  memoryBaseline();
  cv::Mat real, out;
  auto run = [&] {
    cv::idft(spectrum, real, cv::DFT_SCALE | cv::DFT_REAL_OUTPUT);
    real.convertTo(out, CV_8U);
  };
  run();
  if (checkingOutputs()) checkPixels(state, s, Op::inverseU8, out);
  loop(state, run, out);
  reportMemory(state);
}

template <bool gabor>
void pipelineCase(benchmark::State& state, Shape s) {
  const Inputs& in = inputsFor(s, needOf(gabor ? Op::gaborPipeline : Op::bandPassPipeline));
  const cv::Mat image = wrapImage(in.image);
  const cv::Mat mask = wrapComplex(gabor ? in.gaborMask : in.bandPassMask, s);
  memoryBaseline();
  cv::Mat real, spectrum, product, back, planes[2], magnitude, out;
  auto run = [&] {
    image.convertTo(real, CV_32F);
    cv::dft(real, spectrum, cv::DFT_COMPLEX_OUTPUT);
    cv::mulSpectrums(spectrum, mask, product, 0);
    cv::idft(product, back, cv::DFT_SCALE);
    cv::split(back, planes);
    cv::magnitude(planes[0], planes[1], magnitude);
    magnitude.convertTo(out, CV_8U);
  };
  run();
  if (checkingOutputs()) checkPixels(state, s, gabor ? Op::gaborPipeline : Op::bandPassPipeline, out);
  loop(state, run, out);
  reportMemory(state);
}

}  // namespace

CaseFn opencvCase(Op op) {
  // In the order of Op.
  static constexpr CaseFn kCases[] = {complexCase<true>, complexCase<false>, realForwardCase,
                                      inverseU8Case,     pipelineCase<true>, pipelineCase<false>};
  return kCases[static_cast<std::size_t>(op)];
}

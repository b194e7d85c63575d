// The benchmark matrix: six operations, three implementations, six shapes.
//
// Every case is named <implementation>/<operation>/<width>x<height> and runs
// the same work on the same inputs (inputs.h) on one thread:
//   complex_forward   a complex array to its spectrum, out of place
//   complex_inverse   a spectrum to its unscaled complex inverse, out of place
//   real_forward      an 8-bit image to its full complex spectrum
//   inverse_u8        a spectrum to an 8-bit image: round(|x| / (W*H)), saturated
//   gabor_pipeline    8-bit image -> forward -> Gabor patch -> inverse -> 8-bit magnitude
//   bandpass_pipeline 8-bit image -> forward -> band-pass ring -> inverse -> 8-bit magnitude
// What runs untimed, before the loop: inputs, filters and masks (shared by all
// three implementations), FFTW plans (FFTW_MEASURE, cached per shape) and each
// case's own output and working arrays.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

#include "inputs.h"

enum class Op { complexForward, complexInverse, realForward, inverseU8, gaborPipeline, bandPassPipeline };

inline constexpr Op kOps[] = {Op::complexForward, Op::complexInverse, Op::realForward,
                              Op::inverseU8,      Op::gaborPipeline,  Op::bandPassPipeline};

inline const char* opName(Op op) {
  switch (op) {
    case Op::complexForward:
      return "complex_forward";
    case Op::complexInverse:
      return "complex_inverse";
    case Op::realForward:
      return "real_forward";
    case Op::inverseU8:
      return "inverse_u8";
    case Op::gaborPipeline:
      return "gabor_pipeline";
    case Op::bandPassPipeline:
      return "bandpass_pipeline";
  }
  return "?";
}

// Whether an operation's output is an 8-bit image (else a complex array).
inline bool producesPixels(Op op) {
  return op == Op::inverseU8 || op == Op::gaborPipeline || op == Op::bandPassPipeline;
}

// The inputs an operation reads beyond the scene (inputs.h).
inline unsigned needOf(Op op) {
  switch (op) {
    case Op::complexForward:
      return kNeedComplex;
    case Op::complexInverse:
      return kNeedSpectrum;
    case Op::realForward:
      return 0;
    case Op::inverseU8:
      return kNeedSpectrum;
    case Op::gaborPipeline:
      return kNeedGabor;
    case Op::bandPassPipeline:
      return kNeedBandPass;
  }
  return kNeedAll;
}

using CaseFn = void (*)(benchmark::State&, Shape);

// Each implementation's case for an operation.
CaseFn vexfiltCase(Op op);
CaseFn fftwCase(Op op);
CaseFn opencvCase(Op op);

// FFTW wisdom: loaded before the run and saved after it, so that repeated runs
// (and the per-case memory runs) do not measure plans again.
void fftwLoadWisdom(const std::string& path);
void fftwSaveWisdom(const std::string& path);

// The library's output of an operation on the shared inputs of a shape,
// computed once (cached for the current shape): the reference the other two
// implementations are compared with. Interleaved floats for complex outputs,
// W*H row-major pixels for 8-bit ones.
struct Reference {
  std::vector<float> values;
  std::vector<unsigned char> pixels;
};
const Reference& vexfiltReference(Shape shape, Op op);

// Whether this process checks outputs against the library's (the timing run
// does; the per-case memory runs do not, so that nothing but the case itself
// allocates after the memory baseline).
bool checkingOutputs();

// Reports, as the counter "max_diff", how far an output is from the
// library's: for complex outputs max |a - r| / max |r| over all components,
// for 8-bit images the largest difference in grey levels.
void reportDifference(benchmark::State& state, Shape shape, Op op, const float* values);
void reportDifference(benchmark::State& state, Shape shape, Op op, const unsigned char* pixels, long rowStride);

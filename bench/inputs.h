// The inputs every implementation works on, one set per shape, made once and
// kept while cases of that shape run (only the current shape is kept). Parts
// are made when first asked for, so that a process running one case (the
// memory runs) makes only what that case reads.
//
// Conventions: width x height, rows of `width` values, row-major; complex
// values interleaved (re, im) as float, which is also the layout of FFTW's
// fftwf_complex arrays and of OpenCV's CV_32FC2 matrices. Spectra are
// unscaled and in natural order (zero frequency at element 0).
#pragma once

#include <filt/freqfilt.h>

#include <vector>

struct Shape {
  long width;
  long height;
  bool operator==(const Shape&) const = default;
};

struct Inputs {
  Shape shape;

  // The scene: a grating at 0.08 cycles per pixel and 30 degrees (what the
  // Gabor filter picks) plus a fainter one at 0.2 cycles per pixel and
  // uniform noise; 8-bit, rows 32-byte aligned.
  vcPelBuffer<unsigned char> image;

  // A complex array to transform: the scene + i * (the scene mirrored left
  // to right), untransformed. The same values interleaved.
  vcFrequencyBuffer complexInput;
  std::vector<float> complexValues;

  // The scene's spectrum (the library's forward transform; conjugate
  // symmetric, so FFTW's c2r and OpenCV's real output apply to it). The same
  // values interleaved.
  vcFrequencyBuffer spectrum;
  std::vector<float> spectrumValues;

  // The two filters of the pipelines, built for this shape, and the masks
  // FFTW and OpenCV multiply by instead: each filter's response, read back by
  // filtering an array of ones, so all three apply exactly the same
  // coefficients. Interleaved complex, full W x H. The Gabor mask is zero
  // outside a small Gaussian patch; the band-pass mask is a ring.
  vcFrequencyFilterGabor gabor;
  vcFrequencyFilterBandPass bandPass;
  std::vector<float> gaborMask;
  std::vector<float> bandPassMask;
};

// The parts of Inputs beyond the scene, for inputsFor's `need`.
enum : unsigned {
  kNeedComplex = 1,   // complexInput, complexValues
  kNeedSpectrum = 2,  // spectrum, spectrumValues
  kNeedGabor = 4,     // gabor, gaborMask
  kNeedBandPass = 8,  // bandPass, bandPassMask
  kNeedAll = 15
};

// The inputs of a shape with at least the parts in `need` (a new shape
// replaces the last set). Parts not asked for may be empty.
const Inputs& inputsFor(Shape shape, unsigned need);

// A buffer's whole array as interleaved floats.
std::vector<float> valuesOf(const vcFrequencyBuffer& buffer);

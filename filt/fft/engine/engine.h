// The FFT engine: in-place two-dimensional transforms of a frequency buffer's array.
//
// Array layout: interleaved single-precision complex values (real, then imaginary),
// row-major, `width` values per row, `height` rows stored one after the other.
// width and height are powers of two from 1 to 2048; callers guarantee it.
//
// Both routines are unscaled and leave the spectrum in natural order: element (0, 0)
// is the zero frequency, indices at and above width/2 (height/2) hold the negative
// frequencies. Scaling by 1/(width*height) and quadrant swaps are the callers' business.
//
// Method: a split-radix row transform of every row, a transpose, the row transform
// again on the transposed array, a transpose back. (The vector levels mostly run the
// second pass down the columns in place instead: the same operations on the same
// values, so the same bits, and the same polls.) Sums and products are formed in
// double and rounded to float once on each store, so results are reproducible bit for
// bit. Before every transformed row whose index is a multiple of 16, once per tiled
// transpose and once per symmetric fill, the routines poll the platform's attention
// check; a pending abort or time-out leaves by the platform's exception with the array
// partly transformed. Every temporary is owned by the call and released on every path.
//
// Speed: each routine picks, per call, the widest instruction-set level the CPU offers
// (vf_BestEngineLevel); all levels give identical bits. The variants with a level
// argument (vf_ComplexFFT2DAtLevel, vf_RealFFT2DAtLevel) force one, for tests and
// benchmarks; nothing else selects a level, and no choice is remembered between calls.
#pragma once

#include "cpu/cpu_level.h"

// Forward (direction >= 0): F(u, v) = sum f(x, y) exp(-2 pi i (ux/width + vy/height)).
// Inverse (direction < 0): the same sum with exp(+2 pi i (...)), also unscaled.
//
// [bandMin, bandMax] is the inclusive band of rows, in the centered row frame (stored
// row y < height/2 is row y + height/2, stored row y >= height/2 is row y - height/2),
// outside which every input row is known to be zero. Rows outside it are neither
// polled nor transformed in the first pass. Pass 0, height to process every row. Any
// long is accepted.
void vf_ComplexFFT2D(float* data, long width, long height, int direction, long bandMin, long bandMax);
// The same at a given level (an unsupported one is replaced by the best supported). A
// name of its own rather than an overload, so that vf_ComplexFFT2D names one function.
void vf_ComplexFFT2DAtLevel(float* data, long width, long height, int direction, long bandMin, long bandMax,
                            vc_EngineLevel level);

// The same transform out of place: the result of copying the array `source` into
// `data` (which must not overlap it) and transforming data in place, bit for bit,
// with the same polls, but without the separate pass over memory of the copy: the
// first pass reads its rows from source. source is not changed.
void vf_ComplexFFT2DFrom(const float* source, float* data, long width, long height, int direction, long bandMin,
                         long bandMax);
void vf_ComplexFFT2DFromAtLevel(const float* source, float* data, long width, long height, int direction, long bandMin,
                                long bandMax, vc_EngineLevel level);

// Forward transform of real samples. On entry row y's `width` samples stand in the first
// `width` floats of the row's slot of 2*width floats; the other half of each slot is
// working space, except that for width 1 the float after each sample must be 0. On
// return the array holds the full complex spectrum, as vf_ComplexFFT2D would give for
// the samples with zero imaginary parts (to rounding); the imaginary parts of X[0][0]
// and X[0][width/2] are exactly 0.
void vf_RealFFT2D(float* data, long width, long height);
// The same at a given level (an unsupported one is replaced by the best supported).
void vf_RealFFT2DAtLevel(float* data, long width, long height, vc_EngineLevel level);

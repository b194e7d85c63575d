// vexfilt11 vision layer: aligning two images by phase correlation.
//
// Translation. For a reference and a moving image of the same size the
// correlator measures the shift (dx, dy) in pixels that carries the reference
// onto the moving image:
//     moving(x, y) ~ reference(x - dx, y - dy)
// (x to the right, y down, as the images' pixel indices). It runs in two
// stages:
//  1. coarse: the images (averaged over f x f blocks when larger than
//     coarseSide) lose their edge jumps (periodic-plus-smooth decomposition
//     by default), and their cross-power spectrum, partly normalised in
//     double (conj(R) M / (|R| |M|)^0.75, each magnitude floored at 1e-5 of
//     its largest), is transformed back by the library's FFT. The four
//     highest peaks of that surface are followed uphill on the normalised
//     correlation of the two images over their overlap, and the best fit
//     gives the shift to within a pixel. Confidence: 1 - (highest value of
//     the surface more than 3 pixels from the chosen peak) / (the chosen
//     peak), in [0, 1].
//  2. fine: the overlapping parts of the two images at that shift are cut
//     out (at most fineSide a side) and tapered to zero at their edges, the
//     moving part by a window that follows the content (moved by the current
//     estimate, so that the tapered parts are exact shifted copies of each
//     other: neither the cut edges nor content outside the overlap pull on
//     the answer). Their cross-power spectrum is taken in double precision
//     and each frequency weighted by its measured coherence gamma^2 (over
//     7 x 7 neighbouring frequencies) as gamma^2 / (1 - gamma^2), the
//     maximum-likelihood weighting of the generalised cross-correlation
//     (Knapp and Carter 1976): frequencies where the two images agree count,
//     noisy ones fade out, where full whitening would lift them to full
//     weight; a frequency far weaker than its neighbourhood's coherent mean
//     (a null of the content, round-off in a sparse spectrum) loses weight
//     with its magnitude. The shift is the exact maximum of the continuous
//     (band-limited) correlation surface of that weighted spectrum, found by
//     Newton's method on its closed-form derivatives: the limit of the
//     upsampled-DFT refinement (Guizar-Sicairos 2008) at infinite
//     upsampling, without its grid. Each pass moves the window to the last
//     answer; two passes are the rule (at most three). The cross-power
//     spectrum of two real images is Hermitian, so all sums run over half
//     the frequencies.
// Measured accuracy (bench/align_compare.py, docs/registration.md): on 512 x
// 512 crops of photographs with noise of 5 grey levels and shifts up to a
// quarter of the size, 0.018 px RMS and 0.056 px at worst (scikit-image's
// upsampled phase correlation 0.09 px RMS, OpenCV's 0.11); exact shifts of
// clean synthetic images to a few thousandths of a pixel.
//
// Shifts past half the size: a circular correlation knows the shift only
// modulo the size, so the candidates d and d -+ size of each axis are told
// apart by the normalised correlation of the images over their overlap
// (which needs an overlap of at least a tenth of the image; about a fifth
// or more in practice). With largeShifts the best candidate is the answer,
// up to the size in magnitude. By default the answer lies in (-size/2,
// size/2] on each axis: a best candidate past half the size is reported as
// its alias one size away (still measured to sub-pixel precision) with
// `ambiguous` set, as the content does not match at the alias.
//
// Failures: a flat image (or one whose spectrum vanishes) gives dx = dy = 0,
// confidence 0 and ambiguous set, never NaN. Bad input throws (see the
// constructor and run()). Long runs poll the host's attention check and
// leave by its exception (vcAbortRequested, vcTimedOut).
//
// A correlator is a plan built once for a size; run() is const and keeps
// all its temporaries on the call, so one plan serves many threads at once.
#pragma once

#include "filt/export.h"
#include "vexstd/vexstd.h"

// How the edge jumps of an image are removed before its transform.
enum class vcEdgeTreatment : int {
  periodicSmooth = 0,  // periodic component of the periodic-plus-smooth decomposition
  hann = 1,            // separable Hann window
  tukey = 2,           // separable Tukey window (tukeyAlpha)
  none = 3             // mean removed only
};

struct vcPhaseCorrelationOptions {
  // Default: the periodic-plus-smooth decomposition measured best (it keeps
  // the pixels near the edges at full weight; a window throws half of them
  // away): see docs/registration.md.
  vcEdgeTreatment edges = vcEdgeTreatment::periodicSmooth;  // fine stage, without followingWindow
  // The coarse stage's edge treatment (a window would fade out the overlap
  // of large shifts).
  vcEdgeTreatment coarseEdges = vcEdgeTreatment::periodicSmooth;
  double tukeyAlpha = 0.5;   // fraction of each axis tapered, in [0, 1]
  bool largeShifts = false;  // report shifts past half the size as they are (see above)
  bool subPixel = true;      // the fine stage; false: integer shifts of the coarse stage
  // The coarse stage averages larger images down to this side: it only has
  // to land within a pixel or two of the shift, and 256 measured as accurate
  // in the end as 512 and 128 on the photographs, at half the time of 512.
  long coarseSide = 256;
  // The fine stage uses at most this much of the overlap per side (the
  // central part): the error of a 512 x 512 overlap is already about 0.02 px
  // on noisy photographs, and the time grows with the area.
  long fineSide = 512;
  // The fine stage tapers its crops by a window that follows the content
  // (see registration.cpp); false: the edge treatment above, in one pass.
  bool followingWindow = true;
  // Fraction of each axis the following window tapers, in (0, 1]: 0.1
  // measured best on noisy photographs (0.25 and 0.05 lose more, the first
  // by discarding content, the second by its sharper spectrum).
  double followingTaper = 0.1;
  double ambiguityThreshold = 0.05;  // confidence below this sets `ambiguous`
};

// The answer of a translation measurement.
struct vcTranslation {
  double dx = 0.0;  // moving(x, y) ~ reference(x - dx, y - dy)
  double dy = 0.0;
  double confidence = 0.0;  // in [0, 1]; 0 when nothing could be measured
  // Set when the confidence is below the threshold, two candidate shifts fit
  // alike, the fine stage could not refine the coarse answer, or (without
  // largeShifts) the answer is the alias of a shift past half the size.
  bool ambiguous = true;
};

class VEXFILT_API vcPhaseCorrelator {
 public:
  // A plan for images of width x height pixels, from 8 x 8 up to 16384 a
  // side. Throws vcFrequencyDefs::InvalidSize for other sizes and
  // vcFrequencyDefs::InvalidArgument for options out of range (tukeyAlpha
  // outside [0, 1], coarseSide below 16 or above 2048, fineSide below 16,
  // ambiguityThreshold outside [0, 1]).
  vcPhaseCorrelator(long width, long height, const vcPhaseCorrelationOptions& options = {});

  long width() const { return width_; }
  long height() const { return height_; }
  const vcPhaseCorrelationOptions& options() const { return options_; }

  // Measures the shift from `reference` to `moving`. Throws
  // vcFrequencyDefs::UnboundWindow for an unbound image and InvalidSize
  // "Images must have the correlator's size." for another size. With
  // `surface` the coarse correlation surface is returned there as a new
  // double image, quadrant-swapped so that zero shift is at (width/2,
  // height/2) of its padded power-of-two size, normalised so that a perfect
  // match peaks at 1 (its pixel (i, j) is the shift (i - width/2, j -
  // height/2) in coarse pixels).
  vcTranslation run(const vcPelBuffer_const<unsigned char>& reference, const vcPelBuffer_const<unsigned char>& moving,
                    vcPelBuffer<double>* surface = nullptr) const;
  vcTranslation run(const vcPelBuffer_const<unsigned short>& reference, const vcPelBuffer_const<unsigned short>& moving,
                    vcPelBuffer<double>* surface = nullptr) const;
  vcTranslation run(const vcPelBuffer_const<double>& reference, const vcPelBuffer_const<double>& moving,
                    vcPelBuffer<double>* surface = nullptr) const;

  // The reduction factor of the coarse stage (1 when the images fit).
  long coarseFactor() const { return factor_; }

 private:
  long width_;
  long height_;
  long factor_;
  vcPhaseCorrelationOptions options_;
};

// One-off measurements: a plan for the images' size, run once.
VEXFILT_API vcTranslation vfPhaseCorrelate(const vcPelBuffer_const<unsigned char>& reference,
                                           const vcPelBuffer_const<unsigned char>& moving,
                                           const vcPhaseCorrelationOptions& options = {});
VEXFILT_API vcTranslation vfPhaseCorrelate(const vcPelBuffer_const<unsigned short>& reference,
                                           const vcPelBuffer_const<unsigned short>& moving,
                                           const vcPhaseCorrelationOptions& options = {});
VEXFILT_API vcTranslation vfPhaseCorrelate(const vcPelBuffer_const<double>& reference,
                                           const vcPelBuffer_const<double>& moving,
                                           const vcPhaseCorrelationOptions& options = {});

// ---------------------------------------------------------------------------
// Rotation, scale and translation (Fourier-Mellin).
//
// Model: moving(p) ~ reference(q) with
//     p = c + scale * R(angle) (q - c) + (dx, dy),
// c = ((width - 1) / 2, (height - 1) / 2) the image centre and R(angle)
// turning the x axis toward the y axis (clockwise on screen, as y points
// down). The magnitude spectra of the (circularly windowed) images, sampled
// on a log-polar grid, differ by a shift of (angle, log scale); a phase
// correlation of those grids measures it, the 180 degree ambiguity of the
// magnitude spectrum is settled by correlating both candidates with the
// reference, and the translation is measured on the corrected image. The
// log-polar step is repeated once on the corrected image to measure what is
// left; then the shifts of a 3 x 3 grid of blocks of the corrected image,
// measured by the translation correlator and fitted by a small similarity,
// refine angle and scale (measured on noisy photographs: 0.016 degrees and
// 0.015 % RMS, against 0.11 and 0.11 from the log-polar grid alone). angle in
// (-pi, pi], scale from 0.5 to 2.
// ---------------------------------------------------------------------------

struct vcSimilarityOptions {
  long angles = 512;  // samples of the log-polar grid over 180 degrees
  long radii = 256;   // samples over log radius
  double minScale = 0.5;
  double maxScale = 2.0;
  int refinements = 1;                    // extra log-polar passes on the corrected image
  vcPhaseCorrelationOptions translation;  // for the final translation and the log-polar grids
};

struct vcSimilarity {
  double dx = 0.0;
  double dy = 0.0;
  double angle = 0.0;  // radians, in (-pi, pi]
  double scale = 1.0;
  double confidence = 0.0;  // of the final translation, in [0, 1]
  bool ambiguous = true;
};

class VEXFILT_API vcSimilarityRegistration {
 public:
  // A plan for width x height images (32 to 2048 a side). Throws
  // vcFrequencyDefs::InvalidSize for other sizes and InvalidArgument for
  // options out of range (angles or radii below 16 or above 4096, scales
  // not 0 < minScale < 1 < maxScale, refinements outside 0..4).
  vcSimilarityRegistration(long width, long height, const vcSimilarityOptions& options = {});

  long width() const { return width_; }
  long height() const { return height_; }
  const vcSimilarityOptions& options() const { return options_; }

  // Throws as vcPhaseCorrelator::run.
  vcSimilarity run(const vcPelBuffer_const<unsigned char>& reference,
                   const vcPelBuffer_const<unsigned char>& moving) const;
  vcSimilarity run(const vcPelBuffer_const<unsigned short>& reference,
                   const vcPelBuffer_const<unsigned short>& moving) const;
  vcSimilarity run(const vcPelBuffer_const<double>& reference, const vcPelBuffer_const<double>& moving) const;

 private:
  vcSimilarity runDouble(const vcPelBuffer_const<double>& reference, const vcPelBuffer_const<double>& moving) const;

  long width_;
  long height_;
  vcSimilarityOptions options_;
};

VEXFILT_API vcSimilarity vfRegisterSimilarity(const vcPelBuffer_const<unsigned char>& reference,
                                              const vcPelBuffer_const<unsigned char>& moving,
                                              const vcSimilarityOptions& options = {});
VEXFILT_API vcSimilarity vfRegisterSimilarity(const vcPelBuffer_const<unsigned short>& reference,
                                              const vcPelBuffer_const<unsigned short>& moving,
                                              const vcSimilarityOptions& options = {});
VEXFILT_API vcSimilarity vfRegisterSimilarity(const vcPelBuffer_const<double>& reference,
                                              const vcPelBuffer_const<double>& moving,
                                              const vcSimilarityOptions& options = {});

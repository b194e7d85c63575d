// vexfilt11 vision layer: edge treatment before a transform.
//
// A discrete Fourier transform sees an image as one period of a periodic
// signal, so the jumps between opposite edges show up as a bright cross of
// spurious energy along the frequency axes. Two remedies, both on double
// images and both usable before any transform of the library:
//  - windows (Hann, Tukey) taper the image to zero at its edges; they change
//    the content near the edges and so bias measurements taken there;
//  - the periodic-plus-smooth decomposition (Moisan 2011) splits the image
//    into u = p + s, where s is smooth (harmonic inside the image) and holds
//    the edge jumps, and p is free of them but keeps all the image's detail.
//
// Window convention (both kinds): w(i) for i = 0 .. n-1 is symmetric about
// the image centre, w(n-1-i) == w(i), and never exactly zero, sampled at the
// pixel centres (i + 0.5) / n of a continuous window on [0, 1]. A 2-D window
// is the product w_x(x) * w_y(y). Windows multiply the pixel values as they
// are: subtract the image's mean first if the taper should not add its own
// shape to the spectrum.
#pragma once

#include <complex>
#include <vector>

#include "filt/export.h"
#include "vexstd/vexstd.h"

// Hann window of n samples: w(i) = sin^2(pi (i + 0.5) / n). Throws
// std::invalid_argument for n < 1.
VEXFILT_API std::vector<double> vfHannWindow(long n);

// Tukey (tapered cosine) window of n samples: a cosine taper over a fraction
// alpha / 2 of the length at each end, 1 in between. alpha = 0 is the
// rectangle (all ones), alpha = 1 the Hann window above. Throws
// std::invalid_argument for n < 1 or alpha outside [0, 1] (or NaN).
VEXFILT_API std::vector<double> vfTukeyWindow(long n, double alpha);

// Multiplies an image in place by the separable 2-D window (a bound image;
// unbound images throw vcFrequencyDefs::UnboundWindow).
VEXFILT_API void vfApplyHannWindow(vcPelBuffer<double>& image);
VEXFILT_API void vfApplyTukeyWindow(vcPelBuffer<double>& image, double alpha);

// The two components of the periodic-plus-smooth decomposition.
struct vcPeriodicSmooth {
  vcPelBuffer<double> periodic;  // p: the image without its edge jumps
  vcPelBuffer<double> smooth;    // s = u - p: harmonic inside, mean 0
};

// The periodic-plus-smooth decomposition of an image of any size (at least
// 1 x 1; images may be windows of larger ones). The smooth component solves
// the discrete Poisson problem in closed form:
//   S(q, r) = V(q, r) / (2 cos(2 pi q / H) + 2 cos(2 pi r / W) - 4),  S(0, 0) = 0,
// where V is the transform of the boundary image v (the differences between
// opposite edges, placed on the edges). V needs only two 1-D transforms of
// the edge differences; one inverse 2-D transform gives s. All arithmetic
// is in double precision with transforms of any length (radix 2 or
// Bluestein), so p + s reproduces the image to about 1e-12 of its range.
// The results are new images of the input's size with its offset. Polls the
// attention check (about once per 16 transformed rows or columns). Throws
// vcFrequencyDefs::UnboundWindow for an unbound image.
VEXFILT_API vcPeriodicSmooth vfPeriodicSmoothDecomposition(const vcPelBuffer_const<double>& image);

// The spectrum S of the smooth component only, in natural order (element
// (0, 0) is the zero frequency), row-major width x height, unscaled (the
// forward convention of the library's transforms): the spectrum of the
// periodic component is the image's own spectrum minus S. Costs O(W H)
// plus two 1-D transforms, no 2-D transform. Throws as above.
VEXFILT_API std::vector<std::complex<double>> vfSmoothComponentSpectrum(const vcPelBuffer_const<double>& image);

// Double-precision discrete Fourier transforms of any length, for the vision
// layer: the periodic-plus-smooth decomposition and the fine stage of the
// registration, which work at the image's own size (not padded to a power
// of two, as the library's engine is) and in double precision (the weak high
// frequencies of a smooth image drown in single-precision round-off).
// Internal: not exported.
//
// Convention: forward X[k] = sum_n x[n] exp(-2 pi i k n / N), inverse with
// exp(+2 pi i k n / N), both unscaled. Lengths whose factors are 2, 3 and 5
// run a mixed-radix Stockham transform (radices 4, 2, 3, 5); other lengths
// Bluestein's chirp-z through a power-of-two transform. Twiddles come from
// std::polar on exactly reduced angles; the round-off stays near 1e-16 *
// log2(N) relative to the signal's norm (checked against a naive DFT in
// the tests).
#pragma once

#include <complex>
#include <vector>

namespace vf_vision {

using vcComplexD = std::complex<double>;

// True when n >= 1 has no prime factor above 5 (a fast length).
bool vf_IsFastLength(long n);
// The largest fast length <= n (n >= 1).
long vf_FastLengthBelow(long n);

// A transform plan for one length, built once; run() is const, so one plan
// serves many threads (each with its own scratch).
class vc_Dft1D {
 public:
  explicit vc_Dft1D(long n);
  long size() const { return n_; }
  // Transforms `batch` sequences in place; element t of sequence b is
  // data[b + batch * t] (batch 1: one contiguous sequence; batch = width:
  // the columns of a row-major image). `scratch` grows as needed.
  void run(vcComplexD* data, long batch, bool inverse, std::vector<vcComplexD>& scratch) const;

 private:
  // Mixed-radix transform of length m_ (`radices_`), batched as above.
  void stockham(vcComplexD* data, long batch, bool inverse, vcComplexD* work) const;

  long n_;
  long m_;                            // the fast length run inside (n_ itself, or Bluestein's)
  std::vector<int> radices_;          // factors of m_, in the order applied
  std::vector<vcComplexD> twiddle_;   // exp(-2 pi i k / m_), k < m_
  std::vector<vcComplexD> chirp_;     // Bluestein only: exp(-i pi k^2 / n), k < n
  std::vector<vcComplexD> chirpHat_;  // Bluestein only: transform of the conjugate chirp
};

// In-place 2-D transform of a width x height row-major complex array: rows,
// then columns. Polls the attention check once per 16 rows and once per
// column pass stage block.
void vf_Dft2D(std::vector<vcComplexD>& data, long width, long height, bool inverse);

// Forward 2-D transform of a real width x height row-major image into its
// full spectrum `out` (width x height, natural order, resized as needed), at
// about half the cost of vf_Dft2D on the image as a complex array: the rows
// are transformed two at a time (one as the real, one as the imaginary part
// of a complex row, told apart by symmetry), only the columns 0 .. width/2
// are transformed, and the others follow from X(-kx, -ky) = conj X(kx, ky).
// Same round-off as vf_Dft2D. Polls as vf_Dft2D.
void vf_RealDft2D(const double* image, long width, long height, std::vector<vcComplexD>& out);

}  // namespace vf_vision

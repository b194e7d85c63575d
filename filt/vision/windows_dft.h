// Double-precision discrete Fourier transforms of any length, for the vision
// layer's preprocessing (the periodic-plus-smooth decomposition at sizes the
// library's power-of-two engine does not take) and for the exact evaluation
// of small spectra. Internal: not exported.
//
// Convention: forward X[k] = sum_n x[n] exp(-2 pi i k n / N), inverse with
// exp(+2 pi i k n / N), both unscaled. Radix-2 for powers of two, Bluestein's
// chirp-z (through a power-of-two transform) otherwise. Twiddles come from
// std::polar on exactly reduced angles, so the round-off stays near
// 1e-15 * log2(N) relative to the signal's norm.
#pragma once

#include <complex>
#include <vector>

namespace vf_vision {

using vcComplexD = std::complex<double>;

// A transform plan for one length, built once; run() is const.
class vc_Dft1D {
 public:
  explicit vc_Dft1D(long n);
  long size() const { return n_; }
  // Transforms `data` (size() values) in place; `inverse` selects the sign.
  // `scratch` is resized as needed (one per thread).
  void run(vcComplexD* data, bool inverse, std::vector<vcComplexD>& scratch) const;

 private:
  void radix2(vcComplexD* data, bool inverse, long m, const std::vector<vcComplexD>& twiddle) const;

  long n_;
  long m_;                            // power-of-two length used inside
  std::vector<vcComplexD> twiddle_;   // exp(-2 pi i k / m_), k < m_/2
  std::vector<long> reverse_;         // bit reversal of m_
  std::vector<vcComplexD> chirp_;     // Bluestein: exp(-i pi k^2 / n), k < n
  std::vector<vcComplexD> chirpHat_;  // transform of the conjugate chirp, length m_
};

// In-place 2-D transform of a width x height row-major complex array: rows,
// then columns. Polls the attention check once per 16 rows and per 16
// columns.
void vf_Dft2D(std::vector<vcComplexD>& data, long width, long height, bool inverse);

}  // namespace vf_vision

// The accuracy oracle of the engine tests: the unscaled forward 2-D DFT in double
// precision, Z(u, v) = sum over x, y of z(x, y) exp(-2 pi i (u x / w + v y / h)).
// Built with FFTW (double) when the build found it; otherwise a direct DFT of our
// own, row by row and then column by column, whose twiddle angles are reduced
// exactly (k n mod N) before one cos/sin in double. The direct DFT costs
// w h (w + h) complex products, so the tests ask it only for sizes where that is
// affordable (`affordable`).
#pragma once

#include <complex>
#include <vector>

namespace oracle {

using Cvec = std::vector<std::complex<double>>;

// Which oracle this build uses, for test names and output: "FFTW" or "DFT".
const char* name();

// Z = the forward transform of z (w x h, row-major), in place of Z's contents.
void forward2D(long w, long h, const Cvec& z, Cvec& Z);

// Whether forward2D of a w x h array takes well under a second here.
bool affordable(long w, long h);

// Releases what the oracle keeps between calls (FFTW's plans and wisdom).
void cleanup();

}  // namespace oracle

// Shared helpers of the filter tests: access to protected members, buffers
// with known contents, and filter records written without a class header.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "filt/freqfilt.h"
#include "support/error_matchers.h"
#include "support/images.h"

namespace vftest {

// A filter class with its coefficients and its archive step opened.
template <class F>
struct Open : F {
  using F::F;
  Open() = default;
  explicit Open(const F& f) : F(f) {}
  using F::dispatchSerialize;
  const float* coefficients() const { return F::data(); }
};

inline vcFrequencyBuffer randomSpectrum(long w, long h, std::uint32_t salt) {
  return vcFrequencyBuffer(randomImage<double>(w, h, 2.0, salt), randomImage<double>(w, h, 2.0, salt + 77));
}

// A buffer of constant 1 - 2i carrying a row band, filtered in place or into
// a target of another size; every element of the result is then
// (t, -2t) for the factor t the filter gave it.
inline vcFrequencyBuffer filterConstant(const vcFrequencyFilter& f, long w, long h, bool twoBuffer) {
  vcFrequencyBuffer input(w, h), out = randomSpectrum(8, 8, 3);
  vcFrequencyFilterGabor({0.01, 0.01}, {0, 0}, vcRadian(0.3), 0.2, {w, h}, 0).apply(input);  // sets the band
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) input.put(x, y, vcPair<double>(1, -2), false);
  if (!twoBuffer) out = input;
  twoBuffer ? f.apply(input, out) : f.apply(out);
  return out;
}

// Expects element (x, y) to be (t, -2t) with t = factor(x, y).
template <class Factor>
void expectFactors(const vcFrequencyBuffer& out, Factor factor) {
  long wrong = 0;
  for (long y = 0; y < out.height(); ++y)
    for (long x = 0; x < out.width(); ++x) {
      const double t = factor(x, y);
      const vcPair<double> got = out.get(x, y, false);
      if ((std::fabs(got.x - t) > 1e-6 || std::fabs(got.y + 2 * t) > 1e-6) && wrong++ < 3)
        ADD_FAILURE() << "element (" << x << ", " << y << "): " << got.x << ", want " << t;
    }
  EXPECT_EQ(wrong, 0);
}

// The record that a filter's own archive step writes (no class header):
// class version, base version, the platform's version byte, the
// initialized flag, then the class's items from kItems on.
constexpr std::size_t kItems = 4;

template <class F>
std::vector<unsigned char> recordOf(const F& f) {
  Open<F> open(f);
  vcMemoryArchive ar;
  open.dispatchSerialize(ar);
  return ar.bytes();
}

template <class F>
void loadInto(Open<F>& f, const std::vector<unsigned char>& bytes) {
  vcMemoryArchive ar(bytes);
  f.dispatchSerialize(ar);
}

template <class T>
void poke(std::vector<unsigned char>& bytes, std::size_t at, T value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

}  // namespace vftest

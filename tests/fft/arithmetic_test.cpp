// Spectrum arithmetic: the element operations against a plain per-element oracle,
// aliasing of the result with either operand, algebraic identities and which fields
// the result carries. (The order of the checks per form: reliability/bad_input_test.)

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "support/buffer_helpers.h"

namespace {

using Buffer = vcFrequencyBuffer;
using Ternary = std::function<void(const Buffer&, const Buffer&, Buffer&)>;

// Every element of the padded array random, with magnitudes from 2^-12 to
// 2^12 so that products and sums need rounding; the image size (iw x ih) and
// offset only set the fields that the result must carry.
Buffer randomBuffer(long iw, long ih, std::uint32_t salt, vcPair<long> offset = {0, 0}) {
  vcPelBuffer<double> re(iw, ih), im(iw, ih);
  re.offset(offset);
  im.offset(offset);
  Buffer b(re, im);
  std::uint32_t s = salt * 2654435761u + 1u;
  auto next = [&] {
    s = s * 1664525u + 1013904223u;
    const double mantissa = static_cast<double>(s >> 8) / 8388608.0 - 1.0;
    return std::ldexp(mantissa, static_cast<int>(s % 25) - 12);
  };
  for (long y = 0; y < b.height(); ++y)
    for (long x = 0; x < b.width(); ++x) b.put(x, y, vcPair<double>(next(), next()), false);
  return b;
}

std::vector<float> arrayOf(const Buffer& b) {
  std::vector<float> v;
  for (long y = 0; y < b.height(); ++y)
    for (long x = 0; x < b.width(); ++x) {
      v.push_back(static_cast<float>(b.getReal(x, y, false)));
      v.push_back(static_cast<float>(b.getImaginary(x, y, false)));
    }
  return v;
}

std::uint32_t bits(double floatValue) {
  return std::bit_cast<std::uint32_t>(static_cast<float>(floatValue));
}

const struct {
  const char* name;
  Ternary apply;
  bool intoBKeepsB;  // fields of the result when it is b
} kTernary[] = {
    {"add", [](const Buffer& a, const Buffer& b, Buffer& r) { vfFrequencyAdd(a, b, r); }, true},
    {"subtract", [](const Buffer& a, const Buffer& b, Buffer& r) { vfFrequencySubtract(a, b, r); }, false},
    {"multiply", [](const Buffer& a, const Buffer& b, Buffer& r) { vfFrequencyMultiply(a, b, r); }, true},
};

// The element arithmetic written out plainly: (x, y) from the first operand,
// (u, v) from the second, double operations on the widened floats.
using Element = std::pair<double, double> (*)(double x, double y, double u, double v);
const Element sum = [](double x, double y, double u, double v) { return std::pair{x + u, y + v}; };
const Element difference = [](double x, double y, double u, double v) { return std::pair{x - u, y - v}; };
const Element product = [](double x, double y, double u, double v) { return std::pair{x * u - y * v, u * y + v * x}; };
const Element conjugate = [](double x, double y, double, double) { return std::pair{x, -y}; };

}  // namespace

// Each form against the plain arithmetic, rounded once, bit for bit. The
// two-operand forms get r = a and operand b, so all compute a op b. Sizes give
// odd (1 x 1) and even element counts.
TEST(SpectrumArithmetic, MatchesPlainElementArithmeticBitForBit) {
  const struct {
    const char* name;
    Ternary apply;
    Element expected;
  } ops[] = {
      {"add", kTernary[0].apply, sum},
      {"subtract", kTernary[1].apply, difference},
      {"multiply", kTernary[2].apply, product},
      {"add in place", [](auto& a, auto& b, auto& r) { vfFrequencyAdd(b, r = a); }, sum},
      {"subtract in place", [](auto& a, auto& b, auto& r) { vfFrequencySubtract(b, r = a); }, difference},
      {"multiply in place", [](auto& a, auto& b, auto& r) { vfFrequencyMultiply(b, r = a); }, product},
      {"conjugate", [](auto& a, auto&, auto& r) { vfFrequencyConjugate(a, r); }, conjugate},
  };
  for (auto [w, h] : {std::pair{1L, 1L}, {2L, 1L}, {1L, 4L}, {32L, 16L}}) {
    const Buffer a = randomBuffer(w, h, 1), b = randomBuffer(w, h, 2);
    for (const auto& op : ops) {
      SCOPED_TRACE(testing::Message() << op.name << " " << w << "x" << h);
      Buffer r;
      op.apply(a, b, r);
      for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) {
          const vcPair<double> e = a.get(x, y, false), f = b.get(x, y, false);
          const auto [re, im] = op.expected(e.x, e.y, f.x, f.y);
          ASSERT_EQ(bits(r.getReal(x, y, false)), bits(re)) << x << "," << y;
          ASSERT_EQ(bits(r.getImaginary(x, y, false)), bits(im)) << x << "," << y;
        }
    }
  }
}

// A result that is an operand gives the array a separate result gives. The
// result carries a's fields, except that add and multiply into b work on b in
// place. a and b differ in image size, offset and band but not in padded size.
TEST(SpectrumArithmetic, AliasingAndCarriedFields) {
  const Buffer a = vftest::withBand(randomBuffer(100, 60, 3, {3, -4}), 1, -5, 7),
               b = vftest::withBand(randomBuffer(128, 40, 4), 1, 0, 2);
  for (const auto& op : kTernary) {
    SCOPED_TRACE(op.name);
    Buffer separate = vftest::inverseComputedBuffer(4, 2);  // replaced, whatever it held
    op.apply(a, b, separate);
    EXPECT_EQ(separate.imageWidth(), 100);
    EXPECT_EQ(separate.offset(), vcPair<long>(3, -4));
    EXPECT_EQ(separate.maskedMiny(), -5);
    Buffer ra = a, rb = b, same = a, squareOf = a, aCopy = a;
    op.apply(ra, b, ra);
    op.apply(a, rb, rb);
    EXPECT_EQ(ra, separate);
    EXPECT_EQ(arrayOf(rb), arrayOf(separate));  // also a - b, not b - a
    EXPECT_EQ(rb.imageHeight(), op.intoBKeepsB ? 40 : 60);
    op.apply(same, same, same);
    op.apply(a, aCopy, squareOf);
    EXPECT_EQ(same, squareOf);
  }
  // In place: the destination keeps all its own fields.
  Buffer r = b;
  vfFrequencyMultiply(a, r);
  vfFrequencySubtract(a, r);
  vfFrequencyAdd(a, r);
  vfFrequencyConjugate(r);
  EXPECT_EQ(r.imageWidth(), 128);
  EXPECT_EQ(r.offset(), vcPair<long>(0, 0));
  EXPECT_EQ(r.maskedMaxy(), 2);
}

// Conjugating twice gives back every bit, NaN and -0 included.
TEST(SpectrumArithmetic, ConjugateTwiceIsTheIdentity) {
  Buffer a = randomBuffer(16, 8, 5), twice;
  a.put(1, 0, vcPair<double>(-0.0, std::numeric_limits<double>::quiet_NaN()), false);
  vfFrequencyConjugate(a, twice);
  vfFrequencyConjugate(twice, twice);  // the copying form into its own operand
  EXPECT_EQ(vftest::store(twice), vftest::store(a));
  vfFrequencyConjugate(twice);
  vfFrequencyConjugate(twice);
  EXPECT_EQ(vftest::store(twice), vftest::store(a));
}

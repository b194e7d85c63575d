// Bad input at every entry point of the buffers, transforms, views and arithmetic, and
// extreme filter parameters: unbound images, empty buffers, buffers holding an in-place
// inverse, mismatched sizes, parameters out of range, infinite or NaN, the largest
// sizes. Each row names the error class and text the header documents, and where
// several checks could fail, the one that comes first; every row runs on a fresh set of
// arguments, which must be exactly as they were afterwards. (The filters' own argument
// checks and refusals to apply: freqfilt/filter_contract_test, image_filter_test.)

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <limits>
#include <string>
#include <utility>

#include "filt/freqfilt.h"
#include "support/buffer_helpers.h"
#include "support/images.h"

namespace {

using Defs = vcFrequencyDefs;
using vftest::samePixels;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Error numbers of the library's classes.
enum : long { kArgument = 0x10006300, kUninit, kSize, kUnbound, kBuffer, kCoord };
constexpr const char* kNoData = "FrequencyBuffer has not been initialized";
constexpr const char* kInverse = "Cannot access frequency data once inverse has been computed.";
constexpr const char* kLimit = "Width and Height must be no larger than 2048.";
constexpr const char* kPair = "Real and Imaginary buffers must have the same size and offset.";
constexpr const char* kPelPair = "Real and Imaginary PelBuffers must have the same dimensions and offset.";
constexpr const char* kOutOfBounds = "Coordinates are out of bounds";
constexpr const char* kFrequency = "Frequency must be between 0.0 and 0.5.";
constexpr const char* kTooLarge = "Filter support is too large.";
constexpr const char* kPow2 = "Size must be a power of 2.";

// The arguments every row draws from, made afresh for each row: a 16 x 8 spectrum, the
// same holding its inverse, an 8 x 8 one.
struct Args {
  vcFrequencyBuffer spectrum, empty, inverse, narrow{8, 8}, result{2, 2};
  vcPelBuffer<unsigned char> u8 = vftest::randomImage<unsigned char>(10, 6, 255.0, 1), u8Shifted = u8, u8Wide{2049, 1},
                             u8Tall{1, 2049}, u8Unbound, out{3, 2}, quadrant{3, 2};
  vcPelBuffer<unsigned short> u16 = vftest::randomImage<unsigned short>(10, 6, 999.0, 2), u16Wide{1, 2049};
  vcPelBuffer<unsigned short> u16Unbound;
  vcPelBuffer<double> d = vftest::randomImage<double>(10, 6, 1.0, 3), dWide{2049, 2}, dUnbound, angle{3, 2}, re{3, 2},
                      im{3, 2};
  vcFrequencyFilterBandPass bandPass{0.05, 0.0, 0.2, {16, 8}, 0};

  Args() {
    vfForwardFFT(u8, spectrum);
    inverse = spectrum;
    vfInverseFFT(inverse, out, false, true);
    vfPelSet<unsigned char>(out, 5);
    u8Shifted.offset(1, 0);
  }

  bool operator==(const Args& f) const {
    const auto same = vftest::sameBuffer;
    return same(spectrum, f.spectrum) && same(empty, f.empty) && same(inverse, f.inverse) && same(narrow, f.narrow) &&
           same(result, f.result) && samePixels(u8, f.u8) && samePixels(u8Shifted, f.u8Shifted) &&
           samePixels(u8Unbound, f.u8Unbound) && samePixels(out, f.out) && samePixels(quadrant, f.quadrant) &&
           samePixels(u16, f.u16) && samePixels(d, f.d) && samePixels(dUnbound, f.dUnbound) &&
           samePixels(angle, f.angle) && samePixels(re, f.re) && samePixels(im, f.im) && bandPass == f.bandPass;
  }
};

struct Row {
  std::string what;
  std::function<void(Args&)> call;
  long number;
  const char* text;  // null: no text
};

void expectRefusals(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Args args;
    try {
      row.call(args);
      ADD_FAILURE() << "accepted";
    } catch (const Defs::Errors& e) {
      EXPECT_EQ(e.errorNumber(), row.number);
      if (row.text == nullptr)
        EXPECT_EQ(e.text(), nullptr);
      else
        EXPECT_STREQ(e.text(), row.text);
    }
    EXPECT_TRUE(args == Args());
  }
}

TEST(BadInput, FrequencyBuffer) {
  std::vector<Row> rows = {
      {"size 2049 x 1", [](Args&) { vcFrequencyBuffer(2049, 1); }, kSize, kLimit},
      {"size 1 x 2049", [](Args&) { vcFrequencyBuffer(1, 2049); }, kSize, kLimit},
      {"size LONG_MAX", [](Args&) { vcFrequencyBuffer(LONG_MAX, LONG_MAX); }, kSize, kLimit},
      {"pair: real unbound", [](Args& a) { vcFrequencyBuffer(a.dUnbound, a.d); }, kUnbound, nullptr},
      {"pair: imaginary unbound", [](Args& a) { vcFrequencyBuffer(a.d, a.dUnbound); }, kUnbound, nullptr},
      {"pair: sizes differ", [](Args& a) { vcFrequencyBuffer(a.d, a.re); }, kSize, kPelPair},
      {"pair: offsets differ",
       [](Args& a) {
         vcPelBuffer<double> moved = a.d;  // a handle of its own: a.d keeps its offset
         moved.offset(1, 0);
         vcFrequencyBuffer(a.d, moved);
       },
       kSize, kPelPair},
      {"pair: 2049 wide", [](Args& a) { vcFrequencyBuffer(a.dWide, a.dWide); }, kSize, kLimit},
      // Crops: the sizes asked for, then the source, then the sizes against it.
      {"crop: width LONG_MIN of empty", [](Args& a) { vcFrequencyBuffer(a.empty, LONG_MIN, 1); }, kSize,
       "Copied width must be > 1"},
      {"crop: height 0 of empty", [](Args& a) { vcFrequencyBuffer(a.empty, 4, 0); }, kSize,
       "Copied height must be > 1"},
      {"crop: empty source", [](Args& a) { vcFrequencyBuffer(a.empty, 4, 4); }, kUninit, kNoData},
      {"crop: width LONG_MAX", [](Args& a) { vcFrequencyBuffer(a.spectrum, LONG_MAX, 3); }, kSize,
       "Copied width cannot be greater than source width"},
      {"crop: 12 x 16", [](Args& a) { vcFrequencyBuffer(a.spectrum, 12, 16); }, kSize,
       "Copied height cannot be greater than source height"},
      {"crop: 12 x 3", [](Args& a) { vcFrequencyBuffer(a.spectrum, 12, 3); }, kSize, "Unsupported width"},
      {"crop: 8 x 3", [](Args& a) { vcFrequencyBuffer(a.spectrum, 8, 3); }, kSize, "Unsupported height"},
      {"width of empty", [](Args& a) { (void)a.empty.width(); }, kUninit, kNoData},
      {"height of empty", [](Args& a) { (void)a.empty.height(); }, kUninit, kNoData},
      {"get LONG_MIN centered", [](Args& a) { (void)a.spectrum.get(LONG_MIN, 0, true); }, kCoord, kOutOfBounds},
      {"put LONG_MAX stored", [](Args& a) { a.spectrum.putReal(0, LONG_MAX, 1.0, false); }, kCoord, kOutOfBounds},
      {"get (8, 0) centered of 16 x 8", [](Args& a) { (void)a.spectrum.get(8, 0, true); }, kCoord, kOutOfBounds},
      {"display mapping of unbound", [](Args& a) { vfFrequencyMapImage(a.dUnbound, Defs::eMapLog, 0, 1); }, kUnbound,
       nullptr},
  };
  // Every element accessor and view checks for data, then for an inverse, then the
  // coordinates.
  using Access = std::function<void(vcFrequencyBuffer&)>;
  const std::pair<const char*, Access> accessors[] = {
      {"get", [](auto& b) { (void)b.get(99, 99, false); }},
      {"getReal", [](auto& b) { (void)b.getReal(99, 99, true); }},
      {"getImaginary", [](auto& b) { (void)b.getImaginary(99, 99, true); }},
      {"put", [](auto& b) { b.put(99, 99, vcPair<double>(1, 1), true); }},
      {"putReal", [](auto& b) { b.putReal(99, 99, 1, false); }},
      {"putImaginary", [](auto& b) { b.putImaginary(99, 99, 1, true); }},
      {"real image", [](auto& b) { (void)b.getRealImage(true); }},
      {"imaginary image", [](auto& b) { (void)b.getImaginaryImage(false); }},
      {"magnitude image", [](auto& b) { (void)b.getMagnitudeImage(true); }},
      {"phase image", [](auto& b) { (void)b.getPhaseImage(false); }},
  };
  for (const auto& [name, access] : accessors) {
    rows.push_back({std::string(name) + " of empty", [f = access](Args& a) { f(a.empty); }, kUninit, kNoData});
    rows.push_back({std::string(name) + " of inverse", [f = access](Args& a) { f(a.inverse); }, kBuffer, kInverse});
  }
  expectRefusals(rows);
}

TEST(BadInput, ForwardTransforms) {
  expectRefusals({
      {"8-bit unbound", [](Args& a) { vfForwardFFT(a.u8Unbound, a.result); }, kUnbound, nullptr},
      {"16-bit unbound", [](Args& a) { vfForwardFFT(a.u16Unbound, a.result); }, kUnbound, nullptr},
      {"double unbound", [](Args& a) { vfForwardFFT(a.dUnbound, a.result); }, kUnbound, nullptr},
      {"pair: real unbound first", [](Args& a) { vfForwardFFT(a.u8Unbound, a.u8Wide, a.result); }, kUnbound, nullptr},
      {"pair: imaginary unbound", [](Args& a) { vfForwardFFT(a.d, a.dUnbound, a.result); }, kUnbound, nullptr},
      {"pair: offsets differ", [](Args& a) { vfForwardFFT(a.u8, a.u8Shifted, a.result); }, kSize, kPair},
      {"pair: sizes differ", [](Args& a) { vfForwardFFT(a.u16, a.u16Wide, a.result); }, kSize, kPair},
      {"8-bit 2049 wide", [](Args& a) { vfForwardFFT(a.u8Wide, a.result); }, kSize, kLimit},
      {"8-bit 2049 high", [](Args& a) { vfForwardFFT(a.u8Tall, a.result); }, kSize, kLimit},
      {"16-bit 2049 high", [](Args& a) { vfForwardFFT(a.u16Wide, a.result); }, kSize, kLimit},
      {"double pair 2049 wide", [](Args& a) { vfForwardFFT(a.dWide, a.dWide, a.result); }, kSize, kLimit},
      {"buffer: empty source", [](Args& a) { vfForwardFFT(a.empty, a.result); }, kUninit, kNoData},
  });
}

TEST(BadInput, InverseTransformsOfAnEmptyBuffer) {
  expectRefusals({
      {"to buffer", [](Args& a) { vfInverseFFT(a.empty, a.result, false); }, kUninit, kNoData},
      {"to buffer in place", [](Args& a) { vfInverseFFT(a.empty, a.result, true); }, kUninit, kNoData},
      {"to buffer const", [](Args& a) { vfInverseFFT(std::as_const(a.empty), a.result); }, kUninit, kNoData},
      {"to pair", [](Args& a) { vfInverseFFT(a.empty, a.re, a.im, true); }, kUninit, kNoData},
      {"to unbound pair", [](Args& a) { vfInverseFFT(std::as_const(a.empty), a.dUnbound, a.dUnbound); }, kUninit,
       kNoData},
      {"8-bit", [](Args& a) { vfInverseFFT(a.empty, a.out, true, true); }, kUninit, kNoData},
      {"8-bit unbound", [](Args& a) { vfInverseFFT(a.empty, a.u8Unbound, false, false); }, kUninit, kNoData},
      {"16-bit const", [](Args& a) { vfInverseFFT(std::as_const(a.empty), a.u16, false); }, kUninit, kNoData},
      {"double with angle", [](Args& a) { vfInverseFFTAngle(a.empty, a.d, a.angle, false, true); }, kUninit, kNoData},
      {"8-bit with quadrant", [](Args& a) { vfInverseFFTQuadrant(a.empty, a.out, a.quadrant, true, false); }, kUninit,
       kNoData},
      {"double with quadrant const",
       [](Args& a) { vfInverseFFTQuadrant(std::as_const(a.empty), a.d, a.quadrant, false); }, kUninit, kNoData},
      {"angle image", [](Args& a) { vf_ComputeAngleImage(a.empty, a.angle); }, kUninit, kNoData},
      {"quadrant image", [](Args& a) { vf_ComputeQuadrantImage(a.empty, a.quadrant); }, kUninit, kNoData},
  });
}

// Two-operand forms update the second operand, three-operand forms write a third
// buffer. "size+inverse": the operands differ in size and one holds an inverse.
TEST(BadInput, SpectrumArithmeticChecksInOrder) {
  const char* add = "Can only add equal-sized frequency buffers.";
  const char* sub = "Can only subtract equal-sized frequency buffers.";
  const char* mul = "Can only multiply equal-sized frequency buffers.";
  expectRefusals({
      {"add(a, r) size+inverse", [](Args& a) { vfFrequencyAdd(a.narrow, a.inverse); }, kBuffer, kInverse},
      {"subtract(a, r) size+inverse", [](Args& a) { vfFrequencySubtract(a.inverse, a.narrow); }, kBuffer, kInverse},
      {"add(a, r) size", [](Args& a) { vfFrequencyAdd(a.narrow, a.spectrum); }, kSize, add},
      {"add(a, r) empty+inverse", [](Args& a) { vfFrequencyAdd(a.inverse, a.empty); }, kUninit, kNoData},
      {"add(a, r) empty", [](Args& a) { vfFrequencyAdd(a.empty, a.result); }, kUninit, kNoData},
      {"multiply(a, r) size+inverse", [](Args& a) { vfFrequencyMultiply(a.narrow, a.inverse); }, kSize, mul},
      {"multiply(a, r) inverse", [](Args& a) { vfFrequencyMultiply(a.inverse, a.spectrum); }, kBuffer, kInverse},
      {"add(a, b, r) size+inverse", [](Args& a) { vfFrequencyAdd(a.narrow, a.inverse, a.result); }, kBuffer, kInverse},
      {"add(a, b, r) empty a", [](Args& a) { vfFrequencyAdd(a.empty, a.inverse, a.result); }, kUninit, kNoData},
      {"multiply(a, b, r) size+inverse", [](Args& a) { vfFrequencyMultiply(a.inverse, a.narrow, a.result); }, kBuffer,
       kInverse},
      {"multiply(a, b, r) size", [](Args& a) { vfFrequencyMultiply(a.spectrum, a.narrow, a.result); }, kSize, mul},
      {"multiply(a, b, r) empty b", [](Args& a) { vfFrequencyMultiply(a.spectrum, a.empty, a.result); }, kUninit,
       kNoData},
      {"subtract(a, b, r) size+inverse", [](Args& a) { vfFrequencySubtract(a.narrow, a.inverse, a.result); }, kSize,
       sub},
      {"subtract(a, b, r) inverse", [](Args& a) { vfFrequencySubtract(a.spectrum, a.inverse, a.result); }, kBuffer,
       kInverse},
      {"subtract(a, b, r) empty b", [](Args& a) { vfFrequencySubtract(a.inverse, a.empty, a.result); }, kUninit,
       kNoData},
      {"conjugate(r) empty", [](Args& a) { vfFrequencyConjugate(a.empty); }, kUninit, kNoData},
      {"conjugate(r) inverse", [](Args& a) { vfFrequencyConjugate(a.inverse); }, kBuffer, kInverse},
      {"conjugate(a, r) inverse", [](Args& a) { vfFrequencyConjugate(a.inverse, a.result); }, kBuffer, kInverse},
      {"conjugate(a, r) empty", [](Args& a) { vfFrequencyConjugate(a.empty, a.result); }, kUninit, kNoData},
  });
}

// Infinities, extreme sizes and NaN. NaN sigmas and angles pass the range checks (NaN
// compares false) and are refused by the support bound.
TEST(BadInput, FilterParameters) {
  using BP = vcFrequencyFilterBandPass;
  using G = vcFrequencyFilterGabor;
  const auto band = [](double sigma, double plateau, double f, vcPair<long> size, long dc) {
    return [=](Args&) { BP(sigma, plateau, f, size, dc); };
  };
  const auto gabor = [](vcPair<double> sigma, double angle, vcPair<long> size) {
    return [=](Args&) { G(sigma, {0.0, 0.0}, vcRadian(angle), 0.2, size, 0); };
  };
  const vcPair<double> s{0.05, 0.05};
  expectRefusals({
      {"band: frequency +inf", band(0.05, 0, kInf, {8, 8}, 0), kArgument, kFrequency},
      {"band: sigma inf", band(kInf, 0, 0.2, {8, 8}, 0), kArgument, kTooLarge},
      {"band: sigma NaN", band(kNaN, 0, 0.2, {8, 8}, 0), kArgument, kTooLarge},
      {"band: plateau inf", band(0.05, kInf, 0.2, {8, 8}, 0), kArgument, kTooLarge},
      {"band: dc LONG_MIN", band(0.05, 0, 0.2, {8, 8}, LONG_MIN), kArgument, "DC Removal Radius cannot be negative."},
      {"band: size LONG_MAX", band(0.05, 0, 0.2, {LONG_MAX, 8}, 0), kSize, kPow2},
      {"band: size 2^62", band(0.05, 0, 0.2, {1L << 62, 8}, 0), kArgument, kTooLarge},
      {"gabor: angle NaN", gabor(s, kNaN, {8, 8}), kArgument, kTooLarge},
      {"gabor: angle inf", gabor(s, kInf, {8, 8}), kArgument, kTooLarge},
      {"gabor: sigma -inf", gabor({-kInf, 0.1}, 0, {8, 8}), kArgument, "Sigma values must be positive."},
      {"gabor: size 2^40 x 2^40", gabor(s, 0, {1L << 40, 1L << 40}), kArgument, kTooLarge},
      {"setter: sigma inf", [](Args& a) { a.bandPass.sigma(kInf); }, kArgument, kTooLarge},
  });
}

// Extreme but valid input is accepted and gives what the header says.
TEST(BadInput, ExtremeValidInput) {
  vcFrequencyBuffer tiny(LONG_MIN, -5);  // sizes below 1 pad to 1
  EXPECT_EQ(tiny.width(), 1);
  vcPelBuffer<unsigned char> none;
  vfInverseFFT(tiny, none, true, false);  // image size 0 or less: an empty image
  EXPECT_EQ(none.width(), 0);
  EXPECT_EQ(vcFrequencyBuffer(2048, 2048).height(), 2048);
  const vcPelBuffer<double> image = vftest::randomImage<double>(4, 4, 1.0, 7);
  for (double bound : {kNaN, kInf, -kInf})
    EXPECT_EQ(vfFrequencyMapImage(image, Defs::eMapRange, bound, bound).width(), 4);

  Args a;  // a buffer holding its inverse keeps its sizes and is accepted by every inverse and the buffer forward
  EXPECT_EQ(a.inverse.width(), 16);
  vcFrequencyBuffer back;
  vcPelBuffer<double> magnitude;
  EXPECT_NO_THROW(vfInverseFFT(a.inverse, back, false));
  EXPECT_NO_THROW(vfInverseFFT(std::as_const(a.inverse), magnitude, false));
  EXPECT_NO_THROW(vfForwardFFT(a.inverse, back));
  EXPECT_FALSE(back.inverseComputed());
}

}  // namespace

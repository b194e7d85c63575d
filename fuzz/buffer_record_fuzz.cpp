// Fuzz target: the frequency buffer record (`ar || buffer`) over arbitrary
// bytes. A failed load leaves the buffer as it was; a loaded buffer stores
// back to a record that loads equal (transform included), and goes through
// the transforms, views and copies that read its fields (sizes, image size,
// band, offset, flag).

#include "fuzz_support.h"

using namespace vffuzz;

namespace {

// What a failed load must leave: every field and every float.
bool sameState(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b) {
  return a == b && a.imageWidth() == b.imageWidth() && a.imageHeight() == b.imageHeight() &&
         a.maskedMiny() == b.maskedMiny() && a.maskedMaxy() == b.maskedMaxy() && a.xforms().isIdentity() &&
         b.xforms().isIdentity();
}

template <class Op>
void tolerate(Op op) {
  try {
    op();
  } catch (const vcException&) {
  }
}

// Everything that reads a loaded buffer's fields. Buffers are at most a few
// thousand elements (the record holds every float), so this stays cheap.
void exercise(const vcFrequencyBuffer& loaded) {
  tolerate([&] {
    vcFrequencyBuffer result;
    vfInverseFFT(loaded, result);
    vfForwardFFT(result, result);
  });
  tolerate([&] {
    vcFrequencyBuffer work = loaded;
    vcPelBuffer<unsigned char> image, quadrant;
    vfInverseFFTQuadrant(work, image, quadrant, true, true);  // in place: later calls re-read
    vcPelBuffer<unsigned short> wide(3, 2);
    wide.offset(-1, 5);  // bound: receives the pixels at the positions it shares
    vcPelBuffer<double> angle(2, 2);
    vfInverseFFTAngle(work, wide, angle, false, false);
    vcPelBuffer<double> magnitude;
    vcPelBuffer<unsigned char> codes;
    vfInverseFFTQuadrant(work, magnitude, codes, false, false);
  });
  tolerate([&] {
    vcPelBuffer<double> re, im;
    vfInverseFFT(loaded, re, im);
    vcPelBuffer<unsigned char> stretched;
    vfInverseFFT(loaded, stretched, true);
  });
  tolerate([&] { (void)loaded.getPhaseImage(true); });
  tolerate([&] { (void)loaded.get(-1, -1, true); });
  tolerate([&] { vcFrequencyBuffer cropped(loaded, 2, 2); });
  tolerate([&] {
    vcFrequencyBuffer sum = loaded;
    vfFrequencyMultiply(loaded, sum);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes input(data, data + size);
  vcFrequencyBuffer loaded(3, 2);
  loaded.put(1, 1, vcPair<double>(0.5, -2.0), false);
  const vcFrequencyBuffer before = loaded;
  try {
    loadBuffer(loaded, input);
  } catch (const vcException&) {
    require(sameState(loaded, before), "a failed load leaves the buffer as it was");
    return 0;
  }

  // The transform takes no part in ==; it must come back with the same
  // values. (Not the same bytes: a version-0 record's identity transform
  // with a -0.0 element is stored as it is, and loads back as the identity.)
  const Bytes stored = storeBuffer(loaded);
  vcFrequencyBuffer again;
  mustLoad([&] { loadBuffer(again, stored); });
  if (loaded == loaded) require(again == loaded, "a stored buffer loads equal");
  const vcXform<2> was = loaded.xforms().linearXform().xform(), is = again.xforms().linearXform().xform();
  if (was == was) require(is == was, "a stored buffer keeps its transform");

  exercise(loaded);
  return 0;
}

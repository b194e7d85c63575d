// Writes the starting corpora of the fuzz targets: small valid records made by
// the library itself, one file each, under <dir>/<target>/.
//
//   vexfilt-fuzz-corpus fuzz/corpus
//
// Rerun it (and commit the files) when a record format changes.

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "filt/vision/texture.h"
#include "fuzz_support.h"

using namespace vffuzz;
namespace fs = std::filesystem;

namespace {

fs::path gRoot;

void write(const std::string& target, const std::string& name, const Bytes& bytes) {
  const fs::path dir = gRoot / target;
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + (dir / name).string());
}

Bytes prefixed(unsigned char first, const Bytes& rest) {
  Bytes b{first};
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

Bytes objectRecord(vcPersistent& object) {
  vcMemoryArchive ar;
  ar.storeObject(object);
  return ar.bytes();
}

vcPelBuffer<unsigned char> ramp(long w, long h) {
  vcPelBuffer<unsigned char> image(w, h);
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) image.set(x, y, static_cast<unsigned char>(7 * x + 13 * y));
  return image;
}

void buffers() {
  auto put = [](const std::string& name, vcFrequencyBuffer b) { write("buffer_record", name, storeBuffer(b)); };
  put("empty", vcFrequencyBuffer());
  vcFrequencyBuffer one(1, 1);
  one.put(0, 0, vcPair<double>(3.5, -1.0), false);
  put("1x1", one);

  // An image with an offset and a client transform: both travel in the record.
  vcPelBuffer<unsigned char> image = ramp(6, 3);
  image.offset(-2, 5);
  vc2XformCache xforms;
  xforms.xform(vc2XformLinear(vcMatrix<2>(vcRadian(0.3), vcRadian(0.0), 2.0, 0.5), vcVector<2>(3.0, -4.0)));
  image.copyXforms(xforms);
  vcFrequencyBuffer spectrum;
  vfForwardFFT(image, spectrum);
  put("8x4-offset-xform", spectrum);

  // A Gabor filter leaves a row band on the buffer it writes.
  vcFrequencyBuffer square;
  vfForwardFFT(ramp(8, 8), square);
  vcFrequencyFilterGabor({0.05, 0.05}, {0.0, 0.0}, vcRadian(0.5), 0.25, {8, 8}, 0).apply(square);
  put("8x8-masked", square);

  vcFrequencyBuffer inverse = spectrum;
  vcPelBuffer<unsigned char> out;
  vfInverseFFT(inverse, out, false, true);
  put("8x4-inverse-computed", inverse);

  vcFrequencyBuffer wide;
  vfForwardFFT(ramp(13, 7), wide);
  put("4x4-cropped", vcFrequencyBuffer(wide, 4, 4));

  vcPelBuffer<double> re(2, 9), im(2, 9);
  re.set(1, 3, 0.25);
  im.set(0, 8, -1.5);
  vcFrequencyBuffer pair;
  vfForwardFFT(re, im, pair);
  put("2x16-pair", pair);

  // Version 0: a bare vcXform<2> (six doubles) where version 1 has the cache
  // (its version byte, then the same six doubles).
  Bytes v0 = storeBuffer(spectrum);
  v0[0] = 0;
  v0.erase(v0.begin() + 1 + 7 * 8 + 1);
  write("buffer_record", "8x4-version0", v0);
}

void filters() {
  const vcFrequencyFilterBandPass bandPass(0.05, 0.02, 0.25, {16, 8}, 2);
  const vcFrequencyFilterBandReject bandReject(0.1, 0.0, 0.3, {8, 8}, 1);
  const vcFrequencyFilterGabor gabor({0.04, 0.08}, {0.01, 0.0}, vcRadian(0.7), 0.2, {16, 16}, 1);
  const vcFrequencyFilterGaborReject gaborReject({0.06, 0.03}, {0.0, 0.02}, vcRadian(2.0), 0.3, {8, 16}, 2);
  vcFrequencyBuffer kernel;
  vfForwardFFT(ramp(3, 3), kernel);
  const vcFrequencyFilterImage imageFilter(kernel);

  int index = 0;
  auto put = [&](const std::string& name, auto built) {
    using F = decltype(built);
    Open<F> open, empty;
    static_cast<F&>(open) = built;
    const unsigned char selector = static_cast<unsigned char>(index++);
    write("filter_record", name, prefixed(selector, store(open)));
    write("filter_record", name + "-empty", prefixed(selector, store(empty)));
    F plainEmpty;  // storeObject records the object's own (registered) class
    write("load_object", name, objectRecord(built));
    write("load_object", name + "-empty", objectRecord(plainEmpty));
  };
  // In the order the first byte selects them.
  put("bandpass", bandPass);
  put("bandreject", bandReject);
  put("gabor", gabor);
  put("gaborreject", gaborReject);
  put("image", imageFilter);
}

void errors() {
  int index = 0;
  auto put = [&](const std::string& name, auto exemplar) {
    using E = decltype(exemplar);
    Open<E> withText("Size must be a power of 2."), noText;
    E plainWithText("Size must be a power of 2."), plainNoText;
    const unsigned char selector = static_cast<unsigned char>(index++);
    write("error_record", name, prefixed(selector, store(withText)));
    write("error_record", name + "-notext", prefixed(selector, store(noText)));
    write("load_object", "error-" + name, objectRecord(plainWithText));
    write("load_object", "error-" + name + "-notext", objectRecord(plainNoText));
  };
  put("invalidargument", Defs::InvalidArgument());
  put("uninitialized", Defs::Uninitialized());
  put("invalidsize", Defs::InvalidSize());
  put("unboundwindow", Defs::UnboundWindow());
  put("invalidbuffer", Defs::InvalidBuffer());
  put("badcoord", Defs::BadCoord());
}

// Texture records, the first byte 0 for a bank, 1 for a model.
void textures() {
  auto put = [](const std::string& name, unsigned char selector, auto object) {
    vcMemoryArchive ar;
    ar || object;
    write("texture_record", name, prefixed(selector, ar.bytes()));
  };
  const vcGaborBank bank({0.12, 0.24}, 4);
  vcGaborBank sigmas({0.1}, 3, std::vector<vcPair<double>>{{0.03, 0.05}});
  sigmas.support(3.0);
  sigmas.oversample(4);
  put("bank", 0, bank);
  put("bank-sigmas", 0, sigmas);
  put("bank-empty", 0, vcGaborBank());

  vcPelBuffer<double> weave(48, 40);
  for (long y = 0; y < 40; ++y)
    for (long x = 0; x < 48; ++x)
      weave.set(x, y, std::sin(0.75 * x + 0.2 * y) + std::cos(0.3 * x - 1.4 * y) + 0.1 * ((x * 7 + y * 3) % 5));
  const std::vector<vcPelBuffer_const<double>> training{weave};
  vcTextureModel perFilter(bank, 0.02, 2, 8);
  perFilter.train(training);
  vcTextureModel invariant(bank, 0.05, 4, 8, 0.5, vcTextureModel::Features::invariant);
  invariant.train(training);
  vcTextureModel sharp(bank, 0.05, 4, 8, 0.0, vcTextureModel::Features::invariantSharp);
  sharp.train(training);
  put("model-empty", 1, vcTextureModel());
  put("model-untrained", 1, vcTextureModel(sigmas, 0.1));
  put("model-filters", 1, perFilter);
  put("model-invariant", 1, invariant);
  put("model-invariant-sharp", 1, sharp);
}

// Parameter inputs: one per entry point, every parameter at its typical value
// (a mode byte of 0) and the images' sizes and patterns from zero bytes.
void visionParams() {
  static const char* const kNames[] = {"texture", "model", "frames", "correlation", "similarity", "windows", "edges"};
  for (unsigned char k = 0; k < 7; ++k) {
    Bytes b(96, 0);
    b[0] = k;
    write("vision_params", kNames[k], b);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " <corpus directory>\n";
    return 2;
  }
  gRoot = argv[1];
  buffers();
  filters();
  errors();
  textures();
  visionParams();
  return 0;
}

// Fuzz target: the Gabor bank's and the texture model's records, read through
// their operator|| (they are not in the persistence registry). Bit 0 of the
// first byte picks the model (1) or the bank (0); the rest of the input is the
// record. A record that loads stores back to one that loads into an equal
// object and stores to the same bytes again; a loaded bank, and a loaded
// trained model, then run on a small image, catching only the library's own
// errors (a bank may ask for frequencies the image cannot hold).

#include "filt/vision/texture.h"
#include "fuzz_support.h"

using namespace vffuzz;

namespace {

template <class T>
Bytes storeRecord(T& object) {
  vcMemoryArchive ar;
  ar || object;
  return ar.bytes();
}

template <class T>
void requireStableRecord(T& loaded) {
  const Bytes first = storeRecord(loaded);
  vcMemoryArchive in(first);
  T again;
  in || again;
  require(in.position() == first.size(), "a stored record is read to its end");
  require(again == loaded, "a stored record loads into an equal object");
  require(storeRecord(again) == first, "a reloaded object stores the same bytes");
}

vcPelBuffer<unsigned char> smallImage() {
  vcPelBuffer<unsigned char> image(24, 20);
  for (long y = 0; y < 20; ++y)
    for (long x = 0; x < 24; ++x) image.set(x, y, static_cast<unsigned char>((x * 37 + y * 11) % 251));
  return image;
}

}  // namespace

// Loads T from the record; on success checks the stored record and runs the
// object on a small image, catching only the library's own errors.
template <class T, class Run>
void loadAndRun(vcMemoryArchive& ar, Run run) {
  T object;
  try {
    ar || object;
  } catch (const vcException&) {
    require(object == T(), "a failed load leaves the target as it was");
    return;
  }
  requireStableRecord(object);
  try {
    run(object, smallImage());
  } catch (const vcFrequencyDefs::Errors&) {
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  vcMemoryArchive ar(Bytes(data + 1, data + size));
  if (data[0] & 1) {
    loadAndRun<vcTextureModel>(ar, [](const vcTextureModel& model, const vcPelBuffer<unsigned char>& image) {
      if (!model.isTrained()) return;
      const vcPelBuffer<unsigned char> flags = model.defects<unsigned char>(image);
      require(flags.width() == image.width() && flags.height() == image.height(), "defects keep the image's size");
    });
  } else {
    loadAndRun<vcGaborBank>(ar, [](const vcGaborBank& bank, const vcPelBuffer<unsigned char>& image) {
      if (bank.filters() == 0) return;
      const vcTextureStack stack = bank.energy<unsigned char>(image, 2);
      require(stack.filters == bank.filters(), "one energy plane per filter");
    });
  }
  return 0;
}

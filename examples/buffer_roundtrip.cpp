// Makes a frequency buffer from a pair of images, writes a few values in
// centered coordinates, stores it in a memory and a file archive and loads it
// back, then shows how the library reports misuse.
//
//   buffer-roundtrip [archive-file]

#include <filt/fft.h>
#include <vexstd/vexstd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// A 100 x 60 test pair: a diagonal ramp as real part, a ripple as imaginary.
void fillPair(vcPelBuffer<double>& re, vcPelBuffer<double>& im) {
  for (long y = 0; y < re.height(); ++y)
    for (long x = 0; x < re.width(); ++x) {
      re.set(x, y, 0.5 * static_cast<double>(x + y));
      im.set(x, y, std::sin(0.3 * static_cast<double>(x)) * std::cos(0.2 * static_cast<double>(y)));
    }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path =
      argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "vexfilt-buffer-roundtrip.bin").string();
  try {
    vcPelBuffer<double> re(100, 60), im(100, 60);
    fillPair(re, im);
    vcFrequencyBuffer buffer(re, im);
    std::printf("made a buffer from a %ldx%ld image pair: padded to %ldx%ld\n", buffer.imageWidth(),
                buffer.imageHeight(), buffer.width(), buffer.height());

    buffer.put(-3, 2, vcPair<double>(0.1, -2.5), true);
    const vcPair<double> v = buffer.get(-3, 2, true);
    std::printf("element (-3, 2) centered = stored (%ld, 2): (%.9g, %.9g)  [0.1 as the nearest float]\n",
                buffer.width() - 3, v.x, v.y);

    vcFrequencyBuffer crop(buffer, 32, 16);
    std::printf("cropped to its low %ldx%ld frequencies: image size now %ldx%ld\n", crop.width(), crop.height(),
                crop.imageWidth(), crop.imageHeight());

    vcMemoryArchive memory;
    memory || buffer;
    vcMemoryArchive memoryIn(memory.bytes());
    vcFrequencyBuffer fromMemory;
    memoryIn || fromMemory;
    std::printf("memory archive: %zu bytes, loaded back %s\n", memory.bytes().size(),
                fromMemory == buffer ? "equal" : "DIFFERENT");

    {
      vcFileArchive file(path, vcFileArchive::Mode::store);
      file || buffer;
      file.close();
    }
    vcFrequencyBuffer fromFile;
    {
      vcFileArchive file(path, vcFileArchive::Mode::load);
      file || fromFile;
    }
    std::printf("file archive %s: %ju bytes, loaded back %s\n", path.c_str(),
                static_cast<std::uintmax_t>(std::filesystem::file_size(path)),
                fromFile == buffer ? "equal" : "DIFFERENT");

    try {
      buffer.get(64, 0, true);
    } catch (const vcFrequencyDefs::Errors& e) {
      std::printf("get(64, 0, centered) on a 128-wide buffer: error 0x%lx \"%s\"\n",
                  static_cast<unsigned long>(e.errorNumber()), e.what());
    }
    return fromMemory == buffer && fromFile == buffer ? 0 : 1;
  } catch (const vcException& e) {
    std::fprintf(stderr, "buffer-roundtrip: %s\n", e.what());
    return 2;
  }
}

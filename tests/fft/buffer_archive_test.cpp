// The frequency buffer's archive record: layout, round trips, old versions, and
// malformed or truncated records.

#include <gtest/gtest.h>

#include <utility>

#include "support/buffer_helpers.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A buffer with every field away from its default.
vcFrequencyBuffer busyBuffer() {
  vcPelBuffer<double> re(5, 3), im(5, 3);
  re.offset(-4, 9);
  im.offset(-4, 9);
  vc2XformCache c;
  c.xform(vc2XformLinear(vcMatrix<2>::fromElements(2, 0.5, -1, 3), vcVector<2>(7, -8)));
  re.copyXforms(c);
  for (long y = 0; y < 3; ++y)
    for (long x = 0; x < 5; ++x) {
      re.set(x, y, x - 0.25 * y);
      im.set(x, y, 1.0 / (1 + x + y));
    }
  return vcFrequencyBuffer(re, im);
}

// The record written item by item in its documented order.
Bytes handWritten(vcFrequencyBuffer& b, unsigned char version) {
  vcMemoryArchive ar;
  long w = b.width(), h = b.height(), iw = b.imageWidth(), ih = b.imageHeight();
  long m = b.masked(), lo = b.maskedMiny(), hi = b.maskedMaxy();
  bool inv = b.inverseComputed(), has = true;
  unsigned char zero = 0;
  ar || version || w || h || iw || ih || m || lo || hi || inv;
  if (version == 0) {
    vcXform<2> x = b.xforms().linearXform().xform();
    ar || x;
  } else {
    vc2XformCache c = b.xforms();
    ar || c;
  }
  long ox = b.offset().x, oy = b.offset().y;
  unsigned long count = 2 * static_cast<unsigned long>(w * h);
  ar || zero || ox || oy || has || zero || count;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      float re = static_cast<float>(b.getReal(x, y, false)), im = static_cast<float>(b.getImaginary(x, y, false));
      ar || re || im;
    }
  return ar.bytes();
}

// Loading `bytes` fails with `E` and leaves a filled target as it was, still usable.
template <class E = vcException>
void expectRefused(const Bytes& bytes) {
  vcFrequencyBuffer target = vftest::indexedBuffer(4, 2);
  const vcFrequencyBuffer before = target;
  vcMemoryArchive ar(bytes);
  EXPECT_THROW(ar || target, E);
  EXPECT_EQ(target, before);
  EXPECT_EQ(target.getReal(3, 1, false), 1003.0);
}

// The text and number of the UnknownVersion that loading raises.
std::pair<std::string, int> versionFailure(const Bytes& bytes) {
  try {
    vftest::load(bytes);
  } catch (const vcArchive::UnknownVersion& e) {
    return {e.text() == nullptr ? "(null)" : e.text(), e.number()};
  }
  return {"(loaded)", 0};
}

}  // namespace

TEST(BufferArchive, LayoutAndRoundTrips) {
  vcFrequencyBuffer b = busyBuffer();
  EXPECT_EQ(vftest::store(b), handWritten(b, 1));
  // Version 1 and version 0 (a bare transform) records load alike.
  for (unsigned char version : {1, 0}) {
    const vcFrequencyBuffer loaded = vftest::load(handWritten(b, version));
    EXPECT_EQ(loaded, b);
    EXPECT_EQ(loaded.offset(), vcPair<long>(-4, 9));
    EXPECT_EQ(loaded.xforms().linearXform(), b.xforms().linearXform());
  }
  // Empty buffers load empty, whatever the target held.
  vcFrequencyBuffer empty, target = busyBuffer();
  vcMemoryArchive in(vftest::store(empty));
  in || target;
  EXPECT_TRUE(target.isEmpty());
  EXPECT_EQ(target, empty);
  // An inverse-computed buffer keeps its state.
  vcFrequencyBuffer inverse = vftest::inverseComputedBuffer(2, 2);
  EXPECT_TRUE(vftest::load(vftest::store(inverse)).inverseComputed());
}

// The buffer's own version byte names its source directory; the pair's and the float
// array's give no text and number 0.
TEST(BufferArchive, UnknownVersions) {
  vcFrequencyBuffer b(4, 2);
  const Bytes good = vftest::store(b);
  Bytes bytes = good;
  bytes[0] = 2;
  const auto [text, number] = versionFailure(bytes);
  EXPECT_EQ(text, "filt/fft");
  EXPECT_GT(number, 0);
  expectRefused(bytes);
  const std::size_t arrayVersion = good.size() - 4 * 16 - 8 - 1, pairVersion = arrayVersion - 1 - 16 - 1;
  for (std::size_t at : {pairVersion, arrayVersion}) {
    bytes = good;
    ASSERT_EQ(bytes[at], 0);
    bytes[at] = 1;
    EXPECT_EQ(versionFailure(bytes), (std::pair<std::string, int>("(null)", 0))) << at;
  }
}

TEST(BufferArchive, MalformedRecordsAreRejectedBeforeAllocating) {
  vcFrequencyBuffer b(4, 2);
  const Bytes good = vftest::store(b);
  const std::size_t countAt = good.size() - 4 * 16 - 8;
  const struct {
    const char* what;
    std::size_t at;
    long value;
  } patches[] = {
      {"width not a power of two", 1, 3}, {"width above 2048", 1, 4096},        {"width zero", 1, 0},
      {"height negative", 9, -2},         {"image wider than padded", 17, 5},   {"image higher than padded", 25, 3},
      {"count off by two", countAt, 14},  {"count of 2^62", countAt, 1L << 62}, {"count all ones", countAt, -1},
  };
  for (const auto& p : patches) {
    SCOPED_TRACE(p.what);
    Bytes bytes = good;
    vftest::putLong(bytes, p.at, p.value);
    expectRefused(bytes);
  }
  // A consistent record claiming a 2048 x 2048 array with no floats behind it
  // fails on the count before allocating 32 MiB.
  Bytes bytes = good;
  vftest::putLong(bytes, 1, 2048);
  vftest::putLong(bytes, 9, 2048);
  vftest::putLong(bytes, countAt, 2L * 2048 * 2048);
  expectRefused<vcArchive::EndOfData>(bytes);
  // Values behind a buffer without data.
  vcFrequencyBuffer empty;
  bytes = vftest::store(empty);
  vftest::putLong(bytes, bytes.size() - 8, 1);
  bytes.resize(bytes.size() + 4, 0);
  expectRefused(bytes);
}

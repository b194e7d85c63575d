// The frequency buffer's archive record: layout, round trips, old versions,
// and malformed or truncated records.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <limits>

#include "support/buffer_helpers.h"

namespace {

// A buffer with every field away from its default.
vcFrequencyBuffer busyBuffer() {
  vcPelBuffer<double> re(5, 3), im(5, 3);
  re.offset(-4, 9);
  im.offset(-4, 9);
  re.copyXforms([] {
    vc2XformCache c;
    c.xform(vc2XformLinear(vcMatrix<2>::fromElements(2, 0.5, -1, 3), vcVector<2>(7, -8)));
    return c;
  }());
  for (long y = 0; y < 3; ++y)
    for (long x = 0; x < 5; ++x) {
      re.set(x, y, x - 0.25 * y);
      im.set(x, y, 1.0 / (1 + x + y));
    }
  return vcFrequencyBuffer(re, im);
}

// The record written item by item in its documented order.
std::vector<unsigned char> handWritten(vcFrequencyBuffer& b, unsigned char version) {
  vcMemoryArchive ar;
  long w = b.width(), h = b.height(), iw = b.imageWidth(), ih = b.imageHeight();
  long m = b.masked(), lo = b.maskedMiny(), hi = b.maskedMaxy();
  bool inv = b.inverseComputed(), has = true;
  unsigned char zero = 0;
  ar || version;
  ar || w || h || iw || ih || m || lo || hi || inv;
  if (version == 0) {
    vcXform<2> x = b.xforms().linearXform().xform();
    ar || x;
  } else {
    vc2XformCache c = b.xforms();
    ar || c;
  }
  long ox = b.offset().x, oy = b.offset().y;
  ar || zero || ox || oy || has || zero;
  unsigned long count = 2 * static_cast<unsigned long>(w * h);
  ar || count;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      float re = static_cast<float>(b.getReal(x, y, false)), im = static_cast<float>(b.getImaginary(x, y, false));
      ar || re || im;
    }
  return ar.bytes();
}

void expectUnchangedAfterFailedLoad(const std::vector<unsigned char>& bytes) {
  vcFrequencyBuffer target = vftest::indexedBuffer(4, 2);
  const vcFrequencyBuffer before = target;
  vcMemoryArchive ar(bytes);
  EXPECT_THROW(ar || target, vcException);
  EXPECT_EQ(target, before);
  EXPECT_EQ(target.getReal(3, 1, false), 1003.0);  // still usable
}

void putLong(std::vector<unsigned char>& bytes, std::size_t at, long v) {
  for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<unsigned char>(static_cast<unsigned long>(v) >> (8 * i));
}

}  // namespace

TEST(BufferArchive, RecordLayoutIsItemByItem) {
  vcFrequencyBuffer b = busyBuffer();
  EXPECT_EQ(vftest::store(b), handWritten(b, 1));
}

TEST(BufferArchive, RoundTripsThroughMemoryAndFile) {
  vcFrequencyBuffer b = busyBuffer();
  vcFrequencyBuffer loaded = vftest::load(vftest::store(b));
  EXPECT_EQ(loaded, b);
  EXPECT_EQ(loaded.offset(), vcPair<long>(-4, 9));
  EXPECT_EQ(loaded.xforms().linearXform(), b.xforms().linearXform());

  const std::string path = (std::filesystem::temp_directory_path() / "vexfilt-buffer-archive-test.bin").string();
  {
    vcFileArchive out(path, vcFileArchive::Mode::store);
    out || b;
    out.close();
  }
  vcFrequencyBuffer fromFile;
  {
    vcFileArchive in(path, vcFileArchive::Mode::load);
    in || fromFile;
  }
  std::remove(path.c_str());
  EXPECT_EQ(fromFile, b);

  // Empty buffers load empty, whatever the target held.
  vcFrequencyBuffer empty, target = busyBuffer();
  std::vector<unsigned char> emptyBytes = vftest::store(empty);
  vcMemoryArchive in(emptyBytes);
  in || target;
  EXPECT_TRUE(target.isEmpty());
  EXPECT_EQ(target, empty);

  // An inverse-computed buffer keeps its state.
  vcFrequencyBuffer inverse = vftest::inverseComputedBuffer(2, 2);
  EXPECT_TRUE(vftest::load(vftest::store(inverse)).inverseComputed());
}

TEST(BufferArchive, VersionZeroRecordsHoldABareTransform) {
  vcFrequencyBuffer b = busyBuffer();
  vcFrequencyBuffer loaded = vftest::load(handWritten(b, 0));
  EXPECT_EQ(loaded, b);
  EXPECT_EQ(loaded.xforms().linearXform(), b.xforms().linearXform());
}

TEST(BufferArchive, UnknownVersions) {
  vcFrequencyBuffer b(4, 2);
  const std::vector<unsigned char> good = vftest::store(b);
  std::vector<unsigned char> bytes = good;
  bytes[0] = 2;
  try {
    vftest::load(bytes);
    FAIL();
  } catch (const vcArchive::UnknownVersion& e) {
    EXPECT_STREQ(e.text(), "filt/fft");
    EXPECT_GT(e.number(), 0);
  }
  expectUnchangedAfterFailedLoad(bytes);

  // The pair's and the float array's version bytes: no text, number 0.
  const std::size_t pairVersion = good.size() - 4 * 16 - 8 - 1 - 1 - 16 - 1;
  const std::size_t arrayVersion = good.size() - 4 * 16 - 8 - 1;
  for (std::size_t at : {pairVersion, arrayVersion}) {
    bytes = good;
    ASSERT_EQ(bytes[at], 0);
    bytes[at] = 1;
    try {
      vftest::load(bytes);
      FAIL() << at;
    } catch (const vcArchive::UnknownVersion& e) {
      EXPECT_EQ(e.text(), nullptr);
      EXPECT_EQ(e.number(), 0);
    }
  }
}

TEST(BufferArchive, EveryTruncationFailsCleanly) {
  vcFrequencyBuffer filled = busyBuffer(), empty;
  for (vcFrequencyBuffer* b : {&filled, &empty}) {
    const std::vector<unsigned char> bytes = vftest::store(*b);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
      const std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
      vcFrequencyBuffer target = vftest::indexedBuffer(4, 2);
      const vcFrequencyBuffer before = target;
      vcMemoryArchive ar(cut);
      EXPECT_THROW(ar || target, vcArchive::EndOfData) << n;
      ASSERT_EQ(target, before) << n;
    }
  }
}

TEST(BufferArchive, MalformedRecordsAreRejectedBeforeAllocating) {
  vcFrequencyBuffer b(4, 2);
  const std::vector<unsigned char> good = vftest::store(b);
  const std::size_t countAt = good.size() - 4 * 16 - 8;
  struct Patch {
    const char* what;
    std::size_t at;
    long value;
  };
  const Patch patches[] = {
      {"width not a power of two", 1, 3},
      {"width above 2048", 1, 4096},
      {"width zero", 1, 0},
      {"height negative", 9, -2},
      {"image wider than padded", 17, 5},
      {"image higher than padded", 25, 3},
      {"count off by two", countAt, 14},
      {"count of 2^62", countAt, 1L << 62},
      {"count all ones", countAt, -1},
  };
  for (const Patch& p : patches) {
    SCOPED_TRACE(p.what);
    std::vector<unsigned char> bytes = good;
    putLong(bytes, p.at, p.value);
    expectUnchangedAfterFailedLoad(bytes);
  }
  // A consistent record claiming a 2048 x 2048 array with no floats behind
  // it fails on the count before allocating 32 MiB.
  std::vector<unsigned char> bytes = good;
  putLong(bytes, 1, 2048);
  putLong(bytes, 9, 2048);
  putLong(bytes, countAt, 2L * 2048 * 2048);
  {
    vcMemoryArchive ar(bytes);
    vcFrequencyBuffer target;
    EXPECT_THROW(ar || target, vcArchive::EndOfData);
  }
  // Values behind a buffer without data.
  vcFrequencyBuffer empty;
  bytes = vftest::store(empty);
  bytes.resize(bytes.size() - 8);
  for (int i = 0; i < 8; ++i) bytes.push_back(i == 0 ? 1 : 0);
  for (int i = 0; i < 4; ++i) bytes.push_back(0);
  expectUnchangedAfterFailedLoad(bytes);
}

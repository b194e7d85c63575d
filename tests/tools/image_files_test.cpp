// The demo's image files: PGM and PNG round trips, conversion of other PNG
// kinds to grey, and refusal of malformed files without crashing or
// allocating what a header claims.

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "demo_support.h"
#include "errors.h"
#include "pgm.h"
#include "png_codec.h"

using namespace std::string_literals;

namespace {

using demo::GreyImage;
using demo::InputError;
using Bytes = std::vector<unsigned char>;

Bytes bytesOf(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// Every value class that matters: the extremes, byte boundaries, a ramp.
GreyImage testImage(int depth) {
  GreyImage image(7, 5, depth);
  const std::uint16_t max = depth == 8 ? 255 : 65535;
  for (std::size_t i = 0; i < image.samples.size(); ++i)
    image.samples[i] = static_cast<std::uint16_t>((i * 9973u) % (max + 1u));
  image.samples[0] = 0;
  image.samples[1] = max;
  if (depth == 16) image.samples[2] = 256;  // the high byte alone
  return image;
}

void expectSameImage(const GreyImage& a, const GreyImage& b) {
  EXPECT_EQ(std::tuple(a.width, a.height, a.depth), std::tuple(b.width, b.height, b.depth));
  EXPECT_EQ(a.samples, b.samples);
}

// The message of the InputError that decoding throws ("" when none is).
template <class Decode>
std::string inputError(Decode decode, const Bytes& bytes) {
  try {
    decode(bytes);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

TEST(Pgm, ReadsCommentsAndKeepsSamplesBelowAnyMaxval) {
  const GreyImage small = demo::decodePgm(bytesOf("P5 # made by hand\n3\t2 # size\n15\n\x00\x01\x0f\x02\x03\x04"s));
  EXPECT_EQ(small.depth, 8);
  EXPECT_EQ(small.samples, (std::vector<std::uint16_t>{0, 1, 15, 2, 3, 4}));

  const GreyImage tenBit = demo::decodePgm(bytesOf("P5\n2 1\n1023\n\x03\xff\x01\x00trailing"s));
  EXPECT_EQ(tenBit.depth, 16);
  EXPECT_EQ(tenBit.samples, (std::vector<std::uint16_t>{1023, 256}));
}

TEST(Pgm, RefusesMalformedFilesBeforeAllocating) {
  struct Case {
    std::string bytes, message;
  };
  const std::vector<Case> cases = {
      {"", "not a binary PGM"},
      {"P2\n1 1\n255\n7", "not a binary PGM"},
      {"P5\n-3 2\n255\n", "width is not a number"},
      {"P5\n99999999999999999999 2\n255\n", "width is larger than 8192"},
      {"P5\n8193 1\n255\n", "width is larger than 8192"},
      {"P5\n4 0\n255\n", "empty"},
      {"P5\n4 4\n0\n", "maxval 0"},
      {"P5\n4 4\n70000\n", "maxval is larger than 65535"},
      {"P5\n4 4", "header ends before the maxval"},
      {"P5\n1 1\n255", "no whitespace after maxval"},
      {"P5\n4 4\n255\n0123456789", "truncated: 10 of 16 bytes"},
      {"P5\n2 1\n300\n\x01\x2c\x01\x2d"s, "sample 301 above maxval 300"},
      // Claims 8192 x 8192 16-bit samples (128 MiB) with none there.
      {"P5\n8192 8192\n65535\n\x01\x02", "truncated: 2 of 134217728 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_NE(inputError(demo::decodePgm, bytesOf(c.bytes)).find(c.message), std::string::npos)
        << inputError(demo::decodePgm, bytesOf(c.bytes));
  }
}

TEST(ImageFiles, PgmAndPngRoundTripEightAndSixteenBitImages) {
  for (int depth : {8, 16}) {
    SCOPED_TRACE(depth);
    expectSameImage(demo::decodePgm(demo::encodePgm(testImage(depth))), testImage(depth));
    expectSameImage(demo::decodePng(demo::encodePng(testImage(depth))), testImage(depth));
  }
}

// Another program's PNG of the given format (libpng's simplified writer).
Bytes foreignPng(png_uint_32 format, png_uint_32 width, const Bytes& pixels) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = 1;
  image.format = format;
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr));
  Bytes bytes(size);
  EXPECT_TRUE(png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr));
  return bytes;
}

// A linear-light value encoded as sRGB, in 8 bits.
double srgb(double linear) {
  return 255.0 * (1.055 * std::pow(linear, 1.0 / 2.4) - 0.055);
}

TEST(Png, ConvertsColourAndAlphaToGrey) {
  // Grey pixels stay exact; pure red, green and blue give their luminance
  // (this writer marks its files sRGB, so libpng converts in linear light).
  const GreyImage rgb = demo::decodePng(foreignPng(PNG_FORMAT_RGB, 4, {90, 90, 90, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
  ASSERT_EQ(rgb.depth, 8);
  EXPECT_EQ(rgb.samples[0], 90);
  EXPECT_NEAR(rgb.samples[1], srgb(0.2126), 2);
  EXPECT_NEAR(rgb.samples[2], srgb(0.7152), 2);
  EXPECT_NEAR(rgb.samples[3], srgb(0.0722), 2);

  const GreyImage greyAlpha = demo::decodePng(foreignPng(PNG_FORMAT_GA, 2, {17, 255, 200, 0}));
  EXPECT_EQ(greyAlpha.samples, (std::vector<std::uint16_t>{17, 200}));
}

// A PNG chunk: length, type, data, CRC. (Built without vector::insert,
// which g++ 12 warns about wrongly here.)
Bytes chunk(const char* type, const Bytes& data) {
  Bytes c(12 + data.size(), 0);
  c[3] = static_cast<unsigned char>(data.size());
  std::copy(type, type + 4, c.begin() + 4);
  std::copy(data.begin(), data.end(), c.begin() + 8);
  const uLong crc = crc32(0, c.data() + 4, static_cast<uInt>(4 + data.size()));
  for (int i = 0; i < 4; ++i)
    c[8 + data.size() + static_cast<std::size_t>(i)] = static_cast<unsigned char>(crc >> (24 - 8 * i));
  return c;
}

TEST(Png, RefusesCorruptAndHugeFiles) {
  const Bytes good = demo::encodePng(testImage(8));
  const Bytes truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
  Bytes flipped = good;
  flipped[good.size() - 20] ^= 0x40;  // inside the image data: a CRC error
  const Bytes signature(good.begin(), good.begin() + 8);
  Bytes garbage(48, 0xAB);
  std::copy(signature.begin(), signature.end(), garbage.begin());

  // A valid header for 100000 x 100000 pixels: refused before any allocation.
  Bytes huge = signature;
  for (unsigned char b : chunk("IHDR", {0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0, 8, 0, 0, 0, 0})) huge.push_back(b);

  const std::pair<const char*, const Bytes*> cases[] = {{"truncated", &truncated},
                                                        {"flipped", &flipped},
                                                        {"signature", &signature},
                                                        {"garbage", &garbage},
                                                        {"huge", &huge}};
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    EXPECT_NE(inputError(demo::decodePng, *bytes).find("PNG: "), std::string::npos);
  }
  EXPECT_NE(inputError(demo::decodePng, huge).find("IHDR"), std::string::npos) << inputError(demo::decodePng, huge);
}

TEST(ImageFile, ReadsEitherFormatAndNamesTheFileOnFailure) {
  const auto dir = demotest::scratchDir("image_file");
  demo::writeImageFile(dir / "a.pgm", testImage(16));
  demo::writeImageFile(dir / "a.png", testImage(16));
  expectSameImage(demo::readImageFile(dir / "a.pgm"), testImage(16));
  expectSameImage(demo::readImageFile(dir / "a.png"), testImage(16));

  std::ofstream(dir / "empty.pgm").close();
  std::ofstream(dir / "text.png") << "hello";
  std::ofstream(dir / "ascii.pgm") << "P2\n1 1\n255\n7\n";
  for (const char* name : {"missing.png", "empty.pgm", "text.png", "ascii.pgm", "."}) {
    const auto path = dir / name;
    try {
      demo::readImageFile(path);
      ADD_FAILURE() << name << " was read";
    } catch (const InputError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(path.string() + ": ", 0), 0u) << e.what();
    }
  }
}

}  // namespace

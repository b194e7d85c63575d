// libpng reports errors by longjmp. Every setjmp here sits in a function
// whose frame, and every frame a longjmp can skip, holds only trivially
// destructible objects; C++ objects live in the callers.

#include "png_codec.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include "errors.h"

namespace demo {
namespace {

struct ErrorText {
  char text[200] = "";
};

void onError(png_structp png, png_const_charp message) {
  auto* error = static_cast<ErrorText*>(png_get_error_ptr(png));
  std::snprintf(error->text, sizeof error->text, "%s", message);
  png_longjmp(png, 1);  // never back into libpng's default handler, which prints
}

void onWarning(png_structp, png_const_charp) {}

// ---- reading ----

struct Source {
  const unsigned char* data;
  std::size_t size;
  std::size_t pos;
};

void readBytes(png_structp png, png_bytep out, png_size_t n) {
  auto* s = static_cast<Source*>(png_get_io_ptr(png));
  if (n > s->size - s->pos) png_error(png, "file truncated");
  std::memcpy(out, s->data + s->pos, n);
  s->pos += n;
}

struct Header {
  png_uint_32 width, height;
  int depth, channels;
};

// Reads the header and sets up the conversion to one grey channel.
bool readHeader(png_structp png, png_infop info, Header* h) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  const int colour = png_get_color_type(png, info);
  if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colour == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8) png_set_expand_gray_1_2_4_to_8(png);
  png_set_strip_alpha(png);
  if ((colour & PNG_COLOR_MASK_COLOR) != 0) png_set_rgb_to_gray_fixed(png, 1, -1, -1);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  h->width = png_get_image_width(png, info);
  h->height = png_get_image_height(png, info);
  h->depth = png_get_bit_depth(png, info);
  h->channels = png_get_channels(png, info);
  return true;
}

bool readRows(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, info);
  return true;
}

class ReadStruct {
 public:
  explicit ReadStruct(ErrorText& error) {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, onError, onWarning);
    if (png_) info_ = png_create_info_struct(png_);
  }
  ~ReadStruct() { png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr); }
  ReadStruct(const ReadStruct&) = delete;
  ReadStruct& operator=(const ReadStruct&) = delete;
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

// ---- writing ----

struct Sink {
  std::vector<unsigned char>* bytes;
};

void writeBytes(png_structp png, png_bytep data, png_size_t n) {
  auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
  bool failed = false;
  try {
    sink->bytes->insert(sink->bytes->end(), data, data + n);
  } catch (...) {
    failed = true;  // no C++ exception may cross libpng's frames
  }
  if (failed) png_error(png, "out of memory");
}

void flushBytes(png_structp) {}

bool writeImage(png_structp png, png_infop info, const Header* h, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, h->width, h->height, h->depth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

class WriteStruct {
 public:
  explicit WriteStruct(ErrorText& error) {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, onError, onWarning);
    if (png_) info_ = png_create_info_struct(png_);
  }
  ~WriteStruct() { png_destroy_write_struct(&png_, info_ ? &info_ : nullptr); }
  WriteStruct(const WriteStruct&) = delete;
  WriteStruct& operator=(const WriteStruct&) = delete;
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

}  // namespace

GreyImage decodePng(const std::vector<unsigned char>& bytes) {
  if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) throw InputError("not a PNG file");
  ErrorText error;
  ReadStruct s(error);
  if (!s.info()) throw InputError("PNG: libpng could not start");
  Source source{bytes.data(), bytes.size(), 0};
  png_set_read_fn(s.png(), &source, readBytes);
  png_set_user_limits(s.png(), kMaxImageSide, kMaxImageSide);

  Header h{};
  if (!readHeader(s.png(), s.info(), &h)) throw InputError(std::string("PNG: ") + error.text);
  if (h.channels != 1 || (h.depth != 8 && h.depth != 16))
    throw InputError("PNG: cannot convert this image to 8- or 16-bit grey");

  const long width = static_cast<long>(h.width), height = static_cast<long>(h.height);
  const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(h.depth / 8);
  std::vector<unsigned char> pixels(rowBytes * static_cast<std::size_t>(height));
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (long y = 0; y < height; ++y)
    rows[static_cast<std::size_t>(y)] = pixels.data() + rowBytes * static_cast<std::size_t>(y);
  if (!readRows(s.png(), s.info(), rows.data())) throw InputError(std::string("PNG: ") + error.text);

  GreyImage image(width, height, h.depth);
  for (std::size_t i = 0; i < image.samples.size(); ++i)
    image.samples[i] = h.depth == 8 ? pixels[i] : static_cast<std::uint16_t>((pixels[2 * i] << 8) | pixels[2 * i + 1]);
  return image;
}

std::vector<unsigned char> encodePng(const GreyImage& image) {
  const int depth = image.depth > 8 ? 16 : 8;
  const std::size_t rowBytes = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(depth / 8);
  std::vector<unsigned char> pixels(rowBytes * static_cast<std::size_t>(image.height));
  for (std::size_t i = 0; i < image.samples.size(); ++i) {
    if (depth == 8) {
      pixels[i] = static_cast<unsigned char>(image.samples[i]);
    } else {
      pixels[2 * i] = static_cast<unsigned char>(image.samples[i] >> 8);
      pixels[2 * i + 1] = static_cast<unsigned char>(image.samples[i] & 0xff);
    }
  }
  std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
  for (long y = 0; y < image.height; ++y)
    rows[static_cast<std::size_t>(y)] = pixels.data() + rowBytes * static_cast<std::size_t>(y);

  std::vector<unsigned char> bytes;
  ErrorText error;
  WriteStruct s(error);
  if (!s.info()) throw RunError("PNG: libpng could not start");
  Sink sink{&bytes};
  png_set_write_fn(s.png(), &sink, writeBytes, flushBytes);
  const Header h{static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), depth, 1};
  if (!writeImage(s.png(), s.info(), &h, rows.data())) throw RunError(std::string("PNG: ") + error.text);
  return bytes;
}

}  // namespace demo

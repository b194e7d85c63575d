#include "pgm.h"

#include <string>

#include "errors.h"

namespace demo {
namespace {

bool isSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads the header's numbers; `pos` ends just after the last one.
class HeaderReader {
 public:
  explicit HeaderReader(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}

  // Skips whitespace and comments, then reads one decimal number. Values
  // above `max` are refused as soon as they pass it (no overflow).
  long number(const char* what, long max) {
    skipSpaceAndComments();
    if (pos_ >= bytes_.size()) fail(std::string("header ends before the ") + what);
    if (!isDigit(bytes_[pos_])) fail(std::string("the ") + what + " is not a number");
    long v = 0;
    while (pos_ < bytes_.size() && isDigit(bytes_[pos_])) {
      v = v * 10 + (bytes_[pos_++] - '0');
      if (v > max) fail(std::string("the ") + what + " is larger than " + std::to_string(max));
    }
    return v;
  }

  std::size_t position() const { return pos_; }

 private:
  static bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

  void skipSpaceAndComments() {
    while (pos_ < bytes_.size()) {
      if (isSpace(bytes_[pos_])) {
        ++pos_;
      } else if (bytes_[pos_] == '#') {
        while (pos_ < bytes_.size() && bytes_[pos_] != '\n' && bytes_[pos_] != '\r') ++pos_;
      } else {
        break;
      }
    }
  }

  [[noreturn]] static void fail(const std::string& what) { throw InputError("PGM header: " + what); }

  const std::vector<unsigned char>& bytes_;
  std::size_t pos_ = 2;  // after the magic number
};

}  // namespace

GreyImage decodePgm(const std::vector<unsigned char>& bytes) {
  if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '5') throw InputError("not a binary PGM (P5) file");
  HeaderReader header(bytes);
  const long width = header.number("width", kMaxImageSide);
  const long height = header.number("height", kMaxImageSide);
  const long maxval = header.number("maxval", 65535);
  if (width < 1 || height < 1) throw InputError("PGM header: the image is empty");
  if (maxval < 1) throw InputError("PGM header: maxval 0");
  std::size_t pos = header.position();
  if (pos >= bytes.size() || !isSpace(bytes[pos])) throw InputError("PGM header: no whitespace after maxval");
  ++pos;

  const std::size_t bytesPerSample = maxval < 256 ? 1 : 2;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (bytes.size() - pos < count * bytesPerSample)
    throw InputError("PGM data truncated: " + std::to_string(bytes.size() - pos) + " of " +
                     std::to_string(count * bytesPerSample) + " bytes");

  GreyImage image(width, height, bytesPerSample == 1 ? 8 : 16);
  const unsigned char* p = bytes.data() + pos;
  for (std::size_t i = 0; i < count; ++i, p += bytesPerSample) {
    const long v = bytesPerSample == 1 ? p[0] : (p[0] << 8) | p[1];
    if (v > maxval) throw InputError("PGM sample " + std::to_string(v) + " above maxval " + std::to_string(maxval));
    image.samples[i] = static_cast<std::uint16_t>(v);
  }
  return image;
}

std::vector<unsigned char> encodePgm(const GreyImage& image) {
  const bool wide = image.depth > 8;
  const std::string header = "P5\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n" +
                             (wide ? "65535" : "255") + "\n";
  std::vector<unsigned char> bytes(header.begin(), header.end());
  bytes.reserve(bytes.size() + image.samples.size() * (wide ? 2 : 1));
  for (std::uint16_t v : image.samples) {
    if (wide) bytes.push_back(static_cast<unsigned char>(v >> 8));
    bytes.push_back(static_cast<unsigned char>(v & 0xff));
  }
  return bytes;
}

}  // namespace demo

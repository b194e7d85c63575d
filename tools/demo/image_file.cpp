#include "image_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "errors.h"
#include "pgm.h"
#include "png_codec.h"

namespace demo {
namespace {

// Larger than any image the readers accept (a 16-bit PGM of kMaxImageSide
// squared), so no valid file is refused and no huge file is slurped.
constexpr std::uintmax_t kMaxFileBytes = 2 * kMaxImageSide * kMaxImageSide + 4096;

std::vector<unsigned char> readBytes(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw InputError("is a directory");
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) throw InputError(ec.message());
  if (size > kMaxFileBytes) throw InputError("file too large for an image of at most 8192 x 8192 pixels");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(std::strerror(errno));
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) throw InputError("read failed");
  return bytes;
}

GreyImage decode(const std::vector<unsigned char>& bytes) {
  if (bytes.size() >= 8 && bytes[0] == 0x89 && bytes[1] == 'P' && bytes[2] == 'N' && bytes[3] == 'G')
    return decodePng(bytes);
  if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] == '5') return decodePgm(bytes);
  if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7')
    throw InputError(std::string("Netpbm P") + static_cast<char>(bytes[1]) + " is not supported: use binary PGM (P5)");
  if (bytes.empty()) throw InputError("empty file");
  throw InputError("not a PNG or PGM file");
}

}  // namespace

GreyImage readImageFile(const std::filesystem::path& path) {
  try {
    return decode(readBytes(path));
  } catch (const InputError& e) {
    throw InputError(path.string() + ": " + e.what());
  }
}

void writeImageFile(const std::filesystem::path& path, const GreyImage& image) {
  const std::vector<unsigned char> bytes = path.extension() == ".pgm" ? encodePgm(image) : encodePng(image);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw RunError("cannot write " + path.string());
}

}  // namespace demo

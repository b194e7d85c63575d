// Binary PGM (P5) with 8- or 16-bit samples, in memory.
#pragma once

#include <vector>

#include "grey_image.h"

namespace demo {

// Decodes a P5 file: "P5", width, height and maxval as decimal numbers
// separated by whitespace and '#' comments, one whitespace byte, then the
// samples (one byte each for maxval < 256, else two, most significant
// first). Samples keep their values; maxval < 256 gives an 8-bit image,
// larger a 16-bit one. Bytes after the image are ignored. Throws InputError
// for anything else -- a malformed header, sizes outside 1..kMaxImageSide,
// maxval outside 1..65535, too few samples, a sample above maxval -- before
// allocating for the image.
GreyImage decodePgm(const std::vector<unsigned char>& bytes);

// Encodes with maxval 255 (8-bit) or 65535 (16-bit).
std::vector<unsigned char> encodePgm(const GreyImage& image);

}  // namespace demo

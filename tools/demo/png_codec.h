// PNG through libpng, in memory.
#pragma once

#include <vector>

#include "grey_image.h"

namespace demo {

// Decodes a PNG of any kind to grey: 8- and 16-bit grey images keep their
// samples; grey below 8 bits is expanded to 8, colour is converted to grey
// (the PNG weights), alpha is dropped; no gamma correction is applied.
// Throws InputError for a corrupt or truncated file and for images larger
// than kMaxImageSide a side (refused by libpng before it allocates).
GreyImage decodePng(const std::vector<unsigned char>& bytes);

// Encodes an 8- or 16-bit grey PNG. Throws RunError when libpng fails.
std::vector<unsigned char> encodePng(const GreyImage& image);

}  // namespace demo

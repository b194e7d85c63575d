// Image files: the format is told by the file's first bytes on reading and by
// the name's extension on writing.
#pragma once

#include <filesystem>

#include "grey_image.h"

namespace demo {

// Reads a PNG or binary PGM file. Throws InputError (naming the file) when it
// cannot be opened, is neither format, or is malformed.
GreyImage readImageFile(const std::filesystem::path& path);

// Writes `.pgm` as PGM, anything else as PNG; throws RunError on failure.
void writeImageFile(const std::filesystem::path& path, const GreyImage& image);

}  // namespace demo

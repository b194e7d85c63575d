// The demo's run: forward transform, filter, inverse transform, and the
// pictures of each step.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <filt/freqfilt.h>

#include "args.h"
#include "grey_image.h"

namespace demo {

// The filter a command line asks for, as the library's filter objects. One
// filter, or two for --mirror: the Gabor passes are added (each keeps only
// its own patch), the Gabor-reject passes are applied one after the other.
struct FilterSet {
  std::vector<std::unique_ptr<vcFrequencyFilter>> filters;
  bool addPasses = false;
};

// Builds the filters for spectra of the padded size `size`. Library errors
// (parameters out of range) come out as RunError naming the filter.
FilterSet makeFilters(const Options& options, const vcPair<long>& size);

// The filtered copy of `spectrum`; it keeps the spectrum's image size,
// offset and transform, so the inverse gives an image like the input.
vcFrequencyBuffer applyFilters(const FilterSet& set, const vcFrequencyBuffer& spectrum);

struct Picture {
  std::string name;  // file name, e.g. "spectrum.png"
  GreyImage image;
};

// Runs the whole chain on `input` and returns the pictures in the order of
// --help. Throws RunError (with the step that failed) for library errors.
std::vector<Picture> runPipeline(const Options& options, const GreyImage& input);

// One line on a library exception: its message, or its error number when it
// has none.
std::string describe(const vcException& e);

}  // namespace demo

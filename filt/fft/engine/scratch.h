// Scratch array of a non-square transform.
#pragma once

#include "large_array.h"

#include <optional>

// Holds the transposed array between the two passes when width != height and both
// exceed 1 and the second pass works on transposed rows (`needed`); otherwise it is
// empty and data() is null. The storage is a large temporary (large_array.h: 16-byte
// aligned, in huge pages where it is large), owned here, so it is released on every
// path out of the call, including when the attention poll throws.
class vc_Scratch {
 public:
  vc_Scratch(long width, long height, bool needed = true) {
    if (needed && width != height && width > 1 && height > 1) {
      storage_.emplace(2 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    }
  }

  float* data() const { return storage_ ? storage_->data() : nullptr; }

 private:
  std::optional<vc_LargeFloats> storage_;
};

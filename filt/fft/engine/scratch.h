// Scratch array of a non-square transform.
#pragma once

#include <cstddef>
#include <memory>

// Holds the transposed array between the two passes when width != height and both
// exceed 1 and the second pass works on transposed rows (`needed`); otherwise it is
// empty and data() is null. Like a buffer's own storage it
// has 7 spare floats and is used from its first 16-byte aligned address. The memory
// is owned here, so it is released on every path out of the call, including when the
// attention poll throws.
class vc_Scratch {
 public:
  vc_Scratch(long width, long height, bool needed = true) {
    if (needed && width != height && width > 1 && height > 1) {
      const std::size_t used = 2 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
      std::size_t space = (used + 7) * sizeof(float);
      storage_ = std::make_unique_for_overwrite<float[]>(used + 7);
      void* p = storage_.get();
      data_ = static_cast<float*>(std::align(16, used * sizeof(float), p, space));
    }
  }

  float* data() const { return data_; }

 private:
  std::unique_ptr<float[]> storage_;
  float* data_ = nullptr;
};

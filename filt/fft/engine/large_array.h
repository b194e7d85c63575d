// Storage of a large temporary float array that lives for one call.
//
// A temporary of many MiB is mapped afresh by the C library on every call (glibc
// maps anything above 32 MiB from the system and returns it on free), and the first
// touch of each of its 4 KiB pages then costs a page fault: 8,192 of them for the
// 32 MiB copy of a 2048 x 2048 spectrum. Where the system offers transparent huge
// pages on request (Linux in `madvise` mode), a block that starts on a 2 MiB boundary
// and is advised with MADV_HUGEPAGE takes one fault per 2 MiB instead. The advice is
// a hint: where it is refused, or where <sys/mman.h> does not exist, the block is
// plain aligned memory and everything works the same, only with more faults.
//
// Small arrays (below kHugeArrayBytes) take plain 64-byte aligned storage: the C
// library reuses such blocks from call to call without new faults.
//
// The storage is owned here and released on every path out of the call, including
// when an attention poll throws. Allocation failure throws std::bad_alloc, as for any
// other temporary.
#pragma once

#include <cstddef>
#include <new>

#if defined(__has_include)
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif
#endif

// Blocks from this size up are aligned to, and sized in, whole huge pages.
inline constexpr std::size_t kHugeArrayBytes = std::size_t{2} << 20;

class vc_LargeFloats {
 public:
  // Uninitialised storage for `count` floats, 64-byte aligned at least.
  explicit vc_LargeFloats(std::size_t count) {
    bytes_ = count * sizeof(float);
    if (bytes_ >= kHugeArrayBytes) {
      bytes_ = (bytes_ + kHugeArrayBytes - 1) / kHugeArrayBytes * kHugeArrayBytes;
      align_ = std::align_val_t{kHugeArrayBytes};
    }
    data_ = static_cast<float*>(::operator new(bytes_ == 0 ? 1 : bytes_, align_));
#if defined(MADV_HUGEPAGE)
    if (align_ == std::align_val_t{kHugeArrayBytes}) {
      // Only a hint: on failure (no huge page support) the block stays plain memory.
      static_cast<void>(::madvise(data_, bytes_, MADV_HUGEPAGE));
    }
#endif
  }
  ~vc_LargeFloats() {
    ::operator delete(data_, align_);
  }
  vc_LargeFloats(const vc_LargeFloats&) = delete;
  vc_LargeFloats& operator=(const vc_LargeFloats&) = delete;

  float* data() const {
    return data_;
  }

 private:
  std::size_t bytes_ = 0;
  std::align_val_t align_ = std::align_val_t{64};
  float* data_ = nullptr;
};

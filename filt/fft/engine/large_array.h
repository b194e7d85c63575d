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
// Huge pages also serve the transforms themselves: the column pass walks down rows a
// page or more apart, and with 4 KiB pages a 2048-row column touches more pages than
// the TLB holds; with 2 MiB pages the whole 32 MiB array takes 16 entries (a 2048 x
// 2048 complex transform runs about 8 % faster).
//
// The storage is owned here and released on every path out of the call, including
// when an attention poll throws. Allocation failure throws std::bad_alloc, as for any
// other temporary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#if defined(__has_include)
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif
#endif

// Blocks from this size up are aligned to, and sized in, whole huge pages.
inline constexpr std::size_t kHugeArrayBytes = std::size_t{2} << 20;

// Asks for huge pages for the whole 2 MiB blocks inside [p, p + bytes), for memory
// not touched yet (pages already present stay as they are). Only a hint: nothing
// happens where the system has no such advice or refuses it.
inline void vf_AdviseHugePages([[maybe_unused]] void* p, [[maybe_unused]] std::size_t bytes) {
#if defined(MADV_HUGEPAGE)
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t first = (start + kHugeArrayBytes - 1) / kHugeArrayBytes * kHugeArrayBytes;
  const std::uintptr_t end = (start + bytes) / kHugeArrayBytes * kHugeArrayBytes;
  if (p != nullptr && first < end) {
    static_cast<void>(::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE));
  }
#endif
}

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
    if (align_ == std::align_val_t{kHugeArrayBytes}) {
      vf_AdviseHugePages(data_, bytes_);
    }
  }
  ~vc_LargeFloats() { ::operator delete(data_, align_); }
  vc_LargeFloats(const vc_LargeFloats&) = delete;
  vc_LargeFloats& operator=(const vc_LargeFloats&) = delete;

  float* data() const { return data_; }

 private:
  std::size_t bytes_ = 0;
  std::align_val_t align_ = std::align_val_t{64};
  float* data_ = nullptr;
};

// Storage of a large temporary float array that lives for one call, and huge pages
// for large arrays.
//
// A temporary of many MiB comes fresh from the system on every call (glibc maps
// anything that large afresh and returns it on free), and the first touch of each of
// its 4 KiB pages then costs a page fault: 8,192 of them for the 32 MiB copy of a
// 2048 x 2048 spectrum. Where the system offers transparent huge pages on request
// (Linux in `madvise` mode), a block that starts on a 2 MiB boundary and is advised
// with MADV_HUGEPAGE takes one fault per 2 MiB instead. So a large temporary is
// mapped directly (mmap), 2 MiB aligned and advised. The advice is a hint: where it
// is refused the block is plain memory and everything works the same, only with more
// faults; where <sys/mman.h> does not exist the block comes from aligned operator new.
//
// Small arrays (below kHugeArrayBytes) take plain operator new storage (16-byte
// aligned): the C library reuses such blocks from call to call without new faults.
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

#if defined(MAP_ANONYMOUS) && defined(MAP_FAILED)
#define VEXFILT_DIRECT_MAPPING 1
#else
#define VEXFILT_DIRECT_MAPPING 0
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
  // Uninitialised storage for `count` floats, 16-byte aligned at least.
  explicit vc_LargeFloats(std::size_t count) {
    if (count > SIZE_MAX / sizeof(float) - kHugeArrayBytes) throw std::bad_alloc();
    bytes_ = count * sizeof(float);
    if (bytes_ < kHugeArrayBytes) {
      data_ = static_cast<float*>(::operator new(bytes_ == 0 ? 1 : bytes_));
      return;
    }
    bytes_ = (bytes_ + kHugeArrayBytes - 1) / kHugeArrayBytes * kHugeArrayBytes;
    huge_ = true;
#if VEXFILT_DIRECT_MAPPING
    // Map 2 MiB more than needed, keep the aligned part and return the rest.
    const std::size_t mapped = bytes_ + kHugeArrayBytes;
    void* const block = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t aligned = (start + kHugeArrayBytes - 1) / kHugeArrayBytes * kHugeArrayBytes;
    const std::size_t head = aligned - start, tail = mapped - head - bytes_;
    if (head > 0) static_cast<void>(::munmap(block, head));
    if (tail > 0) static_cast<void>(::munmap(reinterpret_cast<void*>(aligned + bytes_), tail));
    data_ = reinterpret_cast<float*>(aligned);
#else
    data_ = static_cast<float*>(::operator new (bytes_, std::align_val_t{kHugeArrayBytes}));
#endif
    vf_AdviseHugePages(data_, bytes_);
  }
  ~vc_LargeFloats() {
    if (!huge_) {
      ::operator delete(data_);
      return;
    }
#if VEXFILT_DIRECT_MAPPING
    static_cast<void>(::munmap(data_, bytes_));
#else
    ::operator delete (data_, std::align_val_t{kHugeArrayBytes});
#endif
  }
  vc_LargeFloats(const vc_LargeFloats&) = delete;
  vc_LargeFloats& operator=(const vc_LargeFloats&) = delete;

  float* data() const {
    return data_;
  }

 private:
  std::size_t bytes_ = 0;
  bool huge_ = false;
  float* data_ = nullptr;
};

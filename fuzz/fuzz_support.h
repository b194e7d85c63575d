// Shared pieces of the fuzz targets: the classes a leading byte selects, the
// archive steps opened for direct dispatch, the store-back round trip, and
// the checks that turn a broken property into a crash.
//
// The property every target checks: loading either fails with a vcException
// (anything else -- std::bad_alloc, std::length_error -- escapes the harness
// and is a crash), or gives an object that stores back to a record that loads
// into an equal object and stores to the same bytes again. Loaded filters and
// buffers are then used (applied, transformed) catching only vcException.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <type_traits>
#include <vector>

#include "filt/freqfilt.h"

namespace vffuzz {

using Bytes = std::vector<unsigned char>;
using Defs = vcFrequencyDefs;

// A broken property: report and abort, which libFuzzer records as a crash.
inline void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz property violated: %s\n", what);
  std::abort();
}

// A class with its protected archive step opened, as a derived host class
// could do.
template <class T>
struct Open : T {
  using Base = T;
  using T::dispatchSerialize;
  using T::T;
};

template <class T>
Bytes store(T& object) {
  vcMemoryArchive ar;
  object.dispatchSerialize(ar);
  return ar.bytes();
}

template <class T>
void load(T& object, const Bytes& bytes) {
  vcMemoryArchive ar(bytes);
  object.dispatchSerialize(ar);
}

inline Bytes storeBuffer(vcFrequencyBuffer& b) {
  vcMemoryArchive ar;
  ar || b;
  return ar.bytes();
}

inline void loadBuffer(vcFrequencyBuffer& b, const Bytes& bytes) {
  vcMemoryArchive ar(bytes);
  ar || b;
}

// A record written by the library itself must load again.
template <class Step>
void mustLoad(Step step) {
  try {
    step();
  } catch (const vcException& e) {
    std::fprintf(stderr, "stored record does not load: %s\n", e.message().c_str());
    require(false, "a record stored by the library loads again");
  }
}

// The filter classes in the order a leading byte selects them (modulo 5).
inline constexpr unsigned kFilterClasses = 5;
template <class Visit>
void withFilterClass(unsigned index, Visit visit) {
  switch (index % kFilterClasses) {
    case 0:
      return visit(Open<vcFrequencyFilterBandPass>());
    case 1:
      return visit(Open<vcFrequencyFilterBandReject>());
    case 2:
      return visit(Open<vcFrequencyFilterGabor>());
    case 3:
      return visit(Open<vcFrequencyFilterGaborReject>());
    default:
      return visit(Open<vcFrequencyFilterImage>());
  }
}

// The error classes in the order a leading byte selects them (modulo 6).
inline constexpr unsigned kErrorClasses = 6;
template <class Visit>
void withErrorClass(unsigned index, Visit visit) {
  switch (index % kErrorClasses) {
    case 0:
      return visit(Open<Defs::InvalidArgument>());
    case 1:
      return visit(Open<Defs::Uninitialized>());
    case 2:
      return visit(Open<Defs::InvalidSize>());
    case 3:
      return visit(Open<Defs::UnboundWindow>());
    case 4:
      return visit(Open<Defs::InvalidBuffer>());
    default:
      return visit(Open<Defs::BadCoord>());
  }
}

// The filter's padded size, or (0, 0) when it has none.
template <class F>
vcPair<long> filterSize(const F& f) {
  try {
    if constexpr (std::is_same_v<F, vcFrequencyFilterImage>)
      return {f.supportWidth(), f.supportHeight()};
    else
      return f.size();
  } catch (const vcException&) {
    return {0, 0};
  }
}

inline bool isBufferSize(long v) {
  return v >= 1 && v <= 2048 && (v & (v - 1)) == 0;
}

// Loaded filters are applied only to buffers of at most 2^12 elements (any
// shape, 2048 x 2 included): the passes run the same code at every size, and
// zeroing and filtering a 2048 x 2048 buffer would cost each such input some
// 30 ms, a third of the fuzzer's time.
inline constexpr long kMaxExercisedElements = 1L << 12;

// A record may claim `initialized` without coefficients, a state nothing but
// loading produces; copying such a filter makes it Empty (assignment from a
// filter without coefficients clears the flag), so its clone compares
// unequal. The clone property is checked for the other filters.
template <class F>
bool flagMatchesCoefficients(const F& f) {
  if constexpr (std::is_same_v<F, vcFrequencyFilterImage>) {
    return true;
  } else {
    bool built = true;
    try {
      (void)f.supportWidth();
    } catch (const vcException&) {
      built = false;
    }
    return built || !const_cast<F&>(f).isInitialized();
  }
}

// A loaded filter (of concrete class F) cloned, and applied to a zero buffer
// of its size in place and into a second buffer. Refusals by vcException are
// fine.
template <class F>
void exercise(const F& f) {
  std::unique_ptr<vcFrequencyFilter> copy(f.clone());
  const F* same = dynamic_cast<const F*>(copy.get());
  require(same != nullptr, "clone() makes the same class");
  if (f == f && flagMatchesCoefficients(f)) require(*same == f, "a clone equals its original");
  const vcPair<long> size = filterSize(f);
  if (!isBufferSize(size.x) || !isBufferSize(size.y) || size.x * size.y > kMaxExercisedElements) return;
  try {
    vcFrequencyBuffer zero(size.x, size.y), target;
    f.apply(zero, target);
    f.apply(zero);
  } catch (const vcException&) {
  }
}

// A loaded object's record must store back as the same bytes. One known
// exception: an image filter's buffer may come from a version-0 record whose
// bare transform is the identity with a -0.0 element; the buffer keeps that
// element as loaded and stores it, and the next load sees the identity (+0.0).
// So an image filter's record must be stable from its second generation on.
// `again` is the record of the object loaded from `stored`; `roundTrip` gives
// the record of an object loaded from the bytes it is handed.
template <class T, class RoundTrip>
void requireStableRecord(const Bytes& again, const Bytes& stored, RoundTrip roundTrip) {
  if constexpr (std::is_base_of_v<vcFrequencyFilterImage, T>) {
    if (again != stored) {
      require(roundTrip(again) == again, "a loaded image filter's record is stable after one round");
      return;
    }
  }
  require(again == stored, "a loaded object stores the same record");
}

// The round trip of a loaded filter: its record loads into an equal filter
// (when it equals itself: a NaN parameter equals nothing) whose record is the
// same bytes.
template <class F>
void roundTrip(F& loaded) {
  const Bytes stored = store(loaded);
  F again;
  mustLoad([&] { load(again, stored); });
  if (loaded == loaded) require(again == loaded, "a stored filter loads equal");
  requireStableRecord<F>(store(again), stored, [](const Bytes& bytes) {
    F next;
    mustLoad([&] { load(next, bytes); });
    return store(next);
  });
}

// The same for an error: class and message.
template <class E>
void roundTripError(E& loaded) {
  const Bytes stored = store(loaded);
  E again;
  mustLoad([&] { load(again, stored); });
  require((again.text() == nullptr) == (loaded.text() == nullptr), "a stored error keeps having a text or not");
  require(again.message() == loaded.message(), "a stored error keeps its message");
  require(store(again) == stored, "a loaded error stores the same record");
}

}  // namespace vffuzz

// Fuzz target: a filter's own record, dispatched directly into the class the
// first byte selects (band-pass, band-reject, Gabor, Gabor-reject, image:
// the byte modulo 5); the rest of the input is the record. A loaded filter
// is applied to a zero buffer of its size, cloned, and stored back.

#include "fuzz_support.h"

using namespace vffuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Bytes record(data + 1, data + size);
  withFilterClass(data[0], [&](auto&& filter) {
    using F = typename std::decay_t<decltype(filter)>::Base;
    try {
      load(filter, record);
    } catch (const vcException&) {
      return;
    }
    exercise<F>(filter);
    roundTrip(filter);
  });
  return 0;
}

// Fuzz target: an error's own record, dispatched directly into the error
// class the first byte selects (InvalidArgument ... BadCoord: the byte
// modulo 6); the rest of the input is the record. A loaded error keeps its
// class and message through a store and load.

#include "fuzz_support.h"

using namespace vffuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Bytes record(data + 1, data + size);
  withErrorClass(data[0], [&](auto&& error) {
    try {
      load(error, record);
    } catch (const vcException&) {
      return;
    }
    roundTripError(error);
  });
  return 0;
}

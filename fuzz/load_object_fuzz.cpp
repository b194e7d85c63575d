// Fuzz target: vcArchive::loadObject over arbitrary bytes (an object record:
// tag, class name, the class's record). Whatever registered class it makes
// -- a filter or an error -- stores back with storeObject to a record that
// loads an equal object of the same class; a filter is also applied.

#include <typeinfo>

#include "fuzz_support.h"

using namespace vffuzz;

namespace {

std::unique_ptr<vcPersistent> loadObject(const Bytes& bytes) {
  vcMemoryArchive ar(bytes);
  return ar.loadObject();
}

Bytes storeObject(vcPersistent& object) {
  vcMemoryArchive ar;
  ar.storeObject(object);
  return ar.bytes();
}

// Stores `loaded` and loads the record again: same class, `same` holds, and
// the second object stores the same bytes.
template <class X, class Same>
void objectRoundTrip(X& loaded, Same same) {
  const Bytes stored = storeObject(loaded);
  std::unique_ptr<vcPersistent> again;
  mustLoad([&] { again = loadObject(stored); });
  vcPersistent& object = *again;
  X* typed = dynamic_cast<X*>(&object);
  require(typed != nullptr && typeid(object) == typeid(loaded), "a stored object loads as its own class");
  require(same(*typed), "a stored object loads equal");
  requireStableRecord<X>(storeObject(*typed), stored, [](const Bytes& bytes) {
    std::unique_ptr<vcPersistent> next;
    mustLoad([&] { next = loadObject(bytes); });
    return storeObject(*next);
  });
}

template <class F>
bool checkFilter(vcPersistent& object) {
  F* f = dynamic_cast<F*>(&object);
  if (f == nullptr) return false;
  exercise<F>(*f);
  objectRoundTrip(*f, [&](const F& again) { return !(*f == *f) || again == *f; });
  return true;
}

template <class E>
bool checkError(vcPersistent& object) {
  E* e = dynamic_cast<E*>(&object);
  if (e == nullptr) return false;
  objectRoundTrip(*e, [&](const E& again) {
    return (again.text() == nullptr) == (e->text() == nullptr) && again.message() == e->message();
  });
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes input(data, data + size);
  std::unique_ptr<vcPersistent> object;
  try {
    object = loadObject(input);
  } catch (const vcException&) {
    return 0;
  }
  require(object != nullptr, "loadObject returns an object or throws");
  vcPersistent& o = *object;
  const bool known = checkFilter<vcFrequencyFilterBandPass>(o) || checkFilter<vcFrequencyFilterBandReject>(o) ||
                     checkFilter<vcFrequencyFilterGabor>(o) || checkFilter<vcFrequencyFilterGaborReject>(o) ||
                     checkFilter<vcFrequencyFilterImage>(o) || checkError<Defs::InvalidArgument>(o) ||
                     checkError<Defs::Uninitialized>(o) || checkError<Defs::InvalidSize>(o) ||
                     checkError<Defs::UnboundWindow>(o) || checkError<Defs::InvalidBuffer>(o) ||
                     checkError<Defs::BadCoord>(o);
  require(known, "loadObject makes only the library's registered classes");
  return 0;
}

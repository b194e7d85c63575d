#include "records/float_array.h"

#include <cstdint>

void vf_StoreFloatArray(vcArchive& ar, const float* values, unsigned long count) {
  unsigned char version = 0;
  ar || version;
  ar || count;
  ar.exchangeFloats(const_cast<float*>(values), count);  // storing only reads
}

unsigned long vf_LoadFloatArrayHead(vcArchive& ar) {
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw vcArchive::UnknownVersion(nullptr, 0);
  unsigned long count = 0;
  ar || count;
  ar.requireReadable(count, sizeof(float));
  return count;
}

void vf_LoadFloatArray(vcArchive& ar, std::vector<float>& values) {
  const unsigned long count = vf_LoadFloatArrayHead(ar);
  values.assign(count, 0.0f);
  ar.exchangeFloats(values.data(), count);
}

float* vf_FirstAligned(std::vector<float>& storage) {
  const auto address = reinterpret_cast<std::uintptr_t>(storage.data());
  return reinterpret_cast<float*>((address + 15) & ~std::uintptr_t{15});
}

float* vf_LoadAlignedFloats(vcArchive& ar, std::vector<float>& storage, std::size_t n, unsigned long count) {
  storage.assign(n + kFloatAlignmentSlack, 0.0f);
  float* data = vf_FirstAligned(storage);
  ar.exchangeFloats(data, count);
  return data;
}

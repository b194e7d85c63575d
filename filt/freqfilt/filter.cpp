// The filter base: the initialized flag, its archive level, and access to a
// buffer's private state for derived filters.

#include "fft/buffer_access.h"
#include "filt/freqfilt.h"
#include "records/record_level.h"

vcFrequencyFilter::vcFrequencyFilter() = default;

vcFrequencyFilter::vcFrequencyFilter(const vcFrequencyFilter& other)
    : vcPersistent(), vcRepBase(), initialized_(other.initialized_) {}

vcFrequencyFilter& vcFrequencyFilter::operator=(const vcFrequencyFilter& other) {
  initialized_ = other.initialized_;
  return *this;
}

vcFrequencyFilter::~vcFrequencyFilter() = default;

bool vcFrequencyFilter::isInitialized() {
  return initialized_;
}

void vcFrequencyFilter::dispatchSerialize(vcArchive& ar) {
  vf_RecordLevel(ar, this, sizeof(vcFrequencyFilter),
                 [&](unsigned char version) { vcFrequencyFilter::serialize_(ar, version); });
}

void vcFrequencyFilter::serialize_(vcArchive& ar, unsigned char version) {
  if (version != 0) throw vcArchive::UnknownVersion("filt/freqfilt", __LINE__);
  vcPersistent::dispatchSerialize(ar);
  ar || initialized_;
}

float* vcFrequencyFilter::getFrequencyBufferData(vcFrequencyBuffer& buffer) {
  return vc_FrequencyBufferAccess::data(buffer);
}

const float* vcFrequencyFilter::getFrequencyBufferData(const vcFrequencyBuffer& buffer) {
  return vc_FrequencyBufferAccess::data(buffer);
}

void vcFrequencyFilter::maskFrequencyBuffer(vcFrequencyBuffer& buffer, bool masked, long maskedMiny, long maskedMaxy) {
  vc_FrequencyBufferAccess::setBand(buffer, masked ? 1 : 0, maskedMiny, maskedMaxy);
}

void vcFrequencyFilter::setAndAllocateFrequencyBuffer(vcFrequencyBuffer& buffer, long width, long height) {
  vc_FrequencyBufferAccess::setAndAllocate(buffer, width, height);
}

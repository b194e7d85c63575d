// Spectrum arithmetic: point-wise add, subtract, multiply and conjugate over
// the whole padded array.
//
// Each element operation loads the floats of operand element (x, y) and
// destination element (u, v), computes in double and rounds once on each
// store. It reads all four values before it writes, so the operand may be the
// destination itself. Nothing but the array changes: the band stays valid for
// products and conjugates (zero rows stay zero) and is carried along as it is
// after sums and differences.

#include "fft/buffer_access.h"
#include "fft/messages.h"
#include "loops/arithmetic_kernels.h"

namespace {

using Defs = vcFrequencyDefs;

// (u, -v) of every element; negating a float is exact, as it would be in double.
void conjugateAll(float* r, long count) {
  for (long k = 0; k < count; ++k) r[2 * k + 1] = -r[2 * k + 1];
}

// All width * height elements of the result, with the operand's.
template <void (*vc_ArithmeticKernels::*loop)(const float*, float*, long)>
void applyInPlace(const vcFrequencyBuffer& a, vcFrequencyBuffer& r) {
  const vc_ArithmeticKernels kernels = vf_ArithmeticKernels(vf_BestEngineLevel());
  (kernels.*loop)(vc_FrequencyBufferAccess::data(a), vc_FrequencyBufferAccess::data(r), r.width() * r.height());
}

void requireData(const vcFrequencyBuffer& b) {
  if (b.isEmpty()) throw Defs::Uninitialized(vf_msg::kBufferUninitialized);
}

void requireSpectrum(const vcFrequencyBuffer& b) {
  if (b.inverseComputed()) throw Defs::InvalidBuffer(vf_msg::kInverseComputed);
}

void requireSameSize(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b, const char* message) {
  if (a.width() != b.width() || a.height() != b.height()) throw Defs::InvalidSize(message);
}

// The orders of the checks differ between the forms, and callers rely on
// which error a buffer that fails several of them raises.

// add, subtract (a, r); add, multiply (a, b, r)
void checkDataSpectrumSize(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b, const char* sizeMessage) {
  requireData(a);
  requireData(b);
  requireSpectrum(a);
  requireSpectrum(b);
  requireSameSize(a, b, sizeMessage);
}

// multiply (a, r); subtract (a, b, r)
void checkDataSizeSpectrum(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b, const char* sizeMessage) {
  requireData(a);
  requireData(b);
  requireSameSize(a, b, sizeMessage);
  requireSpectrum(a);
  requireSpectrum(b);
}

}  // namespace

void vfFrequencyAdd(const vcFrequencyBuffer& a, vcFrequencyBuffer& r) {
  checkDataSpectrumSize(a, r, vf_msg::kAddSizes);
  applyInPlace<&vc_ArithmeticKernels::add>(a, r);
}

void vfFrequencySubtract(const vcFrequencyBuffer& a, vcFrequencyBuffer& r) {
  checkDataSpectrumSize(a, r, vf_msg::kSubtractSizes);
  applyInPlace<&vc_ArithmeticKernels::subtract>(a, r);
}

void vfFrequencyMultiply(const vcFrequencyBuffer& a, vcFrequencyBuffer& r) {
  checkDataSizeSpectrum(a, r, vf_msg::kMultiplySizes);
  applyInPlace<&vc_ArithmeticKernels::multiply>(a, r);
}

// Sum and product commute, so a result that is b just takes a in place. The
// result's own earlier state does not matter: it is replaced by a.
void vfFrequencyAdd(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b, vcFrequencyBuffer& r) {
  checkDataSpectrumSize(a, b, vf_msg::kAddSizes);
  if (&r == &b) {
    vfFrequencyAdd(a, r);
    return;
  }
  if (&r != &a) r = a;
  vfFrequencyAdd(b, r);
}

void vfFrequencyMultiply(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b, vcFrequencyBuffer& r) {
  checkDataSpectrumSize(a, b, vf_msg::kMultiplySizes);
  if (&r == &b) {
    vfFrequencyMultiply(a, r);
    return;
  }
  if (&r != &a) r = a;
  vfFrequencyMultiply(b, r);
}

// A difference does not commute: a result that is b is first saved, so that
// the order stays a - b (and a, b, r all one buffer gives zeros).
void vfFrequencySubtract(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b, vcFrequencyBuffer& r) {
  checkDataSizeSpectrum(a, b, vf_msg::kSubtractSizes);
  if (&r != &b) {
    if (&r != &a) r = a;
    vfFrequencySubtract(b, r);
    return;
  }
  const vcFrequencyBuffer saved(b);
  r = a;
  vfFrequencySubtract(saved, r);
}

void vfFrequencyConjugate(vcFrequencyBuffer& r) {
  requireData(r);
  requireSpectrum(r);
  conjugateAll(vc_FrequencyBufferAccess::data(r), r.width() * r.height());
}

void vfFrequencyConjugate(const vcFrequencyBuffer& a, vcFrequencyBuffer& r) {
  requireData(a);
  requireSpectrum(a);
  if (&r != &a) r = a;
  vfFrequencyConjugate(r);
}

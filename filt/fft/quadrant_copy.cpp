#include "fft/quadrant_copy.h"

#include <algorithm>
#include <climits>

#include "vexsys/attention.h"

namespace {

// Offsets come from callers and archives: moving one by an image size
// saturates rather than overflows.
long moved(long offset, long by) {
  long r;
  return __builtin_sub_overflow(offset, by, &r) ? (by > 0 ? LONG_MIN : LONG_MAX) : r;
}

template <class T>
void quadrantCopy(const vcPelBuffer_const<T>& source, vcPelBuffer<T>& destination, bool negate) {
  vfThrowExceptionOnFailure(vsys_attention_check());
  const vcPair<long> o = source.offset();
  long a = std::max(destination.width(), source.width());
  long b = std::max(destination.height(), source.height());
  if (negate) {
    a = -a;
    b = -b;
  }
  const vcPair<long> moves[] = {{moved(o.x, a), moved(o.y, b)}, {o.x, moved(o.y, b)}, {moved(o.x, a), o.y}, {o.x, o.y}};
  for (const vcPair<long>& at : moves) {
    vcPelBuffer_const<T> view = source;  // shares the pixels
    view.offset(at);
    vfPelCopy(view, destination);
  }
}

}  // namespace

void vf_QuadrantCopy(const vcPelBuffer_const<unsigned char>& s, vcPelBuffer<unsigned char>& d, bool negate) {
  quadrantCopy(s, d, negate);
}
void vf_QuadrantCopy(const vcPelBuffer_const<unsigned short>& s, vcPelBuffer<unsigned short>& d, bool negate) {
  quadrantCopy(s, d, negate);
}
void vf_QuadrantCopy(const vcPelBuffer_const<double>& s, vcPelBuffer<double>& d, bool negate) {
  quadrantCopy(s, d, negate);
}

#include "fft/quadrant_copy.h"

#include <algorithm>

#include "vexsys/attention.h"

namespace {

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
  const vcPair<long> moves[] = {{o.x - a, o.y - b}, {o.x, o.y - b}, {o.x - a, o.y}, {o.x, o.y}};
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

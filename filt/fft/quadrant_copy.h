// Laying an image with an offset into an image of another size. Not installed.
#pragma once

#include "vexstd/pelbuffer.h"

// Copies `source` into `destination` four times, moved by the larger of the
// two sizes (a, b) in x, y and both (by -a, -b; with `negate` by +a, +b) and
// once unmoved, each copy writing only where it overlaps the destination by
// position (vfPelCopy): a circular wrap of the source round the
// destination's frame. Destination pixels no copy reaches keep their values.
// Polls the attention check once, first.
void vf_QuadrantCopy(const vcPelBuffer_const<unsigned char>& source, vcPelBuffer<unsigned char>& destination,
                     bool negate);
void vf_QuadrantCopy(const vcPelBuffer_const<unsigned short>& source, vcPelBuffer<unsigned short>& destination,
                     bool negate);
void vf_QuadrantCopy(const vcPelBuffer_const<double>& source, vcPelBuffer<double>& destination, bool negate);

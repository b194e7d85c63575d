#include "band.h"
#include "bit_reverse.h"
#include "engine.h"
#include "engine_checks.h"
#include "row_transform.h"
#include "scratch.h"
#include "transpose.h"
#include "twiddles.h"

#include <algorithm>
#include <vector>
#include <vexstd/exception.h>
#include <vexsys/attention.h>

void vf_ComplexFFT2D(float* data, long width, long height, int direction, long bandMin,
                     long bandMax)
{
    assert(data != nullptr && vf_IsEngineSize(width) && vf_IsEngineSize(height));
    vf_ClampBand(bandMin, bandMax, height);

    const vc_Twiddles table = vf_MakeTwiddles();
    std::vector<long> bitReverse(static_cast<std::size_t>(std::max(width, height)));
    vf_BitReverseTable(bitReverse.data(), width);
    vc_Scratch scratch(width, height);

    // First pass along the rows. A row outside the band is zero, so is its transform.
    for (long y = 0; y < height; ++y) {
        if (vf_RowOutsideBand(y, height, bandMin, bandMax)) {
            continue;
        }
        if (y % 16 == 0) {
            vfThrowExceptionOnFailure(vsys_attention_check());
        }
        vf_RowTransform(data + 2 * width * y, width, direction, table, bitReverse.data());
    }

    // Columns become rows. A single row or column already is its own transpose.
    float* columns = data;
    if (width == height) {
        vf_TransposeSquare(data, width, bandMin, bandMax);
    } else if (scratch.data() != nullptr) {
        vf_Transpose(data, scratch.data(), width, height);
        columns = scratch.data();
    }

    if (height != width) {
        vf_BitReverseTable(bitReverse.data(), height);
    }
    for (long x = 0; x < width; ++x) {
        if (x % 16 == 0) {
            vfThrowExceptionOnFailure(vsys_attention_check());
        }
        vf_RowTransform(columns + 2 * height * x, height, direction, table, bitReverse.data());
    }

    if (width == height) {
        vf_TransposeSquare(data, width, 0, width);
    } else if (scratch.data() != nullptr) {
        vf_Transpose(scratch.data(), data, height, width);
    }
}

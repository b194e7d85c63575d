#include "bit_reverse.h"
#include "engine.h"
#include "engine_checks.h"
#include "real_untangle.h"
#include "row_transform.h"
#include "scratch.h"
#include "transpose.h"
#include "twiddles.h"

#include <algorithm>
#include <vector>
#include <vexstd/exception.h>
#include <vexsys/attention.h>

// Each real row is transformed as a complex row of half the length and untangled into
// its half spectrum X[0 ... W/2]. Only columns 0 ... W/2 then go through the second
// pass; the rest of the spectrum follows from X[v][W - u] = conj X[(H - v) mod H][u],
// the symmetry of the transform of real data.
void vf_RealFFT2D(float* data, long width, long height)
{
    assert(data != nullptr && vf_IsEngineSize(width) && vf_IsEngineSize(height));

    const vc_Twiddles table = vf_MakeTwiddles();
    std::vector<long> bitReverse(static_cast<std::size_t>(std::max(width / 2, height)));
    vc_Scratch scratch(width, height);

    // With width 1 each row already holds the complex value (sample, 0).
    float* columns = data;
    if (width > 1) {
        const long n = width / 2;
        vf_BitReverseTable(bitReverse.data(), n);
        const vc_UntangleStep step = vf_MakeUntangleStep(width);
        for (long y = 0; y < height; ++y) {
            if (y % 16 == 0) {
                vfThrowExceptionOnFailure(vsys_attention_check());
            }
            float* row = data + 2 * width * y;
            vf_RowTransform(row, n, +1, table, bitReverse.data());
            vf_UntangleRealRowT(vc_ScalarRow{row}, width, step);
        }
        if (width == height) {
            vf_TransposeSquareHalf(data, width, true);
        } else if (scratch.data() != nullptr) {
            vf_Transpose(data, scratch.data(), width, height);
            columns = scratch.data();
        }
    }

    vf_BitReverseTable(bitReverse.data(), height);
    for (long x = 0; x <= width / 2; ++x) {
        if (x % 16 == 0) {
            vfThrowExceptionOnFailure(vsys_attention_check());
        }
        vf_RowTransform(columns + 2 * height * x, height, +1, table, bitReverse.data());
    }

    if (width == height) {
        vf_TransposeSquareHalf(data, width, false);
    } else if (scratch.data() != nullptr) {
        vf_Transpose(scratch.data(), data, height, width);
    }

    vf_ConjugateSymmetricFill(data, width, height);
}

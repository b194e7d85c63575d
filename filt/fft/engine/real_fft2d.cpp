#include "bit_reverse.h"
#include "engine.h"
#include "engine_checks.h"
#include "real_untangle.h"
#include "row_passes.h"
#include "scratch.h"
#include "transpose.h"
#include "twiddles.h"

#include <vexstd/exception.h>
#include <vexsys/attention.h>
#include <algorithm>
#include <vector>

void vf_RealFFT2D(float* data, long width, long height) {
  vf_RealFFT2DAtLevel(data, width, height, vf_BestEngineLevel());
}

// Each real row is transformed as a complex row of half the length and untangled into
// its half spectrum X[0 ... W/2]. Only columns 0 ... W/2 then go through the second
// pass; the rest of the spectrum follows from X[v][W - u] = conj X[(H - v) mod H][u],
// the symmetry of the transform of real data. So the second pass, and the transposes
// around it where there are any, handle only what the symmetric fill reads: everything
// else is rewritten by the fill.
void vf_RealFFT2DAtLevel(float* data, long width, long height, vc_EngineLevel level) {
  assert(data != nullptr && vf_IsEngineSize(width) && vf_IsEngineSize(height));
  if (!vf_EngineLevelSupported(level)) {
    level = vf_BestEngineLevel();
  }

  const vc_Twiddles table = vf_MakeTwiddles();
  std::vector<long> bitReverse(static_cast<std::size_t>(std::max(width / 2, height)));
  const vc_RowPasses passes(level, table, std::max(width / 2, height));
  const long half = width / 2;
  // A vector level runs the second pass down columns 0 ... W/2 in place, without the
  // transposes around it, and fills in the other columns as it stores its results.
  const bool inColumns = passes.hasColumns() && width >= 8 && height >= 8;
  vc_Scratch scratch(width, height, !inColumns);

  // With width 1 each row already holds the complex value (sample, 0).
  if (width > 1) {
    vf_BitReverseTable(bitReverse.data(), half);
    const vc_UntangleTwiddles untangle(width);
    passes.run(data, 2 * width, height, 0, height, half, +1, bitReverse.data(), untangle.data());
  }
  vf_BitReverseTable(bitReverse.data(), height);

  if (inColumns) {
    // The polls of the two tiled transposes and of the symmetric fill this replaces.
    vfThrowExceptionOnFailure(vsys_attention_check());
    passes.runColumns(data, 2 * width, half + 1, height, +1, bitReverse.data(), width);
    vfThrowExceptionOnFailure(vsys_attention_check());
    vfThrowExceptionOnFailure(vsys_attention_check());
    return;
  }

  float* columns = data;
  if (width == 1) {
    // A single column already is its own transpose.
  } else if (width == height) {
    vf_TransposeSquareHalf(data, width, true, passes.tileMove());
  } else if (scratch.data() != nullptr) {
    vf_Transpose(data, scratch.data(), width, height, half + 1, height, passes.tileMove());
    columns = scratch.data();
  }

  passes.run(columns, 2 * height, half + 1, 0, half + 1, height, +1, bitReverse.data(), nullptr);

  if (width == height) {
    vf_TransposeSquareHalf(data, width, false, passes.tileMove());
  } else if (scratch.data() != nullptr) {
    vf_Transpose(scratch.data(), data, height, width, height, half + 1, passes.tileMove());
  }

  vf_ConjugateSymmetricFill(data, width, height);
}

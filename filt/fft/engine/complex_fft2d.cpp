#include "band.h"
#include "bit_reverse.h"
#include "engine.h"
#include "engine_checks.h"
#include "row_passes.h"
#include "scratch.h"
#include "transpose.h"
#include "twiddles.h"

#include <vexstd/exception.h>
#include <vexsys/attention.h>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The transform of data in place, or with `from` of `from` into data (see engine.h).
void vf_Transform2D(const float* from, float* data, long width, long height, int direction, long bandMin, long bandMax,
                    vc_EngineLevel level) {
  assert(data != nullptr && vf_IsEngineSize(width) && vf_IsEngineSize(height));
  vf_ClampBand(bandMin, bandMax, height);
  if (!vf_EngineLevelSupported(level)) {
    level = vf_BestEngineLevel();
  }

  const vc_Twiddles table = vf_MakeTwiddles();
  std::vector<long> bitReverse(static_cast<std::size_t>(std::max(width, height)));
  vf_BitReverseTable(bitReverse.data(), width);
  const vc_RowPasses passes(level, table, std::max(width, height));

  // A vector level runs the second pass down the columns in place, without the
  // transposes around them.
  const bool inColumns = passes.hasColumns() && width >= 8 && height >= 8;
  vc_Scratch scratch(width, height, !inColumns);

  // Out of place, the first pass reads the source rows (and copies those it skips);
  // where the transposes follow, the array is copied first and transformed in place.
  if (from != nullptr && !inColumns) {
    std::memcpy(data, from, 2 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * sizeof(float));
    from = nullptr;
  }

  // First pass along the rows. A row outside the band is zero, so is its transform.
  passes.run(data, 2 * width, height, bandMin, bandMax, width, direction, bitReverse.data(), nullptr, from);

  if (height != width) {
    vf_BitReverseTable(bitReverse.data(), height);
  }
  if (inColumns) {
    // In place of the first transpose (and its poll): on a banded square array the
    // second pass must read what the transpose leaves in the tiles it skips.
    if (width == height) {
      vf_ExchangeSkippedTiles(data, width, bandMin, bandMax);
    } else {
      vfThrowExceptionOnFailure(vsys_attention_check());
    }
    passes.runColumns(data, 2 * width, width, height, direction, bitReverse.data());
    // The poll of the transpose back.
    vfThrowExceptionOnFailure(vsys_attention_check());
    return;
  }

  // Columns become rows. A single row or column already is its own transpose.
  float* columns = data;
  if (width == height) {
    vf_TransposeSquare(data, width, bandMin, bandMax, passes.tileMove());
  } else if (scratch.data() != nullptr) {
    vf_Transpose(data, scratch.data(), width, height, width, height, passes.tileMove());
    columns = scratch.data();
  }

  passes.run(columns, 2 * height, width, 0, width, height, direction, bitReverse.data(), nullptr);

  if (width == height) {
    vf_TransposeSquare(data, width, 0, width, passes.tileMove());
  } else if (scratch.data() != nullptr) {
    vf_Transpose(scratch.data(), data, height, width, height, width, passes.tileMove());
  }
}

}  // namespace

void vf_ComplexFFT2D(float* data, long width, long height, int direction, long bandMin, long bandMax) {
  vf_Transform2D(nullptr, data, width, height, direction, bandMin, bandMax, vf_BestEngineLevel());
}

void vf_ComplexFFT2DAtLevel(float* data, long width, long height, int direction, long bandMin, long bandMax,
                            vc_EngineLevel level) {
  vf_Transform2D(nullptr, data, width, height, direction, bandMin, bandMax, level);
}

void vf_ComplexFFT2DFrom(const float* source, float* data, long width, long height, int direction, long bandMin,
                         long bandMax) {
  vf_Transform2D(source, data, width, height, direction, bandMin, bandMax, vf_BestEngineLevel());
}

void vf_ComplexFFT2DFromAtLevel(const float* source, float* data, long width, long height, int direction, long bandMin,
                                long bandMax, vc_EngineLevel level) {
  vf_Transform2D(source, data, width, height, direction, bandMin, bandMax, level);
}

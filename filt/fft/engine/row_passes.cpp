#include "row_passes.h"

#include "band.h"
#include "row_transform.h"

#include <vexstd/exception.h>
#include <vexsys/attention.h>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

vc_RowPasses::vc_RowPasses(vc_EngineLevel level, const vc_Twiddles& table, long longest)
    : kernels_(vf_LevelKernels(level)), twiddles_(table, longest) {
  if (kernels_.lanes > 1) {
    // One more element than the longest row: the untangle's X[W/2].
    const auto values = static_cast<std::size_t>(longest + 1);
    const auto batchLanes = static_cast<std::size_t>(std::max(kernels_.lanes, kernels_.columnSweep));
    const std::size_t floats = 2 * values * batchLanes;
    constexpr std::size_t align = 64 / sizeof(float);
    interleavedStorage_ = std::make_unique_for_overwrite<float[]>(floats + align);
    const auto address = reinterpret_cast<std::uintptr_t>(interleavedStorage_.get());
    interleaved_ = interleavedStorage_.get() + (align - address / sizeof(float) % align) % align;
    spare_ = std::make_unique<float[]>(2 * values);
    order_ = std::make_unique_for_overwrite<long[]>(values);
  }
}

void vc_RowPasses::run(float* base, long stride, long count, long bandMin, long bandMax, long n, int direction,
                       const long* bitReverse, const vc_UntangleTwiddle* untangle, const float* from) const {
  // A complex row of one value is its own transform; a real row of two still untangles.
  const bool identity = n < 2 && untangle == nullptr;
  const auto bytes = static_cast<std::size_t>(2 * n) * sizeof(float);
  // Out of place, a row that is not transformed (or the scalar level's row before its
  // transform in place) is a copy of its source row.
  const auto copyRow = [&](long y) {
    if (from != nullptr) {
      std::memcpy(base + stride * y, from + stride * y, bytes);
    }
  };

  if (kernels_.lanes == 1) {
    for (long y = 0; y < count; ++y) {
      if (vf_RowOutsideBand(y, count, bandMin, bandMax)) {
        copyRow(y);
        continue;
      }
      if (y % 16 == 0) {
        vfThrowExceptionOnFailure(vsys_attention_check());
      }
      copyRow(y);
      if (identity) {
        continue;
      }
      float* row = base + stride * y;
      vf_RowTransform(row, n, direction, twiddles_.data(), bitReverse);
      if (untangle != nullptr) {
        vf_UntangleRealRowT(vc_ScalarRow{row}, 2 * n, untangle);
      }
    }
    return;
  }

  const vc_RowPass batch = pass(n, direction, bitReverse, untangle);
  // Batches are aligned groups of `lanes` rows (lanes divides 16), so a batch polls at
  // most once, at its start, after every earlier row is done: as row by row.
  const long lanes = kernels_.lanes;
  float* rows[16];
  const float* sources[16];
  for (long b = 0; b < count; b += lanes) {
    long used = 0;
    for (long y = b; y < b + lanes && y < count; ++y) {
      if (vf_RowOutsideBand(y, count, bandMin, bandMax)) {
        copyRow(y);
        continue;
      }
      if (y % 16 == 0) {
        vfThrowExceptionOnFailure(vsys_attention_check());
      }
      if (identity) {
        copyRow(y);
      }
      sources[used] = from != nullptr ? from + stride * y : base + stride * y;
      rows[used++] = base + stride * y;
    }
    if (used == 0 || identity) {
      continue;
    }
    for (long r = used; r < lanes; ++r) {
      rows[r] = spare_.get();
      sources[r] = spare_.get();
    }
    kernels_.transformRows(batch, sources, rows);
  }
}

void vc_RowPasses::runColumns(float* base, long stride, long columns, long n, int direction, const long* bitReverse,
                              long mirrorWidth) const {
  vc_RowPass batch = pass(n, direction, bitReverse, nullptr);
  batch.mirrorWidth = mirrorWidth;
  // Sweeps are aligned groups of columnSweep columns (a multiple of 16): every poll of
  // a sweep comes before it, after every earlier column is done.
  const long sweep = kernels_.columnSweep;
  for (long x = 0; x < columns; x += sweep) {
    const long count = std::min(sweep, columns - x);
    for (long c = x; c < x + count; c += 16) {
      vfThrowExceptionOnFailure(vsys_attention_check());
    }
    if (n >= 2) {
      kernels_.transformColumns(batch, base, stride, x, count);
    }
  }
}

vc_RowPass vc_RowPasses::pass(long n, int direction, const long* bitReverse, const vc_UntangleTwiddle* untangle) const {
  // Natural element k of a result is element order[k] of the stage output: the
  // exchanges of the bit-reversal table, as one permutation.
  long* order = order_.get();
  for (long k = 0; k <= n; ++k) {
    order[k] = k;
  }
  for (long i = 1; i < n; ++i) {
    if (bitReverse[i] > 0) {
      order[i - 1] = bitReverse[i] - 1;
      order[bitReverse[i] - 1] = i - 1;
    }
  }
  vc_RowPass batch;
  batch.n = n;
  batch.direction = direction;
  batch.twiddles = twiddles_.data();
  batch.order = order;
  batch.untangle = untangle;
  batch.interleaved = interleaved_;
  return batch;
}

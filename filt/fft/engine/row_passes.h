// The row passes of the 2-D transforms: which rows go through the kernel, in which
// batches, and when the attention check is polled.
#pragma once

#include "levels.h"
#include "real_untangle.h"
#include "twiddles.h"

#include <memory>

// Per-call storage of the row passes at one level: the stage twiddles of the longest
// row, and for a vector level the lane-interleaved batch scratch, a zero spare row for
// the unused lanes of a batch that is not full and the bit-reversal order. All of it is
// allocated once, when the call starts, and released on every path out of it.
class vc_RowPasses {
 public:
  vc_RowPasses(vc_EngineLevel level, const vc_Twiddles& table, long longest);

  // The row transform of length n (forward when direction >= 0) on rows
  // y = 0 ... count-1, row y starting at base + stride*y, except the rows outside
  // [bandMin, bandMax] (centered frame of `count` rows, band.h). Polls before every
  // transformed row whose index is a multiple of 16. bitReverse is the table of
  // vf_BitReverseTable for n. With `untangle` (the sequence of width 2n) the rows
  // are real rows of width 2n, untangled into X[0 ... n] after the transform.
  // With `from` (an array laid out as base's that does not overlap it; complex rows
  // only, no untangle) each row is read from there instead and its transform written
  // to base: the same bits as copying the rows first and transforming in place. Rows
  // outside the band are then copied unchanged.
  void run(float* base, long stride, long count, long bandMin, long bandMax, long n, int direction,
           const long* bitReverse, const vc_UntangleTwiddle* untangle, const float* from = nullptr) const;

  // Whether the level transforms columns in place (runColumns); the scalar level
  // does not, its second pass works on transposed rows.
  bool hasColumns() const { return kernels_.transformColumns != nullptr; }

  // The row transform of length n on the columns x = 0 ... columns-1 of an array
  // with `stride` floats per row, in place: value y of column x is the complex value
  // at base + stride*y + 2x. The columns are exactly the rows a transpose would
  // give, so this is the second pass without the transposes around it. Polls before
  // every column whose index is a multiple of 16. With mirrorWidth = W (the spectrum
  // of a real input, columns = W/2 + 1) it also fills in the columns W/2 + 1 ... W - 1
  // from the conjugate symmetry, as vf_ConjugateSymmetricFill would.
  void runColumns(float* base, long stride, long columns, long n, int direction, const long* bitReverse,
                  long mirrorWidth = 0) const;

  vc_TileMove tileMove() const { return kernels_.moveTile; }

 private:
  vc_RowPass pass(long n, int direction, const long* bitReverse, const vc_UntangleTwiddle* untangle) const;

  vc_LevelKernels kernels_;
  vc_StageTwiddles twiddles_;
  std::unique_ptr<float[]> interleavedStorage_;
  float* interleaved_ = nullptr;
  std::unique_ptr<float[]> spare_;
  std::unique_ptr<long[]> order_;
};

// Instruction-set levels of the engine: what each one provides to the drivers.
//
// Every level computes the same bits. The vector levels run several independent rows
// of one pass through the kernel of row_transform.h at once, one row per lane of a
// double-precision vector (2 lanes for SSE2, 4 for AVX2, 8 for AVX-512), so that per
// lane exactly the scalar operations happen; the scalar level transforms one row at a
// time in place. The kernels of a level live in their own translation unit, built for
// that instruction set (level_*.cpp); this header holds only what crosses the border,
// so that no inline code is shared between units built for different instruction sets.
#pragma once

#include "engine.h"
#include "real_untangle.h"
#include "transpose.h"
#include "twiddles.h"

// One pass of row transforms of length n, as a vector level's batches read it.
//
// A batch gathers its rows into `interleaved`, lane-interleaved (element i: the real parts
// of all lanes, then the imaginary parts), runs the stages there, untangles real rows
// and scatters the results back in natural order: element k of a result row is element
// order[k] of the stage output (the bit-reversal permutation, plus order[n] = n for
// the untangled X[W/2]). The conjugations of an inverse transform are exact sign
// changes and happen on the way in and out.
struct vc_RowPass {
  long n = 0;                                    // complex values transformed per row
  int direction = +1;                            // < 0: inverse kernel
  const vc_StageTwiddle* twiddles = nullptr;     // sequences of spans up to n at least
  const long* order = nullptr;                   // n entries, or n + 1 with untangle
  const vc_UntangleTwiddle* untangle = nullptr;  // real rows of width 2n: untangle after the stages
  float* interleaved = nullptr;                  // scratch: (n + 1) elements of every lane, 64-byte
                                                 // aligned; columnSweep/lanes such batches
  long mirrorWidth = 0;                          // columns of a real input: see transformColumns
};

// The kernels of one level, picked per call by vf_LevelKernels.
struct vc_LevelKernels {
  // Rows per batch; 1 for the scalar level, which transforms rows in place instead.
  long lanes;
  // Transforms from[0 ... lanes-1] (each n complex values in) into rows[0 ... lanes-1]
  // (n or n + 1 out). from[r] is either rows[r] (in place) or a row that does not
  // overlap any of `rows`. A pointer may repeat: a batch that is not full repeats a
  // spare row.
  void (*transformRows)(const vc_RowPass& pass, const float* const* from, float* const* rows);
  // to[j][i] = from[i][j] for an 8 x 8 tile of complex values; strides count complex
  // values. The tiles must not overlap.
  vc_TileMove moveTile;
  // Columns per call of transformColumns (a multiple of 16); 0 for the scalar level.
  long columnSweep;
  // Transforms the columns first ... first + columns - 1 (at most columnSweep of
  // them) in place, each as a row of pass.n values: value y of column x is the
  // complex value at array + y*stride + 2x (stride in floats). No untangle. It
  // gathers every batch of the call in one sweep down the rows and scatters them in
  // another, so that each row's cache lines and page are visited twice per call, not
  // twice per batch. With pass.mirrorWidth = W (the spectrum of a real input) the
  // scatter also writes the conjugate-symmetric half from the values in hand:
  // value (n - y) mod n of column W - x = conj(value y of column x) for the columns
  // 1 <= x <= W/2 - 1.
  void (*transformColumns)(const vc_RowPass& pass, float* array, long stride, long first, long columns);
};

vc_LevelKernels vf_LevelKernels(vc_EngineLevel level);

// The kernels of the vector levels, each defined in its level unit as constant data,
// so that picking one runs no code built for an instruction set the CPU may lack.
extern const vc_LevelKernels vf_Sse2Kernels;
extern const vc_LevelKernels vf_Avx2Kernels;
extern const vc_LevelKernels vf_Avx512Kernels;

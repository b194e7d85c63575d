// Data moves between the passes of the 2-D transforms.
//
// All of them move whole complex values (pairs of floats) and do no arithmetic except
// the sign change of vf_ConjugateSymmetricFill. Arrays are interleaved complex floats,
// row-major, rows stored one after the other. The tiled forms move tiles of complex
// values so that both the rows read and the rows written stay in cache: 8 x 8 tiles
// through the level's tile move (levels.h) once both sizes are multiples of 8, 4 x 4
// tiles element by element for sizes of 4, and single elements below. Tile pairs are
// visited in 32 x 32 super-blocks, so that the strided side of a pair is still cached
// when its neighbours come. Each tiled call polls the attention check once; the
// element-by-element forms for small sizes never poll.
#pragma once

// to[j][i] = from[i][j] over an 8 x 8 tile (levels.h).
using vc_TileMove = void (*)(const float* from, long fromStride, float* to, long toStride);

// dst[c][r] = src[r][c] for a source of `rows` rows of `cols` values; dst has `cols`
// rows of `rows` values. Only the source rows r < rowsUsed and columns c < colsUsed
// need to move (rounded up to whole tiles; pass rows and cols to move everything).
// Tiled when both sizes are at least 4. Ignores any band.
void vf_Transpose(const float* src, float* dst, long cols, long rows, long colsUsed, long rowsUsed, vc_TileMove move);

// In-place transpose of an n x n array. Rows outside the band [bandMin, bandMax]
// (centered row frame, see band.h) are known to be zero: when the band is not the
// whole array (bandMin > 0 or bandMax < n), a pair of mirror 4 x 4 tiles whose two
// 4-row blocks both lie outside the band is left alone, since both tiles are zero.
// Tiled when n >= 4.
void vf_TransposeSquare(float* data, long n, long bandMin, long bandMax, vc_TileMove move);

// What the banded vf_TransposeSquare leaves behind, for a second pass that reads the
// columns of the array in place instead of transposing it: exchanges, each
// transposed, the mirror 4 x 4 tiles that vf_TransposeSquare(data, n, bandMin,
// bandMax) would leave alone, so that column x of the result holds row x of what that
// transpose would give. Those tiles are normally zero, so a pair whose tiles already
// are each other's transposes, bit for bit, is only read. Polls once, like the
// transpose it stands for; n >= 4.
void vf_ExchangeSkippedTiles(float* data, long n, long bandMin, long bandMax);

// In-place transpose of an n x n array of which only columns 0 ... n/2 matter to the
// real-input transform. With `first` set it delivers result rows 0 ... n/2 (the only
// rows the second pass transforms); with `first` clear it delivers result columns
// 0 ... n/2 (the others are rewritten by vf_ConjugateSymmetricFill). Tiles whose
// mirror is not needed are copied one way instead of swapped. Tiled when n >= 8,
// otherwise a full element-by-element transpose.
void vf_TransposeSquareHalf(float* data, long n, bool first, vc_TileMove move);

// Completes the spectrum of a real width x height input from its columns 0 ... W/2:
// X[y][W - k] = conj(X[(H - y) mod H][k]) for k = 1 ... W/2 - 1. Sources and targets
// never overlap. Polls once.
void vf_ConjugateSymmetricFill(float* data, long width, long height);

#include "transpose.h"

#include "band.h"

#include <utility>
#include <vexstd/exception.h>
#include <vexsys/attention.h>

namespace {

constexpr long kTile = 4;

// Complex value (r, c) of an array with `stride` complex values per row.
inline float* vf_At(float* a, long stride, long r, long c) { return a + 2 * (r * stride + c); }
inline const float* vf_At(const float* a, long stride, long r, long c)
{
    return a + 2 * (r * stride + c);
}

inline void vf_Move(const float* from, float* to)
{
    to[0] = from[0];
    to[1] = from[1];
}

inline void vf_Swap(float* a, float* b)
{
    std::swap(a[0], b[0]);
    std::swap(a[1], b[1]);
}

// to[j][i] = from[i][j] over one tile.
void vf_MoveTile(const float* from, long fromStride, float* to, long toStride)
{
    for (long i = 0; i < kTile; ++i) {
        for (long j = 0; j < kTile; ++j) {
            vf_Move(vf_At(from, fromStride, i, j), vf_At(to, toStride, j, i));
        }
    }
}

// Exchanges a[i][j] with b[j][i] over one tile: two mirror tiles, each transposed.
void vf_SwapTiles(float* a, float* b, long stride)
{
    for (long i = 0; i < kTile; ++i) {
        for (long j = 0; j < kTile; ++j) {
            vf_Swap(vf_At(a, stride, i, j), vf_At(b, stride, j, i));
        }
    }
}

void vf_TransposeDiagonalTile(float* t, long stride)
{
    for (long i = 0; i < kTile; ++i) {
        for (long j = i + 1; j < kTile; ++j) {
            vf_Swap(vf_At(t, stride, i, j), vf_At(t, stride, j, i));
        }
    }
}

void vf_TransposeSquareByElement(float* data, long n)
{
    for (long r = 0; r < n; ++r) {
        for (long c = r + 1; c < n; ++c) {
            vf_Swap(vf_At(data, n, r, c), vf_At(data, n, c, r));
        }
    }
}

} // namespace

void vf_Transpose(const float* src, float* dst, long cols, long rows)
{
    if (cols < kTile || rows < kTile) {
        for (long r = 0; r < rows; ++r) {
            for (long c = 0; c < cols; ++c) {
                vf_Move(vf_At(src, cols, r, c), vf_At(dst, rows, c, r));
            }
        }
        return;
    }
    vfThrowExceptionOnFailure(vsys_attention_check());
    for (long r = 0; r < rows; r += kTile) {
        for (long c = 0; c < cols; c += kTile) {
            vf_MoveTile(vf_At(src, cols, r, c), cols, vf_At(dst, rows, c, r), rows);
        }
    }
}

void vf_TransposeSquare(float* data, long n, long bandMin, long bandMax)
{
    if (n == 1) {
        return;
    }
    if (n < kTile) {
        vf_TransposeSquareByElement(data, n);
        return;
    }
    vfThrowExceptionOnFailure(vsys_attention_check());
    vf_ClampBand(bandMin, bandMax, n);
    const bool banded = bandMin > 0 || bandMax < n;
    for (long a = 0; a < n; a += kTile) {
        vf_TransposeDiagonalTile(vf_At(data, n, a, a), n);
        const bool aOutside = banded && vf_BlockOutsideBand(a, n, bandMin, bandMax);
        for (long b = a + kTile; b < n; b += kTile) {
            if (aOutside && vf_BlockOutsideBand(b, n, bandMin, bandMax)) {
                continue;
            }
            vf_SwapTiles(vf_At(data, n, a, b), vf_At(data, n, b, a), n);
        }
    }
}

void vf_TransposeSquareHalf(float* data, long n, bool first)
{
    if (n == 1) {
        return;
    }
    if (n < 2 * kTile) {
        vf_TransposeSquareByElement(data, n);
        return;
    }
    vfThrowExceptionOnFailure(vsys_attention_check());
    // Needed blocks: those starting at 0, 4, ..., n/2 (rows when first, columns after).
    const long lastNeeded = n / 2;
    for (long a = 0; a <= lastNeeded; a += kTile) {
        vf_TransposeDiagonalTile(vf_At(data, n, a, a), n);
        for (long b = a + kTile; b < n; b += kTile) {
            if (b <= lastNeeded) {
                vf_SwapTiles(vf_At(data, n, a, b), vf_At(data, n, b, a), n);
            } else if (first) {
                // Result row block a needs the source column block a.
                vf_MoveTile(vf_At(data, n, b, a), n, vf_At(data, n, a, b), n);
            } else {
                // Result column block a needs the source row block a.
                vf_MoveTile(vf_At(data, n, a, b), n, vf_At(data, n, b, a), n);
            }
        }
    }
}

void vf_ConjugateSymmetricFill(float* data, long width, long height)
{
    vfThrowExceptionOnFailure(vsys_attention_check());
    for (long y = 0; y < height; ++y) {
        const float* source = data + 2 * width * ((height - y) % height);
        float* target = data + 2 * width * y;
        for (long k = 1; k < width / 2; ++k) {
            target[2 * (width - k)] = source[2 * k];
            target[2 * (width - k) + 1] = -source[2 * k + 1];
        }
    }
}

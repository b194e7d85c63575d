#include "transpose.h"

#include "band.h"

#include <algorithm>
#include <cstring>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <vexstd/exception.h>
#include <vexsys/attention.h>

namespace {

constexpr long kTile = 4;    // tiles moved element by element
constexpr long kBlock = 8;   // tiles moved by the level
constexpr long kSuper = 32;  // super-blocks of tile pairs

// Complex value (r, c) of an array with `stride` complex values per row.
inline float* vf_At(float* a, long stride, long r, long c) {
  return a + 2 * (r * stride + c);
}
inline const float* vf_At(const float* a, long stride, long r, long c) {
  return a + 2 * (r * stride + c);
}

inline void vf_Move(const float* from, float* to) {
  to[0] = from[0];
  to[1] = from[1];
}

inline void vf_Swap(float* a, float* b) {
  std::swap(a[0], b[0]);
  std::swap(a[1], b[1]);
}

// to[j][i] = from[i][j] over one 4 x 4 tile.
void vf_MoveTile(const float* from, long fromStride, float* to, long toStride) {
  for (long i = 0; i < kTile; ++i) {
    for (long j = 0; j < kTile; ++j) {
      vf_Move(vf_At(from, fromStride, i, j), vf_At(to, toStride, j, i));
    }
  }
}

// Exchanges a[i][j] with b[j][i] over one 4 x 4 tile: two mirror tiles, each transposed.
void vf_SwapTiles(float* a, float* b, long stride) {
  for (long i = 0; i < kTile; ++i) {
    for (long j = 0; j < kTile; ++j) {
      vf_Swap(vf_At(a, stride, i, j), vf_At(b, stride, j, i));
    }
  }
}

// Whether a[i][j] and b[j][i] hold the same bits over one 4 x 4 tile.
bool vf_TilesMirror(const float* a, const float* b, long stride) {
  for (long i = 0; i < kTile; ++i) {
    for (long j = 0; j < kTile; ++j) {
      if (std::memcmp(vf_At(a, stride, i, j), vf_At(b, stride, j, i), 2 * sizeof(float)) != 0) {
        return false;
      }
    }
  }
  return true;
}

void vf_TransposeDiagonalTile(float* t, long stride) {
  for (long i = 0; i < kTile; ++i) {
    for (long j = i + 1; j < kTile; ++j) {
      vf_Swap(vf_At(t, stride, i, j), vf_At(t, stride, j, i));
    }
  }
}

void vf_TransposeSquareByElement(float* data, long n) {
  for (long r = 0; r < n; ++r) {
    for (long c = r + 1; c < n; ++c) {
      vf_Swap(vf_At(data, n, r, c), vf_At(data, n, c, r));
    }
  }
}

// An 8 x 8 tile held contiguously (stride 8) back into an array.
void vf_PutBlock(const float* block, float* to, long toStride) {
  for (long i = 0; i < kBlock; ++i) {
    std::memcpy(to + 2 * i * toStride, block + 2 * kBlock * i, 2 * kBlock * sizeof(float));
  }
}

// The 8 x 8 tile at a, transposed in place.
void vf_TransposeDiagonalBlock(float* a, long stride, vc_TileMove move) {
  alignas(64) float block[2 * kBlock * kBlock];
  move(a, stride, block, kBlock);
  vf_PutBlock(block, a, stride);
}

// Exchanges a[i][j] with b[j][i] over one 8 x 8 tile.
void vf_SwapBlocks(float* a, float* b, long stride, vc_TileMove move) {
  alignas(64) float block[2 * kBlock * kBlock];
  move(a, stride, block, kBlock);
  move(b, stride, a, stride);
  vf_PutBlock(block, b, stride);
}

// Calls pair(a, b) for every pair of 8-blocks a <= b of an n x n array with a <= aLast,
// super-block by super-block.
template <class Pair>
void vf_ForBlockPairs(long n, long aLast, Pair pair) {
  for (long sa = 0; sa <= aLast; sa += kSuper) {
    for (long sb = sa; sb < n; sb += kSuper) {
      for (long a = sa; a < std::min(sa + kSuper, aLast + 1); a += kBlock) {
        for (long b = std::max(sb, a); b < std::min(sb + kSuper, n); b += kBlock) {
          pair(a, b);
        }
      }
    }
  }
}

}  // namespace

void vf_Transpose(const float* src, float* dst, long cols, long rows, long colsUsed, long rowsUsed, vc_TileMove move) {
  if (cols < kTile || rows < kTile) {
    for (long r = 0; r < rows; ++r) {
      for (long c = 0; c < cols; ++c) {
        vf_Move(vf_At(src, cols, r, c), vf_At(dst, rows, c, r));
      }
    }
    return;
  }
  vfThrowExceptionOnFailure(vsys_attention_check());
  if (cols < kBlock || rows < kBlock) {
    for (long r = 0; r < rows; r += kTile) {
      for (long c = 0; c < cols; c += kTile) {
        vf_MoveTile(vf_At(src, cols, r, c), cols, vf_At(dst, rows, c, r), rows);
      }
    }
    return;
  }
  const long usedCols = std::min(cols, (colsUsed + kBlock - 1) / kBlock * kBlock);
  const long usedRows = std::min(rows, (rowsUsed + kBlock - 1) / kBlock * kBlock);
  for (long sr = 0; sr < usedRows; sr += kSuper) {
    for (long sc = 0; sc < usedCols; sc += kSuper) {
      for (long r = sr; r < std::min(sr + kSuper, usedRows); r += kBlock) {
        for (long c = sc; c < std::min(sc + kSuper, usedCols); c += kBlock) {
          move(vf_At(src, cols, r, c), cols, vf_At(dst, rows, c, r), rows);
        }
      }
    }
  }
}

void vf_TransposeSquare(float* data, long n, long bandMin, long bandMax, vc_TileMove move) {
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
  if (n < kBlock) {
    vf_TransposeDiagonalTile(data, n);
    return;
  }
  const auto outside = [&](long b) { return banded && vf_BlockOutsideBand(b, n, bandMin, bandMax); };
  vf_ForBlockPairs(n, n - 1, [&](long a, long b) {
    // The 4 x 4 sub-tile pairs of this 8 x 8 pair that the band lets alone.
    bool skip[2][2];
    bool any = false, all = true;
    for (long i = 0; i < 2; ++i) {
      for (long j = 0; j < 2; ++j) {
        skip[i][j] = outside(a + kTile * i) && outside(b + kTile * j);
        any = any || skip[i][j];
        all = all && skip[i][j];
      }
    }
    if (a == b) {
      // Diagonal sub-tiles always move; the off-diagonal pair unless skipped.
      if (!skip[0][1]) {
        vf_TransposeDiagonalBlock(vf_At(data, n, a, a), n, move);
      } else {
        vf_TransposeDiagonalTile(vf_At(data, n, a, a), n);
        vf_TransposeDiagonalTile(vf_At(data, n, a + kTile, a + kTile), n);
      }
    } else if (!any) {
      vf_SwapBlocks(vf_At(data, n, a, b), vf_At(data, n, b, a), n, move);
    } else if (!all) {
      for (long i = 0; i < 2; ++i) {
        for (long j = 0; j < 2; ++j) {
          if (!skip[i][j]) {
            vf_SwapTiles(vf_At(data, n, a + kTile * i, b + kTile * j), vf_At(data, n, b + kTile * j, a + kTile * i), n);
          }
        }
      }
    }
  });
}

void vf_ExchangeSkippedTiles(float* data, long n, long bandMin, long bandMax) {
  vfThrowExceptionOnFailure(vsys_attention_check());
  vf_ClampBand(bandMin, bandMax, n);
  if (n < 2 * kTile || (bandMin <= 0 && bandMax >= n)) {
    // Nothing is skipped: below 8 the skip rule does not apply (one diagonal tile).
    return;
  }
  const auto outside = [&](long b) { return vf_BlockOutsideBand(b, n, bandMin, bandMax); };
  // Tile pairs super-block by super-block, as the tiled transposes visit them.
  for (long sa = 0; sa < n; sa += kSuper) {
    for (long sb = sa; sb < n; sb += kSuper) {
      for (long a = sa; a < std::min(sa + kSuper, n); a += kTile) {
        if (!outside(a)) {
          continue;
        }
        for (long b = std::max(sb, a + kTile); b < std::min(sb + kSuper, n); b += kTile) {
          if (outside(b) && !vf_TilesMirror(vf_At(data, n, a, b), vf_At(data, n, b, a), n)) {
            vf_SwapTiles(vf_At(data, n, a, b), vf_At(data, n, b, a), n);
          }
        }
      }
    }
  }
}

void vf_TransposeSquareHalf(float* data, long n, bool first, vc_TileMove move) {
  if (n == 1) {
    return;
  }
  if (n < 2 * kTile) {
    vf_TransposeSquareByElement(data, n);
    return;
  }
  vfThrowExceptionOnFailure(vsys_attention_check());
  // Needed 8-blocks: those starting at 0, 8, ..., n/2 (rows when first, columns after);
  // for n = 8 that is the one diagonal block, transposed whole.
  const long lastNeeded = n / 2;
  vf_ForBlockPairs(n, lastNeeded, [&](long a, long b) {
    if (a == b) {
      vf_TransposeDiagonalBlock(vf_At(data, n, a, a), n, move);
    } else if (b <= lastNeeded) {
      vf_SwapBlocks(vf_At(data, n, a, b), vf_At(data, n, b, a), n, move);
    } else if (first) {
      // Result row block a needs the source column block a.
      move(vf_At(data, n, b, a), n, vf_At(data, n, a, b), n);
    } else {
      // Result column block a needs the source row block a.
      move(vf_At(data, n, a, b), n, vf_At(data, n, b, a), n);
    }
  });
}

void vf_ConjugateSymmetricFill(float* data, long width, long height) {
  vfThrowExceptionOnFailure(vsys_attention_check());
  for (long y = 0; y < height; ++y) {
    const float* source = data + 2 * width * ((height - y) % height);
    float* target = data + 2 * width * y;
    long k = 1;
#if defined(__SSE2__)
    // Two values at a time: swapped, and the imaginary signs flipped.
    const __m128 flip = _mm_set_ps(-0.0f, 0.0f, -0.0f, 0.0f);
    for (; k + 1 < width / 2; k += 2) {
      const __m128 v = _mm_loadu_ps(source + 2 * k);
      _mm_storeu_ps(target + 2 * (width - k - 1), _mm_xor_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)), flip));
    }
#endif
    for (; k < width / 2; ++k) {
      target[2 * (width - k)] = source[2 * k];
      target[2 * (width - k) + 1] = -source[2 * k + 1];
    }
  }
}

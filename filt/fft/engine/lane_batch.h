// The body shared by the vector levels: batches of rows through the kernel with vector
// lanes, the column sweeps, and the kernels table a level unit exports. Included only
// by the level units (level_*.cpp), each of which instantiates it with its own level
// type declared in an unnamed namespace. Everything here is in an unnamed namespace
// too, so every unit keeps its own copy, built for its own instruction set. Code
// reached from here must not call any inline function that other units also emit (a
// non-template inline function, or a template instantiated for shared types such as
// std::min<long>): the linker would keep one copy, possibly the one built for a wider
// instruction set. The level objects define no symbols but their kernels tables (nm
// shows it).
//
// A level V provides
//     using Lane;                       the vector of kLanes doubles, as row_transform.h
//     static constexpr long kLanes;     rows per batch
//     static constexpr long kLeaf;      depth-first leaf, in values (row_transform.h)
//     static Lane load(const float* p);           kLanes floats, widened
//     static void store(float* p, Lane v);        kLanes floats, each rounded once
//     static void gather(const float* const* rows, long n, float* lanes, bool conjugate);
//     static void scatter(const float* lanes, const long* order, long count,
//                         float* const* rows, bool conjugate);
//     static void gatherColumns(const float* from, long used, float* to, bool conjugate);
//     static void scatterColumns(const float* from, float* to, long used, bool conjugate);
//     static void mirrorColumns(const float* from, float* to, long lo, long hi);
//     static void moveTile(const float* from, long fromStride, float* to, long toStride);
// gather lays out the first n values of every row lane-interleaved, scatter writes
// element k of every row from element order[k] of the lanes, k < count; each ends with
// vf_GatherRest or vf_ScatterRest for the values after its last whole block.
// gatherColumns turns kLanes adjacent complex values (of which the first `used` are
// read, the others taken as 0) into one lane-interleaved element, scatterColumns writes
// the first `used` of them back. All of them change the sign of every imaginary part
// when asked to. mirrorColumns writes the conjugate of complex value j of one element
// to to - 2j (j = lo ... hi-1), the columns in reverse order. moveTile is the level's
// vc_LevelKernels::moveTile.
#pragma once

#include "levels.h"
#include "real_untangle.h"
#include "row_transform.h"

namespace {

// Lane-interleaved rows: element i of lane r has its real part at float
// 2 kLanes i + r and its imaginary part kLanes floats later.
template <class V>
struct vc_LaneRows {
  using Lane = typename V::Lane;
  float* z;

  Lane re(long i) const { return V::load(z + 2 * V::kLanes * i); }
  Lane im(long i) const { return V::load(z + 2 * V::kLanes * i + V::kLanes); }
  void put(long i, Lane r, Lane m) const {
    V::store(z + 2 * V::kLanes * i, r);
    V::store(z + 2 * V::kLanes * i + V::kLanes, m);
  }
};

// The same rows seen in natural order while their values still stand bit-reversed:
// natural element k is stored element order[k].
template <class Rows>
struct vc_PermutedRows {
  using Lane = typename Rows::Lane;
  Rows rows;
  const long* order;

  Lane re(long i) const { return rows.re(order[i]); }
  Lane im(long i) const { return rows.im(order[i]); }
  void put(long i, Lane r, Lane m) const { rows.put(order[i], r, m); }
};

// The values first ... n-1 of every row of a batch of `lanes` rows into lane-interleaved
// elements, one float at a time.
template <long lanes>
void vf_GatherRest(const float* const* rows, long first, long n, float* to, bool conjugate) {
  for (long i = first; i < n; ++i) {
    for (long r = 0; r < lanes; ++r) {
      to[2 * lanes * i + r] = rows[r][2 * i];
      to[2 * lanes * i + lanes + r] = conjugate ? -rows[r][2 * i + 1] : rows[r][2 * i + 1];
    }
  }
}

// Elements k = first ... count-1 of every row from element order[k] of the lanes.
template <long lanes>
void vf_ScatterRest(const float* from, const long* order, long first, long count, float* const* rows, bool conjugate) {
  for (long k = first; k < count; ++k) {
    const float* element = from + 2 * lanes * order[k];
    for (long r = 0; r < lanes; ++r) {
      rows[r][2 * k] = element[r];
      rows[r][2 * k + 1] = conjugate ? -element[lanes + r] : element[lanes + r];
    }
  }
}

template <class V>
void vf_TransformLaneBatch(const vc_RowPass& pass, const float* const* from, float* const* rows) {
  V::gather(from, pass.n, pass.interleaved, pass.direction < 0);
  const vc_LaneRows<V> z{pass.interleaved};
  if (pass.n >= 2) {
    vf_SplitRadixDepthFirstT(z, 0, pass.n, pass.twiddles, V::kLeaf);
  }
  long count = pass.n;
  if (pass.untangle != nullptr) {
    vf_UntangleRealRowT(vc_PermutedRows<vc_LaneRows<V>>{z, pass.order}, 2 * pass.n, pass.untangle);
    ++count;
  }
  V::scatter(pass.interleaved, pass.order, count, rows, pass.direction < 0);
}

// Rows ahead that the column sweeps ask for (see vf_TransformLaneColumns).
constexpr long kAhead = 16;

// Asks for the cache lines of floats p[0 ... count-1], for reading (write 0) or writing.
template <int write>
inline void vf_PrefetchLines(const float* p, long count) {
  for (long f = 0; f < count; f += 16) {
    __builtin_prefetch(p + f, write);
  }
  __builtin_prefetch(p + count - 1, write);
}

template <class V>
void vf_TransformLaneColumns(const vc_RowPass& pass, float* array, long stride, long first, long columns) {
  constexpr long lanes = V::kLanes;
  const long n = pass.n;
  const long batches = (columns + lanes - 1) / lanes;
  const long batchFloats = 2 * lanes * (n + 1);
  const bool conjugate = pass.direction < 0;
  const auto used = [&](long b) { return columns - lanes * b < lanes ? columns - lanes * b : lanes; };
  float* const base = array + 2 * first;

  // Rows lie a page or more apart, too far for the hardware to guess the next one:
  // fetch the row kAhead rows down while this one is moved.
  const long span = 2 * columns;
  for (long y = 0; y < n; ++y) {
    const float* row = base + stride * y;
    if (y + kAhead < n) {
      vf_PrefetchLines<0>(row + stride * kAhead, span);
    }
    for (long b = 0; b < batches; ++b) {
      V::gatherColumns(row + 2 * lanes * b, used(b), pass.interleaved + batchFloats * b + 2 * lanes * y, conjugate);
    }
  }
  for (long b = 0; b < batches; ++b) {
    vf_SplitRadixDepthFirstT(vc_LaneRows<V>{pass.interleaved + batchFloats * b}, 0, n, pass.twiddles, V::kLeaf);
  }
  // Mirrored columns W - x for 1 <= x <= W/2 - 1, as lane ranges [lo, hi) per batch.
  const long w = pass.mirrorWidth;
  // (Plain conditionals rather than std::min and std::max: see the top of this file.)
  const auto mirrorLo = [&](long b) { return first + lanes * b >= 1 ? 0L : 1 - (first + lanes * b); };
  const auto mirrorHi = [&](long b) {
    const long hi = w / 2 - (first + lanes * b);
    return hi < used(b) ? hi : used(b);
  };
  for (long k = 0; k < n; ++k) {
    float* row = base + stride * k;
    float* mirror = array + stride * ((n - k) % n) + 2 * (w - first);
    if (k + kAhead < n) {
      vf_PrefetchLines<1>(row + stride * kAhead, span);
      if (w > 0) {
        // The mirrored columns of row n - k - kAhead: 2 * columns floats ending
        // at the mirror of column `first` (excluded).
        vf_PrefetchLines<1>(array + stride * (n - k - kAhead) + 2 * (w - first) - span, span);
      }
    }
    for (long b = 0; b < batches; ++b) {
      const float* from = pass.interleaved + batchFloats * b + 2 * lanes * pass.order[k];
      V::scatterColumns(from, row + 2 * lanes * b, used(b), conjugate);
      if (w > 0 && mirrorLo(b) < mirrorHi(b)) {
        V::mirrorColumns(from, mirror - 2 * lanes * b, mirrorLo(b), mirrorHi(b));
      }
    }
  }
}

// Columns per call of transformColumns, the same for every vector level.
constexpr long kColumnSweep = 32;

// The kernels table of level V, for its unit to export as constant data.
template <class V>
constexpr vc_LevelKernels vf_VectorKernels() {
  return {V::kLanes, vf_TransformLaneBatch<V>, V::moveTile, kColumnSweep, vf_TransformLaneColumns<V>};
}

}  // namespace

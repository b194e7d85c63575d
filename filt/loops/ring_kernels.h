// The inner loop of the band filters' ring pass, per instruction-set level.
// Not installed.
//
// A run covers the elements [xa, xb) of one row, whose distance from the zero
// column is dx = x + dxOffset. Element x is multiplied by profile entry
// k = |trunc((sqrt(dx*dx + yy) - fW) * S)| when k < count (and, unless
// `everyElement`, when inner < dx*dx + yy < outer); any other element is
// zeroed, or kept when `keepOutside`. Every element is read before it is
// written, so source and target may be the same row. Every level gives the
// plain level's bits; the AVX2 set serves the AVX2 and AVX-512 levels.
#pragma once

#include <cstdint>

#include "cpu/cpu_level.h"

struct vc_RingRow {
  const float* source;
  float* target;
  const float* profile;
  std::uint64_t count;  // profile entries, at least 1
  long yy, inner, outer;
  double fW, S;
  bool keepOutside;
  bool everyElement;  // the two-buffer reject rule: no inner/outer test
};

using vc_RingRun = void (*)(const vc_RingRow& row, long xa, long xb, long dxOffset);

// The loop of a level (an unsupported level gives the plain one).
vc_RingRun vf_RingRun(vc_EngineLevel level);

// The AVX2 loop, built for AVX2 in a unit of its own; call only where the CPU has it.
vc_RingRun vf_RingRunAvx2();

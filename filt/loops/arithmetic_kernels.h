// Element loops of the spectrum arithmetic, per instruction-set level. Not
// installed.
//
// Each loop runs over `count` complex elements in storage order: it loads the
// floats of operand element k and result element k, computes in double and
// rounds once on each store, reading all four values before it writes, so the
// operand may be the result array itself. Every level gives the plain
// level's bits; the AVX2 set serves the AVX2 and AVX-512 levels.
#pragma once

#include "cpu/cpu_level.h"

struct vc_ArithmeticKernels {
  void (*add)(const float* a, float* r, long count);       // (u + x, v + y)
  void (*subtract)(const float* a, float* r, long count);  // (u - x, v - y)
  void (*multiply)(const float* a, float* r, long count);  // (x u - y v, u y + v x)
};

// The loops of a level (an unsupported level gives the plain set).
vc_ArithmeticKernels vf_ArithmeticKernels(vc_EngineLevel level);

// The AVX2 set, built for AVX2 in a unit of its own; call only where the CPU has it.
vc_ArithmeticKernels vf_ArithmeticKernelsAvx2();

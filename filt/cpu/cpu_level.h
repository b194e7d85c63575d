// Instruction-set levels: which vector forms of the library's loops the running CPU
// can execute. The FFT engine and the per-element loops (pixel, arithmetic, filter
// rings) each pick their forms from the level given here; every form of a loop
// gives the same bits, so the level only decides speed.
//
// The answer is computed afresh on every call (a few loads from the runtime's CPU
// model): the library remembers no choice between calls.
#pragma once

// Levels, narrowest first. scalar runs anywhere and is the plain form of every
// kernel; sse2 needs SSE2, avx2 AVX2, avx512 AVX-512F and AVX-512DQ.
enum class vc_EngineLevel { scalar, sse2, avx2, avx512 };

// Whether the running CPU (and operating system) supports a level.
bool vf_EngineLevelSupported(vc_EngineLevel level);

// The widest supported level.
vc_EngineLevel vf_BestEngineLevel();

// Whether a level runs the AVX2 forms of the per-element loops outside the engine
// (pixel loops, arithmetic, filter rings): the AVX2 and AVX-512 levels, where the CPU
// supports them. The other levels run the plain forms.
bool vf_UsesAvx2Loops(vc_EngineLevel level);

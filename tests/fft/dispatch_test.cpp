// The dispatch hands every level the CPU has its own kernels. The level tests
// compare each level with the plain code only through the level it is given,
// so a dispatch that quietly handed out the plain kernels (or reported a
// level missing) would leave every vector path dead and every other test
// green: here the CPU's features are asked directly and the kernels of each
// level told apart from the plain ones.
#include <gtest/gtest.h>

#include "fft/engine/levels.h"
#include "loops/arithmetic_kernels.h"
#include "loops/pixel_rows.h"
#include "loops/ring_kernels.h"

namespace {

using Level = vc_EngineLevel;
constexpr Level kLevels[] = {Level::scalar, Level::sse2, Level::avx2, Level::avx512};

// What the CPU offers, asked here and not through the library.
bool cpuHas(Level level) {
#if defined(__x86_64__)
  __builtin_cpu_init();
  switch (level) {
    case Level::scalar:
    case Level::sse2:
      return true;
    case Level::avx2:
      return __builtin_cpu_supports("avx2");
    case Level::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  }
#endif
  return level == Level::scalar;
}

}  // namespace

TEST(Dispatch, TheWidestLevelOfTheCpuIsPicked) {
  Level widest = Level::scalar;
  for (const Level level : kLevels) {
    EXPECT_EQ(vf_EngineLevelSupported(level), cpuHas(level)) << static_cast<int>(level);
    if (cpuHas(level)) widest = level;
  }
  EXPECT_EQ(vf_BestEngineLevel(), widest);
}

TEST(Dispatch, EachLevelRunsItsOwnKernels) {
  const long lanes[] = {1, 2, 4, 8};  // one row per double lane of the level's vectors
  for (const Level level : kLevels) {
    if (!cpuHas(level)) continue;
    const vc_LevelKernels k = vf_LevelKernels(level);
    EXPECT_EQ(k.lanes, lanes[static_cast<int>(level)]) << static_cast<int>(level);
    EXPECT_EQ(k.transformRows == nullptr, level == Level::scalar);
    EXPECT_EQ(k.columnSweep == 0, level == Level::scalar);
  }
  // The element loops: the AVX2 forms from the AVX2 level up, the plain ones
  // below it.
  const vc_PixelRows plainPixels = vf_PixelRows(Level::scalar);
  const vc_ArithmeticKernels plainArithmetic = vf_ArithmeticKernels(Level::scalar);
  for (const Level level : kLevels) {
    if (!cpuHas(level)) continue;
    const bool wide = level == Level::avx2 || level == Level::avx512;
    EXPECT_EQ(vf_UsesAvx2Loops(level), wide);
    EXPECT_EQ(vf_PixelRows(level).saturated8 != plainPixels.saturated8, wide);
    EXPECT_EQ(vf_ArithmeticKernels(level).multiply != plainArithmetic.multiply, wide);
    EXPECT_EQ(vf_RingRun(level) != vf_RingRun(Level::scalar), wide);
  }
}

// How far the other implementations' outputs are from the library's, reported
// with each case of the timing run so the table shows the work was the same.

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "cases.h"
#include "memory_probe.h"

bool checkingOutputs() {
  return !measuringMemory();
}

void reportDifference(benchmark::State& state, Shape shape, Op op, const float* values) {
  const std::vector<float>& ref = vexfiltReference(shape, op).values;
  double largest = 0.0, worst = 0.0;
  for (std::size_t i = 0; i < ref.size(); ++i) {
    largest = std::max(largest, std::fabs(static_cast<double>(ref[i])));
    worst = std::max(worst, std::fabs(static_cast<double>(values[i]) - static_cast<double>(ref[i])));
  }
  state.counters["max_diff"] = largest > 0.0 ? worst / largest : worst;
}

void reportDifference(benchmark::State& state, Shape shape, Op op, const unsigned char* pixels, long rowStride) {
  const std::vector<unsigned char>& ref = vexfiltReference(shape, op).pixels;
  int worst = 0;
  for (long y = 0; y < shape.height; ++y)
    for (long x = 0; x < shape.width; ++x) {
      const int a = pixels[y * rowStride + x], r = ref[static_cast<std::size_t>(y * shape.width + x)];
      worst = std::max(worst, std::abs(a - r));
    }
  state.counters["max_diff"] = worst;
}

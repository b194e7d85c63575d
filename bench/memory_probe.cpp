// See memory_probe.h.

#include "memory_probe.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS"); -1 when missing.
long statusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  const std::size_t n = std::strlen(field);
  for (std::string line; std::getline(status, line);)
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') return std::atol(line.c_str() + n + 1);
  return -1;
}

struct Probe {
  bool started = false;
  bool reset = false;
  long baselineKiB = 0;
};

Probe& probe() {
  static Probe p;
  return p;
}

}  // namespace

bool measuringMemory() {
  static const bool on = [] {
    const char* v = std::getenv("VEXFILT_BENCH_MEMORY");
    return v != nullptr && std::strcmp(v, "1") == 0;
  }();
  return on;
}

void memoryBaseline() {
  Probe& p = probe();
  if (!measuringMemory() || p.started) return;
  p.started = true;
#if defined(__GLIBC__)
  // Making the inputs freed memory that the allocator keeps resident; a case
  // reusing it would grow no pages. Hand it back first.
  malloc_trim(0);
#endif
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5" << std::flush;
  p.reset = static_cast<bool>(clear);
  p.baselineKiB = p.reset ? statusKiB("VmRSS") : statusKiB("VmHWM");
}

void reportMemory(benchmark::State& state) {
  const Probe& p = probe();
  if (!measuringMemory() || !p.started) return;
  const long peak = statusKiB("VmHWM");
  state.counters["peak_MiB"] = static_cast<double>(peak - p.baselineKiB) / 1024.0;
  state.counters["peak_reset"] = p.reset ? 1.0 : 0.0;
}

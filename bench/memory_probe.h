// Peak memory of a case, measured in a process that runs only that case
// (bench/run.sh starts one per case with --benchmark_filter and the
// environment variable VEXFILT_BENCH_MEMORY=1).
//
// The measure is the growth of the process's peak resident set (VmHWM in
// /proc/self/status) over its resident set when the case starts, after the
// shared inputs, filters, masks and FFTW plans exist: the case's outputs,
// working arrays and whatever the implementation allocates inside its calls.
// At that point the allocator's free memory goes back to the system
// (malloc_trim, glibc), so that a case reusing what making the inputs freed
// grows the resident set as it would in a fresh program, and the peak is
// reset to the current resident set (writing 5 to /proc/self/clear_refs,
// Linux 4.0 and later); where that is refused, the baseline is the peak so
// far instead and the counter "peak_reset" is 0. One process per case keeps
// cases from reusing each other's freed memory.
#pragma once

#include <benchmark/benchmark.h>

// Whether this process measures memory (VEXFILT_BENCH_MEMORY=1).
bool measuringMemory();

// Starts the measure (first call in the process; later calls do nothing).
void memoryBaseline();

// Adds the counter "peak_MiB" (and "peak_reset") to the case's results.
void reportMemory(benchmark::State& state);

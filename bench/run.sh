#!/usr/bin/env bash
# Builds vexfilt-bench, runs it and writes bench/results.md and bench/results.png.
#
#   bash bench/run.sh            # from anywhere; installs what is missing with apt-get
#
# 1. Timing: every case in one process, one thread, --benchmark_repetitions
#    (default 5) of at least --benchmark_min_time seconds (default 0.15) each;
#    the report takes the median CPU time per call.
# 2. Memory: each case again in a process of its own (VEXFILT_BENCH_MEMORY=1,
#    see bench/memory_probe.h), a few calls, for its peak resident set.
# 3. Inner routines: vexfilt-bench-kernels (the engine per instruction-set
#    level, pixel and arithmetic loops, filter passes, a memcpy for scale).
# 4. bench/report.py turns all of it into the tables and the chart.
#
# Environment: VEXFILT_BENCH_BUILD_DIR (default build-bench), VEXFILT_BENCH_REPETITIONS,
# VEXFILT_BENCH_MIN_TIME, VEXFILT_BENCH_FILTER (a regex over case names, default all),
# VEXFILT_BENCH_JOBS (build jobs, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VEXFILT_BENCH_BUILD_DIR:-build-bench}
repetitions=${VEXFILT_BENCH_REPETITIONS:-5}
min_time=${VEXFILT_BENCH_MIN_TIME:-0.15}
filter=${VEXFILT_BENCH_FILTER:-.}
jobs=${VEXFILT_BENCH_JOBS:-2}

# ---- what the build needs: Debian packages, installed where missing ----
bash .ci/setup bench

# ---- build: Release, the library and the benchmark only ----
echo "== building $build/bench/vexfilt-bench"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEXFILT_BUILD_BENCHMARKS=ON \
  -DVEXFILT_BUILD_TESTS=OFF -DVEXFILT_BUILD_EXAMPLES=OFF -DVEXFILT_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target vexfilt-bench vexfilt-bench-kernels -j"$jobs"

bin=$build/bench/vexfilt-bench
out=$build/bench-results
rm -rf "$out/memory"
mkdir -p "$out/memory"
# FFTW_MEASURE plans are measured once and kept as wisdom for later runs.
export VEXFILT_BENCH_WISDOM=$out/fftw.wisdom
start=$SECONDS

# ---- 1. timing, one process ----
echo "== timing: $repetitions repetitions of >= ${min_time}s per case"
"$bin" --benchmark_filter="$filter" --benchmark_repetitions="$repetitions" --benchmark_min_time="$min_time" \
  --benchmark_report_aggregates_only=true --benchmark_out="$out/timing.json" --benchmark_out_format=json
echo "   (timing took $((SECONDS - start)) s)"

# ---- 2. memory, one process per case ----
echo "== memory: one process per case"
mem_start=$SECONDS
"$bin" --benchmark_filter="$filter" --benchmark_list_tests=true >"$out/cases.txt"
while read -r name; do
  [[ -n $name ]] || continue
  if ! VEXFILT_BENCH_MEMORY=1 "$bin" --benchmark_filter="^${name}\$" --benchmark_min_time=0.01 \
    --benchmark_format=json >"$out/memory/${name//\//_}.json" 2>/dev/null; then
    echo "   $name: failed (reported as n/a)"
  fi
done <"$out/cases.txt"
echo "   (memory took $((SECONDS - mem_start)) s)"
# ---- 3. the inner routines, one process ----
echo "== inner routines"
"$build/bench/vexfilt-bench-kernels" --benchmark_repetitions="$repetitions" --benchmark_min_time="$min_time" \
  --benchmark_report_aggregates_only=true --benchmark_out="$out/kernels.json" --benchmark_out_format=json >/dev/null
cut -d' ' -f1-3 /proc/loadavg >"$out/load-end.txt"

# ---- 4. report ----
python3 -B bench/report.py --timing "$out/timing.json" --memory "$out/memory" --load-end "$out/load-end.txt" --kernels "$out/kernels.json" \
  --markdown bench/results.md --chart bench/results.png
echo "== wrote bench/results.md and bench/results.png (total $((SECONDS - start)) s after the build)"

"""The texture bank's speed table: every texture/ case of vexfilt-bench timed in
one process (median CPU time of the repetitions, interleaved in random order),
then each case again in a
process of its own for its peak memory (VEXFILT_BENCH_MEMORY=1, see
memory_probe.h); prints a Markdown table with the ratios the goals name.

    /usr/bin/python3 bench/texture_bench.py [build/bench/vexfilt-bench] [--repetitions 5]
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys


def run(binary: str, pattern: str, extra: list[str], env: dict[str, str] | None = None) -> list[dict]:
    out = subprocess.run([binary, f"--benchmark_filter={pattern}", "--benchmark_format=json", *extra],
                         check=True, capture_output=True, text=True, env=env)
    return json.loads(out.stdout)["benchmarks"]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binary", nargs="?", default="build/bench/vexfilt-bench")
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()

    # Repetitions of all cases interleaved in random order: the shared machine's load drifts
    # over minutes, and interleaving spreads the drift over every case alike.
    runs = run(args.binary, "^texture/", [f"--benchmark_repetitions={args.repetitions}",
                                          "--benchmark_min_time=0.1",
                                          "--benchmark_enable_random_interleaving=true"])
    cpu: dict[str, list[float]] = {}
    for r in runs:
        if r.get("run_type", "iteration") != "iteration":
            continue
        name = r["run_name"] if "run_name" in r else r["name"]
        cpu.setdefault(name, []).append(r["cpu_time"] * {"ms": 1.0, "us": 1e-3, "ns": 1e-6, "s": 1e3}[r["time_unit"]])
    median = {name: statistics.median(cpu[name]) for name in sorted(cpu)}

    memory: dict[str, float] = {}
    env = dict(os.environ, VEXFILT_BENCH_MEMORY="1")
    for name in median:
        if "/banded_inverse/" in name:
            continue
        for r in run(args.binary, "^" + name + "$", ["--benchmark_min_time=0.01"], env):
            if "peak_MiB" in r:
                memory[name] = r["peak_MiB"]

    def find(prefix: str) -> float:
        return next(v for k, v in median.items() if k.startswith(prefix))

    forward = find("texture/forward/")
    inverses = sum(v for k, v in median.items() if "/banded_inverse/" in k)
    opencv = find("texture/opencv_filter2d/")
    print(f"{args.repetitions} repetitions interleaved, median CPU time, one process; "
          "peak memory one process per case\n")
    print("| case | CPU time (ms) | vs forward + 16 banded inverses | filter2D / case | peak memory (MiB) |")
    print("|---|---|---|---|---|")
    for name, t in median.items():
        if "/banded_inverse/" in name:
            continue
        mem = f"{memory[name]:.0f}" if name in memory else ""
        print(f"| {name} | {t:.1f} | {t / (forward + inverses):.2f} | {opencv / t:.1f} | {mem} |")
    print(f"| 16 banded inverses (sum of banded_inverse/0..15) | {inverses:.1f} | | | |")
    print(f"\nforward + 16 banded inverses: {forward + inverses:.1f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())

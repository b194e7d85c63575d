#!/usr/bin/env python3
"""Timing of the vexfilt Python module, side by side with numpy.fft and scipy.fft.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [--quick]

Prints one table. Per size (square, 256 to 2048) and operation:
  - vexfilt through Python: forward of a uint8 image into a new buffer and
    into a reused one (out=), the raw complex inverse into a reused buffer,
    the inverse to a new float64 magnitude image;
  - the same C++ calls timed in a C++ loop (vexfilt._vexfilt._timing), and
    the binding's overhead: (Python - C++) / C++;
  - numpy.fft.fft2 / ifft2 (numpy computes in double: complex64 in,
    complex128 out) and scipy.fft.fft2 / ifft2 on complex64 (single
    precision), workers=1;
  - two Python threads, each transforming its own buffers (forward, inverse),
    against one thread doing both shares: the time ratio (0.5 is perfect
    scaling; the GIL held would give 1.0).
Times are the best of several runs in milliseconds of the calling thread's
CPU time (user + system, page faults included; the C++ loops read the same
clock), which other processes on a busy machine do not inflate; --wall uses
wall time instead. The thread ratio is wall time by nature: it needs a free
core for the second thread, so the C++ column beside it shows what the
machine allowed at that moment. The benchmark reports; it never judges.
"""

from __future__ import annotations

import argparse
import os
import statistics
import threading
import time
from typing import Callable

import numpy as np

import vexfilt
from vexfilt._vexfilt import _timing

try:
    import scipy.fft as sfft
except ImportError:  # scipy is optional
    sfft = None


CLOCK = time.thread_time


def best(call: Callable[[], object], repeats: int, clock: Callable[[], float] | None = None) -> float:
    """Best time of `repeats` calls, in seconds (one warm-up call first)."""
    clock = clock or CLOCK
    call()
    times = []
    for _ in range(repeats):
        start = clock()
        call()
        times.append(clock() - start)
    return min(times)


def paired(python_call: Callable[[], object], cpp_calls: Callable[[int], list[float]], repeats: int,
           rounds: int = 7) -> tuple[float, float]:
    """Mean times per call of a Python loop and of the same calls in a C++ loop, measured in
    alternating rounds so that both see the same load on a shared machine; the medians over
    the rounds. Whole loops are timed (not single calls), so the clock's own cost and the
    luck of one call do not decide the comparison."""
    py, cpp = [], []
    per_round = max(2, repeats // 2)
    python_call()
    for _ in range(rounds):
        start = CLOCK()
        for _ in range(per_round):
            python_call()
        py.append((CLOCK() - start) / per_round)
        cpp.append(sum(cpp_calls(per_round)) / per_round)
    return statistics.median(py), statistics.median(cpp)


def thread_ratio(size: int, per_thread: int, repeats: int, in_cpp: bool = False) -> float:
    """Two threads on their own buffers against one thread doing both shares (best of `repeats`).

    in_cpp: each share is one C++ loop (the timing helper) instead of Python calls, which gives
    what the machine allows two threads of the library at the moment, without the binding.
    """
    rng = np.random.default_rng(size)
    images = [rng.integers(0, 256, (size, size), dtype=np.uint8) for _ in range(2)]
    buffers = [vexfilt.forward(im) for im in images]
    results = [vexfilt.FrequencyBuffer() for _ in range(2)]

    def share(i: int) -> None:
        if in_cpp:
            _timing.forward(images[i], per_thread)
            _timing.inverse(buffers[i], per_thread)
            return
        for _ in range(per_thread):
            vexfilt.forward(images[i], out=buffers[i])
            vexfilt.inverse(buffers[i], "buffer", out=results[i])

    def serial() -> None:
        share(0)
        share(1)

    def parallel() -> None:
        threads = [threading.Thread(target=share, args=(i,)) for i in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    one, two = [], []
    for _ in range(repeats):  # interleaved, so that both see the same load
        one.append(best(serial, 1, time.perf_counter))
        two.append(best(parallel, 1, time.perf_counter))
    return min(two) / min(one)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="fewer repetitions")
    parser.add_argument("--wall", action="store_true", help="wall time instead of thread CPU time")
    parser.add_argument("--sizes", type=int, nargs="+", default=[256, 512, 1024, 2048], help="square sizes")
    parser.add_argument("--scale", type=float, default=None, help="repetition factor (default 3, --quick 1)")
    args = parser.parse_args()
    global CLOCK
    if args.wall:
        CLOCK = time.perf_counter
    scale = args.scale or (1 if args.quick else 3)

    print(f"vexfilt {vexfilt.__version__}, numpy {np.__version__}"
          + (f", scipy {__import__('scipy').__version__}" if sfft else ", no scipy")
          + f"; {os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.1f}; best of n runs, ms of "
          + ("wall time" if args.wall else "thread CPU time"))
    header = (f"{'size':>6} | {'fwd py':>8} {'fwd out=':>8} {'fwd C++':>8} {'ovh':>6} | {'np fft2':>8} {'sp fft2':>8}"
              f" | {'inv out=':>8} {'inv C++':>8} {'ovh':>6} | {'inv img':>8} {'img C++':>8} {'ovh':>6}"
              f" | {'np ifft2':>8} {'sp ifft2':>8} | {'2 thr':>5} {'C++':>5}")
    print(header)
    print("-" * len(header))
    for size in args.sizes:
        repeats = max(3, int(scale * 4 * (2048 // size) ** 1.2 / 2))
        rng = np.random.default_rng(size)
        image = rng.integers(0, 256, (size, size), dtype=np.uint8)
        c64 = image.astype(np.complex64)
        spectrum = vexfilt.forward(image)
        reused = vexfilt.FrequencyBuffer()
        raw = vexfilt.FrequencyBuffer()
        z = spectrum.array.copy()

        fwd_new = best(lambda: vexfilt.forward(image), repeats)
        cpu = not args.wall
        fwd_out, fwd_cpp = paired(lambda: vexfilt.forward(image, out=reused),
                                  lambda n: _timing.forward(image, n, cpu), repeats)
        inv_out, inv_cpp = paired(lambda: vexfilt.inverse(spectrum, "buffer", out=raw),
                                  lambda n: _timing.inverse(spectrum, n, cpu), repeats)
        img_py, img_cpp = paired(lambda: vexfilt.inverse(spectrum, np.float64),
                                 lambda n: _timing.inverse_image(spectrum, n, cpu), repeats)
        np_fwd = best(lambda: np.fft.fft2(c64), repeats)
        np_inv = best(lambda: np.fft.ifft2(z), repeats)
        sp_fwd = best(lambda: sfft.fft2(c64, workers=1), repeats) if sfft else float("nan")
        sp_inv = best(lambda: sfft.ifft2(z, workers=1), repeats) if sfft else float("nan")
        ratio = thread_ratio(size, max(1, repeats // 3), 3 if args.quick else 5)
        ratio_cpp = thread_ratio(size, max(1, repeats // 3), 3 if args.quick else 5, in_cpp=True)

        ms = lambda s: f"{1e3 * s:8.2f}"  # noqa: E731
        pct = lambda a, b: f"{100 * (a - b) / b:5.1f}%"  # noqa: E731
        print(f"{size:>6} | {ms(fwd_new)} {ms(fwd_out)} {ms(fwd_cpp)} {pct(fwd_out, fwd_cpp)} | {ms(np_fwd)} {ms(sp_fwd)}"
              f" | {ms(inv_out)} {ms(inv_cpp)} {pct(inv_out, inv_cpp)} | {ms(img_py)} {ms(img_cpp)} {pct(img_py, img_cpp)}"
              f" | {ms(np_inv)} {ms(sp_inv)} | {ratio:5.2f} {ratio_cpp:5.2f}")
    print("fwd py: forward into a new buffer; fwd out=: into a reused buffer (the C++ loop reuses its buffer too);"
          " inv out=: raw complex inverse into a reused buffer; inv img: inverse to a new float64 magnitude image;"
          " ovh: (Python - C++) / C++; 2 thr: two threads / one thread for the same work (forward + inverse),"
          " through Python and, beside it, as C++ loops (what the machine allowed at that moment).")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Turns vexfilt-bench's JSON into bench/results.md and bench/results.png.

  report.py --timing timing.json --memory DIR [--load-end FILE] --markdown results.md --chart results.png

timing.json: the one-process run with --benchmark_repetitions and
--benchmark_report_aggregates_only (medians and coefficients of variation of
the CPU time per call). DIR: one JSON file per case from the memory runs
(counter peak_MiB). Standard library only.
"""

import argparse
import json
import math
import os
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import chart  # noqa: E402

IMPLS = [("vexfilt", "vexfilt"), ("fftw", "FFTW"), ("opencv", "OpenCV")]
OPS = [
    ("complex_forward", "complex forward"),
    ("complex_inverse", "complex inverse"),
    ("real_forward", "real forward (u8)"),
    ("inverse_u8", "inverse to u8"),
    ("gabor_pipeline", "Gabor pipeline"),
    ("bandpass_pipeline", "band-pass pipeline"),
]
PIXEL_OPS = {"inverse_u8", "gabor_pipeline", "bandpass_pipeline"}
SHAPES = ["256x256", "512x512", "1024x1024", "2048x2048", "2048x512", "512x2048"]
TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def load_timing(path):
    data = json.loads(pathlib.Path(path).read_text())
    median, cv, diff, errors = {}, {}, {}, {}
    for b in data["benchmarks"]:
        name = b.get("run_name", b["name"])
        if b.get("error_occurred"):
            errors[name] = b.get("error_message", "error")
            continue
        kind = b.get("aggregate_name")
        if kind == "median":
            median[name] = b["cpu_time"] * TO_MS[b.get("time_unit", "ns")]
            if "max_diff" in b:
                diff[name] = b["max_diff"]
        elif kind == "cv":
            cv[name] = b["cpu_time"]
    return data.get("context", {}), median, cv, diff, errors


def load_memory(directory):
    peak = {}
    for f in sorted(pathlib.Path(directory).glob("*.json")):
        try:
            for b in json.loads(f.read_text())["benchmarks"]:
                if "peak_MiB" in b:
                    peak[b.get("run_name", b["name"])] = b["peak_MiB"]
        except (ValueError, KeyError):
            pass
    return peak


def ms(v):
    if v is None:
        return "n/a"
    return "%.3g" % v if v < 100 else "%.0f" % v


def ratio(a, b):
    return a / b if a is not None and b else None


def fmt_ratio(r):
    return "n/a" if r is None else "%.2f" % r


def fmt_mib(v):
    return "n/a" if v is None else "%.1f" % max(v, 0.0)


def fmt_diff(op, v):
    if v is None:
        return "n/a"
    return "%d" % round(v) if op in PIXEL_OPS else "%.1e" % v


def geomean(values):
    values = [v for v in values if v]
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else None


def cpu_model():
    """The processor's name from /proc/cpuinfo (Linux), or None."""
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return None


def engine_level(path):
    """The widest instruction-set level vexfilt-bench-kernels ran the engine at: it
    registers only the levels this CPU supports, and the library picks the widest."""
    if not path:
        return None
    try:
        _, median, _, _, _ = load_timing(path)
    except (OSError, ValueError):
        return None
    levels = ["scalar", "sse2", "avx2", "avx512"]
    ran = [lv for lv in levels if any(n.startswith("engine/complex_forward/%s/" % lv) for n in median)]
    return ran[-1] if ran else None


def kernel_section(path, w):
    """The inner routines of vexfilt-bench-kernels: median CPU ms per call."""
    _, median, _, _, errors = load_timing(path)
    w("## Inner routines")
    w("")
    w("`vexfilt-bench-kernels`, same run: the engine forced to each instruction-set level this CPU has (all give "
      "the same bits), the 8-bit pixel loop and the product loop per level, single in-place filter passes, and "
      "a `memcpy` of one 2048 x 2048 complex array (32 MiB read, 32 MiB written) as the memory floor. The pixel "
      "and product loops have no SSE2 form (it lacks a rounding instruction): at that level they run the plain "
      "loop, which the compiler vectorises where it can. Median CPU time per call in milliseconds.")
    w("")
    w("| routine | ms |")
    w("|---|--:|")
    for name in median:  # in the order the program registered them
        w("| %s | %s |" % (name, ms(median[name])))
    for name, message in sorted(errors.items()):
        w("| %s | failed: %s |" % (name, message))
    w("")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--timing", required=True)
    ap.add_argument("--memory", required=True)
    ap.add_argument("--markdown", required=True)
    ap.add_argument("--chart", required=True)
    ap.add_argument("--load-end", help="/proc/loadavg's first three fields when the runs ended")
    ap.add_argument("--kernels", help="vexfilt-bench-kernels' JSON (medians), for the inner-routine table")
    args = ap.parse_args()

    context, median, cv, diff, errors = load_timing(args.timing)
    peak = load_memory(args.memory)
    key = lambda impl, op, shape: "%s/%s/%s" % (impl, op, shape)  # noqa: E731
    shapes = [s for s in SHAPES if any(key(i, o, s) in median for i, _ in IMPLS for o, _ in OPS)]
    ops = [(o, t) for o, t in OPS if any(key(i, o, s) in median for i, _ in IMPLS for s in shapes)]

    load_start = context.get("load_avg") or []
    load_end = os.getloadavg()
    if args.load_end:
        try:
            load_end = [float(x) for x in pathlib.Path(args.load_end).read_text().split()[:3]]
        except (OSError, ValueError):
            pass
    reps = None
    try:
        reps = json.loads(pathlib.Path(args.timing).read_text())["benchmarks"][0].get("repetitions")
    except (ValueError, KeyError, IndexError):
        pass
    worst_cv = max(cv.values()) if cv else None

    out = []
    w = out.append
    w("# vexfilt-bench results")
    w("")
    # The benchmark itself keeps one core busy (a load near 1). The load at the
    # start still carries whatever ran before, so the end and the spread of
    # the repetitions tell whether other work ran alongside.
    busy = load_end[0] > 1.5 or (worst_cv is not None and worst_cv > 0.10)
    w("Written by `bash bench/run.sh` (see the README, \"Benchmarks\"). Run of %s on %s: %s CPUs at %s MHz; "
      "load average %s at the start and %s at the end%s"
      % (context.get("date", "?"), context.get("host_name", "?"), context.get("num_cpus", "?"),
         context.get("mhz_per_cpu", "?"), "/".join("%.2f" % x for x in load_start[:3]) or "?",
         "/".join("%.2f" % x for x in load_end),
         ". **Other work was running on the machine during the run (the benchmark itself loads one core), so the "
         "numbers are noisy**: compare within a row rather than across runs." if busy else "."))
    w("")
    w("CPU: %s; the engine ran its %s level (the widest this CPU supports; ratios from different CPUs are "
      "not comparable)." % (cpu_model() or "unknown", engine_level(args.kernels) or "(unknown)"))
    w("")
    w("vexfilt %s (Release), FFTW %s (single precision, FFTW_MEASURE plans), OpenCV %s with %s thread(s); "
      "one thread each, the same inputs for all three."
      % (context.get("vexfilt", "?"), context.get("fftw", "?"), context.get("opencv", "?"),
         context.get("opencv_threads", "?")))
    w("")
    w("## Time per call")
    w("")
    w("Median over %s repetitions of the CPU time per call, in milliseconds (CPU rather than wall time, which on a "
      "shared machine also counts waiting for a core; the JSON beside the run has both). `/ FFTW` is the ratio of medians: below 1 is faster "
      "than FFTW. The largest coefficient of variation of any case over its repetitions was %s."
      % (reps or "the", "%.0f %%" % (100 * worst_cv) if worst_cv is not None else "n/a"))
    w("")
    w("| operation | shape | vexfilt | FFTW | OpenCV | vexfilt / FFTW | OpenCV / FFTW |")
    w("|---|---|--:|--:|--:|--:|--:|")
    for op, title in ops:
        for s in shapes:
            t = {i: median.get(key(i, op, s)) for i, _ in IMPLS}
            w("| %s | %s | %s | %s | %s | %s | %s |" % (
                title, s, ms(t["vexfilt"]), ms(t["fftw"]), ms(t["opencv"]),
                fmt_ratio(ratio(t["vexfilt"], t["fftw"])), fmt_ratio(ratio(t["opencv"], t["fftw"]))))
    w("")
    w("Geometric mean over the shapes of the ratio to FFTW:")
    w("")
    w("| operation | vexfilt / FFTW | OpenCV / FFTW |")
    w("|---|--:|--:|")
    for op, title in ops:
        g = {i: geomean([ratio(median.get(key(i, op, s)), median.get(key("fftw", op, s))) for s in shapes])
             for i in ("vexfilt", "opencv")}
        w("| %s | %s | %s |" % (title, fmt_ratio(g["vexfilt"]), fmt_ratio(g["opencv"])))
    w("")
    w("## Peak memory and agreement")
    w("")
    w("Peak memory: MiB by which the peak resident set of a fresh process running only that case grew over its "
      "resident set once the shared inputs, filters, masks and FFTW plans existed (outputs, working arrays and "
      "whatever each implementation allocates inside its calls; `bench/memory_probe.h`). Max diff: the largest "
      "difference from vexfilt's output in the same run, in grey levels for 8-bit outputs, relative to the "
      "largest magnitude for complex ones (vexfilt computes in double and rounds once, FFTW and OpenCV in float).")
    w("")
    w("| operation | shape | vexfilt MiB | FFTW MiB | OpenCV MiB | FFTW max diff | OpenCV max diff |")
    w("|---|---|--:|--:|--:|--:|--:|")
    for op, title in ops:
        for s in shapes:
            w("| %s | %s | %s | %s | %s | %s | %s |" % (
                title, s, fmt_mib(peak.get(key("vexfilt", op, s))), fmt_mib(peak.get(key("fftw", op, s))),
                fmt_mib(peak.get(key("opencv", op, s))), fmt_diff(op, diff.get(key("fftw", op, s))),
                fmt_diff(op, diff.get(key("opencv", op, s)))))
    w("")
    if errors:
        w("## Cases that failed")
        w("")
        for name, message in sorted(errors.items()):
            w("- `%s`: %s" % (name, message))
        w("")
    w("## What each case does")
    w("")
    w("Inputs (untimed, shared): an 8-bit scene (two gratings and noise), a complex array (the scene + i times "
      "its mirror image), the scene's spectrum, a Gabor filter (0.08 cycles/pixel at 30 degrees, sigma 0.015) "
      "and a band-pass filter (0.1 cycles/pixel, sigma 0.02, plateau 0.01). FFTW and OpenCV multiply by those "
      "filters' own responses (a small Gaussian patch, a ring), read back from the library, so all three apply "
      "the same coefficients. Each case makes one untimed call before its timed loop.")
    w("")
    w("- **vexfilt**: `vfForwardFFT(buffer, other)`, `vfInverseFFT(buffer, other)`, "
      "`vfForwardFFT<unsigned char>(image, buffer)`, `vfInverseFFT<unsigned char>(spectrum, image, false)` "
      "(the const form, which transforms a copy); pipelines: forward, `filter.apply(buffer)`, in-place "
      "`vfInverseFFT<unsigned char>`.")
    w("- **FFTW**: c2c out of place; r2c + the full spectrum filled by symmetry; half spectrum copied + c2r + "
      "round(|x|/N) (c2r assumes a conjugate-symmetric spectrum; the library inverts the full complex array); "
      "Gabor: r2c, the patch written into a zeroed full array, in-place c2c backward, round(|z|/N); band-pass: "
      "r2c, half spectrum times the ring, c2r, round(|x|/N).")
    w("- **OpenCV**: `cv::dft` / `cv::idft`; real forward: `convertTo(CV_32F)` + `dft(DFT_COMPLEX_OUTPUT)`; "
      "inverse to u8: `idft(DFT_SCALE | DFT_REAL_OUTPUT)` + `convertTo(CV_8U)`; pipelines: `convertTo`, `dft`, "
      "`mulSpectrums` with a full-size mask, `idft(DFT_SCALE)`, `split`, `magnitude`, `convertTo(CV_8U)`.")
    w("")
    w("![time relative to FFTW](results.png)")
    w("")
    if args.kernels:
        kernel_section(args.kernels, w)
    pathlib.Path(args.markdown).write_text("\n".join(out))

    panels = []
    for op, title in ops:
        data = {}
        for impl, label in (("vexfilt", "vexfilt"), ("opencv", "OpenCV")):
            data[label] = [ratio(median.get(key(impl, op, s)), median.get(key("fftw", op, s))) for s in shapes]
        panels.append((title, data))
    png = chart.ratio_chart(
        panels, shapes, [("vexfilt", (31, 119, 180)), ("OpenCV", (255, 127, 14))],
        "MEDIAN CPU TIME PER CALL RELATIVE TO FFTW",
        "LOG SCALE, ONE THREAD; BELOW THE LINE IS FASTER THAN FFTW (%s)" % (
            str(context.get("date", "?"))[:10]))
    pathlib.Path(args.chart).write_bytes(png)


if __name__ == "__main__":
    main()

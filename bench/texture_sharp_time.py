#!/usr/bin/python3
"""Time of the invariant texture model's training and distances, plain against
sharp boxes, on the left and right 512 x 256 halves of scikit-image's brick
(the natural-texture configuration: bank 0.05/0.1/0.2/0.3/0.4 x 8, r = 24).

Medians of REPEATS runs, each set timed in turn within a run so that the ratio
is taken under the same load.

usage: PYTHONPATH=BUILD/python bench/texture_sharp_time.py [REPEATS]
"""
import sys
import time

import numpy as np
import skimage.data

import vexfilt

FREQS = [0.05, 0.1, 0.2, 0.3, 0.4]
repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 5
brick = skimage.data.brick()
left, right = np.ascontiguousarray(brick[:, :256]), np.ascontiguousarray(brick[:, 256:])
times = {(s, what): [] for s in ("invariant", "invariant_sharp") for what in ("train", "distance", "energy")}
for _ in range(repeats):
    for s in ("invariant", "invariant_sharp"):
        model = vexfilt.GaborBank(FREQS, 8, features=s)
        t0 = time.perf_counter()
        model.train([left])
        t1 = time.perf_counter()
        model.distance(right)
        t2 = time.perf_counter()
        model.energy(right)
        t3 = time.perf_counter()
        times[(s, "train")].append(t1 - t0)
        times[(s, "distance")].append(t2 - t1)
        times[(s, "energy")].append(t3 - t2)
for what in ("train", "distance", "energy"):
    a, b = np.median(times[("invariant", what)]), np.median(times[("invariant_sharp", what)])
    print(f"{what:9s} plain {1e3 * a:7.1f} ms, sharp {1e3 * b:7.1f} ms, ratio {b / a:.2f} (median of {repeats})")

#!/usr/bin/python3
"""Peers of the texture bank, timed in Python on one thread: scikit-image's
`gabor` (spatial convolution, real and imaginary kernels) and a
frequency-domain bank written with scipy.fft (one forward transform, 16
full-size complex inverses of the one-sided Gaussian patches).

Same bank as bench/cases_texture.cpp: frequencies 0.08 and 0.16 cycles per
pixel, 8 orientations, 1 octave, angular bandwidth 45 degrees, on the
2048^2 8-bit scene. scikit-image is run on a 512^2 crop and its time scaled
by 16 (its cost is proportional to the pixels for a fixed kernel), unless
--full is given.

usage: bench/texture_compare.py [--full]
"""
import os
import resource
import sys
import time

os.environ.setdefault("OMP_NUM_THREADS", "1")
import numpy as np  # noqa: E402
import scipy.fft  # noqa: E402
import skimage.filters  # noqa: E402

FREQS, N, OCTAVES, ANGULAR = (0.08, 0.16), 8, 1.0, np.pi / 4
HALF_PEAK = np.sqrt(2 * np.log(2))


def bank():
    """(frequency, angle, sigma_u, sigma_v) per filter, as vcGaborBank derives them."""
    radial = (2**OCTAVES - 1) / ((2**OCTAVES + 1) * HALF_PEAK)
    angular = np.tan(ANGULAR / 2) / HALF_PEAK
    return [(f, n * np.pi / N, f * radial, f * angular) for f in FREQS for n in range(N)]


def scene(n):
    """The bench's scene: gratings at 0.08 (30 deg) and 0.2 cycles per pixel and noise."""
    rng = np.random.default_rng(1)
    y, x = np.mgrid[:n, :n].astype(float)
    a = np.radians(30)
    v = 128 + 60 * np.cos(2 * np.pi * 0.08 * (x * np.cos(a) + y * np.sin(a))) + 20 * np.cos(2 * np.pi * 0.2 * x)
    return np.clip(v + rng.uniform(-20, 20, v.shape), 0, 255).astype(np.uint8)


def skimage_bank(image):
    out = []
    for f, t, su, sv in bank():
        re, im = skimage.filters.gabor(image, frequency=f, theta=t, sigma_x=1 / (2 * np.pi * su),
                                       sigma_y=1 / (2 * np.pi * sv))
        out.append(np.hypot(re, im))
    return out


def scipy_bank(image):
    h, w = image.shape
    spectrum = scipy.fft.fft2(image.astype(np.float32), workers=1)
    spectrum[0, 0] = 0
    fy = scipy.fft.fftfreq(h)[:, None]
    fx = scipy.fft.fftfreq(w)[None, :]
    out = []
    for f, t, su, sv in bank():
        du, dv = fx * np.cos(t) + fy * np.sin(t) - f, -fx * np.sin(t) + fy * np.cos(t)
        g = np.exp(-du**2 / (2 * su**2) - dv**2 / (2 * sv**2)).astype(np.float32)
        out.append(np.abs(scipy.fft.ifft2(spectrum * g, workers=1)))
    return out


def timed(fn, *args):
    t0 = time.process_time()
    fn(*args)
    return time.process_time() - t0


if __name__ == "__main__":
    full = scene(2048)
    t_scipy = timed(scipy_bank, full)
    print(f"scipy.fft bank, 2048^2, 16 filters: {t_scipy:.2f} s CPU")
    if "--full" in sys.argv:
        t_sk = timed(skimage_bank, full)
        print(f"scikit-image gabor, 2048^2, 16 filters: {t_sk:.2f} s CPU")
    else:
        t_sk = timed(skimage_bank, full[:512, :512])
        print(f"scikit-image gabor, 512^2, 16 filters: {t_sk:.2f} s CPU; "
              f"scaled to 2048^2 (x16): {16 * t_sk:.1f} s")
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"peak resident set of this process: {peak:.0f} MiB")

"""Aligning two views of a part and inspecting its texture, on numpy arrays.

A part's surface (smooth random relief) is seen twice: the second view moved by
a fractional shift, then turned by a quarter turn. phase_correlate measures the
shift, register_similarity the turn. A GaborBank trained on a woven texture
(two crossed gratings and noise) finds a patch woven the other way.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/vision.py
"""

from __future__ import annotations

import sys

import numpy as np
import numpy.typing as npt
import vexfilt


def weave(size: int, angle: float, rng: np.random.Generator) -> npt.NDArray[np.float64]:
    """Two crossed gratings at 0.1 cycles per pixel, the first at `angle`, and noise."""
    y, x = np.mgrid[0:size, 0:size].astype(np.float64)
    out = 128 + rng.normal(0, 8, (size, size))
    for a, amplitude in ((angle, 40.0), (angle + np.pi / 2, 20.0)):
        out += amplitude * np.cos(2 * np.pi * 0.1 * (x * np.cos(a) + y * np.sin(a)))
    return out


def relief(size: int, rng: np.random.Generator, dx: float = 0.0, dy: float = 0.0) -> npt.NDArray[np.float64]:
    """Low-pass random relief, moved by (dx, dy) exactly (a Fourier shift, periodic over the image)."""
    f = np.fft.fftfreq(size, 1.0)
    fy, fx = f[:, None], f[None, :]
    spectrum = np.fft.fft2(rng.normal(0, 1, (size, size))) * np.exp(-(fx ** 2 + fy ** 2) / (2 * 0.05 ** 2))
    if dx or dy:
        spectrum = spectrum * np.exp(-2j * np.pi * (fx * dx + fy * dy))
    out: npt.NDArray[np.float64] = np.fft.ifft2(spectrum).real
    scaled: npt.NDArray[np.float64] = 128 + 40 * out / out.std()
    return scaled


def main() -> int:
    rng = np.random.default_rng(8)
    size = 256
    reference = relief(size, np.random.default_rng(8))
    moved = relief(size, np.random.default_rng(8), dx=6.25, dy=-3.5)
    shift = vexfilt.phase_correlate(reference, moved)
    print(f"shift: dx {shift.dx:.3f}, dy {shift.dy:.3f} (true 6.25, -3.5), confidence {shift.confidence:.2f}")

    turned = np.rot90(moved).copy()  # a quarter turn, as the array is displayed
    similarity = vexfilt.register_similarity(reference, turned)
    # np.rot90 turns counter-clockwise as displayed (rows down): -90 degrees in the library's convention.
    print(f"similarity: angle {np.degrees(similarity.angle):.2f} degrees (true -90), scale {similarity.scale:.4f}")

    bank = vexfilt.GaborBank([0.1], orientations=8)
    bank.train([weave(size, 0.3, rng)])
    flawed = weave(size, 0.3, rng)
    flawed[96:160, 96:160] = weave(size, 0.3 + np.pi / 4, rng)[96:160, 96:160]
    defects: npt.NDArray[np.bool_] = bank.defects(flawed)
    found = float(defects[104:152, 104:152].mean())
    print(f"defects: {100 * found:.0f} % of the patch's interior flagged, "
          f"{100 * float(defects.mean()):.1f} % of the image")
    ok = (abs(shift.dx - 6.25) < 0.05 and abs(shift.dy + 3.5) < 0.05 and abs(similarity.angle + np.pi / 2) < 0.01
          and found > 0.9)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())

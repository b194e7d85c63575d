"""Shared fixtures of the vexfilt tests: sample photographs and test images."""

from __future__ import annotations

import sys
import threading
import time
from typing import Callable, Iterable

import numpy as np
import pytest


def relative_rms(got: np.ndarray, want: np.ndarray) -> float:
    """sqrt(sum |got - want|^2 / sum |want|^2)."""
    got = got.astype(np.complex128)
    return float(np.sqrt(np.sum(np.abs(got - want) ** 2) / np.sum(np.abs(want) ** 2)))


def fft_bound(width: int, height: int) -> float:
    """The library's stated accuracy of a transform: relative RMS error against an exact DFT."""
    return max(2e-6, 6e-9 * max(width, height))


def padded(image: np.ndarray) -> np.ndarray:
    """`image` at the top left of zeros padded to powers of two, as the library pads it."""
    h, w = image.shape
    ph, pw = 1 << (h - 1).bit_length(), 1 << (w - 1).bit_length()
    out = np.zeros((ph, pw), dtype=np.float64)
    out[:h, :w] = image
    return out


@pytest.fixture(scope="session")
def photos() -> dict[str, np.ndarray]:
    """scikit-image's grey sample photographs (uint8), and one colour photo's channel mean cut to an odd size."""
    data = pytest.importorskip("skimage.data", reason="scikit-image (python3-skimage) ships the sample photographs")
    out = {name: getattr(data, name)() for name in ("camera", "moon", "coins", "text", "page")}
    out["astronaut_odd"] = data.astronaut().mean(axis=2)[:301, :257].round().astype(np.uint8)
    return out


@pytest.fixture
def rng() -> np.random.Generator:
    return np.random.default_rng(1234)


def assert_releases_gil(calls: Iterable[Callable[[], object]]) -> None:
    """Runs each call while another Python thread counts.

    The switch interval is raised far beyond the test's length, so the
    interpreter never takes the GIL from a thread running Python code: the
    counting thread runs only while the main thread waits outside the GIL
    (its sleeps, and calls that release the GIL), and it hands the GIL back
    after every hundred counts. A call that keeps the GIL therefore sees the
    counter stand exactly still. A call that releases it may also see that
    when the machine is busy and the counting thread gets no core in time, so
    such a call is repeated (for up to 10 s) until one run shows the counter
    moving."""
    counter = [0]
    stop = threading.Event()

    def spin() -> None:
        while not stop.is_set():
            counter[0] += 1
            if counter[0] % 100 == 0:
                time.sleep(0)

    interval = sys.getswitchinterval()
    thread = threading.Thread(target=spin)
    thread.start()
    try:
        while counter[0] == 0:
            time.sleep(0.001)
        sys.setswitchinterval(1000.0)
        for call in calls:
            deadline = time.monotonic() + 10.0
            while True:
                before = counter[0]
                call()
                moved = counter[0] - before
                if moved > 0 or time.monotonic() > deadline:
                    break
            assert moved > 0, f"no other thread ran during {call}: it kept the GIL"
    finally:
        sys.setswitchinterval(interval)
        stop.set()
        thread.join()

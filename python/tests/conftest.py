"""Shared fixtures of the vexfilt tests: sample photographs and test images."""

from __future__ import annotations

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
    """Runs each call while another Python thread counts: with the GIL held
    that thread could not advance by more than a switch or two."""
    counter = [0]
    stop = threading.Event()

    def spin() -> None:
        while not stop.is_set():
            counter[0] += 1

    thread = threading.Thread(target=spin)
    thread.start()
    try:
        while counter[0] == 0:
            time.sleep(0.001)
        for call in calls:
            before = counter[0]
            call()
            assert counter[0] - before > 1000
    finally:
        stop.set()
        thread.join()

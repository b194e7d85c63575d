"""Two Python threads transforming their own buffers at once.

Heavy calls release the GIL, so the threads run in parallel; one filter
serves both (apply is const). Prints the time of both batches in one thread
and in two.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/threads.py
"""

from __future__ import annotations

import threading
import time

import numpy as np
import numpy.typing as npt
import vexfilt


def work(images: list[npt.NDArray[np.uint8]], ring: vexfilt.BandPass, out: list[npt.NDArray[np.uint8]]) -> None:
    for image in images:
        spectrum = vexfilt.forward(image)
        ring.apply(spectrum)
        out.append(vexfilt.inverse(spectrum, np.uint8))


def main() -> None:
    rng = np.random.default_rng(3)
    batches = [[rng.integers(0, 256, (1024, 1024), dtype=np.uint8) for _ in range(4)] for _ in range(2)]
    ring = vexfilt.BandPass(sigma=0.02, plateau=0.0, frequency=0.1, size=(1024, 1024))

    one: list[npt.NDArray[np.uint8]] = []
    start = time.perf_counter()
    for images in batches:
        work(images, ring, one)
    serial = time.perf_counter() - start

    results: list[list[npt.NDArray[np.uint8]]] = [[], []]
    threads = [threading.Thread(target=work, args=(batches[i], ring, results[i])) for i in range(2)]
    start = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    parallel = time.perf_counter() - start

    same = all(np.array_equal(a, b) for a, b in zip(one, results[0] + results[1]))
    print(f"one thread {serial:.3f} s, two threads {parallel:.3f} s ({parallel / serial:.2f}); same results: {same}")


if __name__ == "__main__":
    main()

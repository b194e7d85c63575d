"""A batch of images through forward, filter and inverse on a Dask cluster.

Two worker processes on this machine (dask.distributed LocalCluster) each
receive the Gabor filter once, pickled through the library's archive record,
and filter their share of the batch; every result is compared bit for bit
with the same work done in this process.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/dask_batch.py
"""

from __future__ import annotations

import os
import sys

import numpy as np
import numpy.typing as npt
import vexfilt
from distributed import Client, LocalCluster


def texture_strength(image: npt.NDArray[np.uint8], gabor: vexfilt.Gabor) -> npt.NDArray[np.uint8]:
    """Forward, Gabor filter, inverse magnitude: where the image has the filter's texture."""
    spectrum = vexfilt.forward(image)
    gabor.apply(spectrum)
    return vexfilt.inverse(spectrum, np.uint8, stretch=True)


def batch(count: int, size: int) -> list[npt.NDArray[np.uint8]]:
    """Gratings at 0.1 cycles per pixel and 30 degrees with a flaw each, plus noise."""
    rng = np.random.default_rng(2)
    y, x = np.mgrid[0:size, 0:size]
    grating = 100 + 60 * np.cos(2 * np.pi * 0.1 * (x * np.cos(np.pi / 6) + y * np.sin(np.pi / 6)))
    images = []
    for k in range(count):
        image = grating + rng.normal(0, 15, grating.shape)
        cy, cx = rng.integers(size // 4, 3 * size // 4, 2)
        image[(y - cy) ** 2 + (x - cx) ** 2 < (size // 10 + k) ** 2] = 100
        images.append(np.clip(image, 0, 255).astype(np.uint8))
    return images


def main() -> int:
    size = 256
    images = batch(16, size)
    gabor = vexfilt.Gabor(sigma=(0.02, 0.02), plateau=(0.0, 0.0), angle=np.pi / 6, frequency=0.1, size=(size, size))
    here = [texture_strength(image, gabor) for image in images]

    # Workers are fresh interpreters: they find vexfilt through PYTHONPATH.
    package_root = os.path.dirname(os.path.dirname(vexfilt.__file__))
    os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [package_root, os.environ.get("PYTHONPATH")]))
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                      host="127.0.0.1") as cluster, Client(cluster) as client:
        shipped = client.scatter(gabor, broadcast=True)
        there: list[npt.NDArray[np.uint8]] = client.gather(client.map(texture_strength, images, gabor=shipped))

    same = all(a.tobytes() == b.tobytes() for a, b in zip(here, there))
    print(f"{len(images)} images of {size} x {size} on 2 worker processes: "
          f"{'bit for bit the same as in one process' if same else 'DIFFERENT from one process'}")
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())

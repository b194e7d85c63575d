"""A batch on a dask.distributed cluster of two worker processes: forward,
filter (shipped to the workers by pickling, i.e. through its archive record),
inverse; every result must equal the single-process result bit for bit."""

from __future__ import annotations

import os

import numpy as np
import pytest

import vexfilt

distributed = pytest.importorskip("distributed", reason="Dask (python3-distributed) runs the cluster")


def pipeline(image: np.ndarray, filt: vexfilt.Filter) -> tuple[np.ndarray, np.ndarray, bytes, int]:
    spectrum = vexfilt.forward(image)
    filt.apply(spectrum)
    real, _ = vexfilt.inverse(spectrum, "pair")
    magnitude = vexfilt.inverse(spectrum, np.uint8, stretch=True)
    return real, magnitude, spectrum.to_bytes(), os.getpid()


@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # tornado's event-loop notice in distributed 2022.12
def test_batch_on_two_worker_processes_matches_one_process(monkeypatch):
    # Workers are new interpreters: they find vexfilt (and this module) through PYTHONPATH.
    here = os.path.dirname(os.path.abspath(__file__))
    paths = [os.path.dirname(os.path.dirname(vexfilt.__file__)), here, os.environ.get("PYTHONPATH", "")]
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(p for p in paths if p))
    rng = np.random.default_rng(11)
    images = [rng.integers(0, 256, size=(200 + 7 * k, 256)).astype(np.uint8) for k in range(8)]
    images += [rng.uniform(0, 1000, size=(256, 150)) for _ in range(4)]
    filt = vexfilt.Gabor(sigma=(0.03, 0.02), plateau=(0.01, 0.0), angle=0.6, frequency=0.15, size=(256, 256))
    local = [pipeline(image, filt) for image in images]

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  host="127.0.0.1", silence_logs=40) as cluster, \
            distributed.Client(cluster, timeout=60) as client:
        shipped = client.scatter(filt, broadcast=True)  # pickled once per worker
        futures = client.map(pipeline, images, filt=shipped, pure=False)
        remote = client.gather(futures)

    assert len(remote) == len(local)
    pids = {r[3] for r in remote}
    assert os.getpid() not in pids and 1 <= len(pids) <= 2
    for (real, magnitude, record, _), (real_r, magnitude_r, record_r, _) in zip(local, remote):
        assert real.tobytes() == real_r.tobytes() and real.dtype == real_r.dtype
        assert magnitude.tobytes() == magnitude_r.tobytes()
        assert record == record_r  # the filtered spectrum, band and all

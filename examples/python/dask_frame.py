"""A frame filtered in chunks with dask.array.map_overlap and a vexfilt frame plan.

Each chunk is handed to the filter with `margin` pixels of its neighbours (or
of the frame's edge extension at the border) around it: the plan's margin is
exactly the reach of the filter's impulse response that the plan honours, so
the trimmed chunks join without seams and the result agrees with one plan run
over the whole frame within the plans' error bounds. Dask's boundary modes
match the plan's edge modes ('reflect' is numpy's 'symmetric' in both).

    PYTHONPATH=build/python /usr/bin/python3 examples/python/dask_frame.py
"""

from __future__ import annotations

import sys
from typing import Any, Literal

import dask
import dask.array as da
import numpy as np
import numpy.typing as npt
import vexfilt

Edge = Literal["zero", "periodic", "reflect", "nearest"]

# map_overlap's boundary for each edge mode of a plan.
BOUNDARY: dict[str, Any] = {"zero": 0, "periodic": "periodic", "reflect": "reflect", "nearest": "nearest"}


def probe_plan(frame: Any, filt: vexfilt.Filter, edge: Edge = "zero",
               tolerance: float = 1e-4) -> vexfilt.FramePlan:
    """The plan for the largest chunk of `frame`: its tile size and margin serve every chunk."""
    chunk = (max(frame.chunks[0]), max(frame.chunks[1]))
    return vexfilt.FramePlan(chunk, filt, edge=edge, tolerance=tolerance)


def filter_chunked(frame: Any, filt: vexfilt.Filter, edge: Edge = "zero", tolerance: float = 1e-4) -> Any:
    """The real part of `frame` (a 2-D dask array) filtered by `filt`, chunk by chunk.

    The probe plan fixes the tile size and so the margin (and the impulse
    response: the filter realised at that tile size); every chunk (with its
    overlap) is filtered by a plan of that tile size, made once per chunk
    shape and kept.
    """
    probe = probe_plan(frame, filt, edge, tolerance)
    margin, tile = probe.margin, probe.tile_size
    plans: dict[tuple[int, int], vexfilt.FramePlan] = {}

    def one(block: npt.NDArray[Any]) -> npt.NDArray[np.float64]:
        shape = (int(block.shape[0]), int(block.shape[1]))
        plan = plans.get(shape)
        if plan is None:
            # Only the core (margin pixels in from each side) is kept, so the
            # chunk plan's own edge mode does not matter.
            plan = plans[shape] = vexfilt.FramePlan(shape, filt, tolerance=tolerance, tile_size=tile)
            assert plan.margin == margin
        return plan.run(block)

    return frame.map_overlap(one, depth=margin, boundary=BOUNDARY[edge], dtype=np.float64, trim=True)


def main() -> int:
    rng = np.random.default_rng(5)
    height, width = 2500, 3000
    y, x = np.mgrid[0:height, 0:width]
    image = (120 + 50 * np.sin(2 * np.pi * 0.08 * (x * 0.8 + y * 0.6)) + rng.normal(0, 10, (height, width)))
    frame = np.clip(image, 0, 255).astype(np.uint8)
    gabor = vexfilt.Gabor(sigma=(0.02, 0.02), plateau=(0.0, 0.0), angle=np.arctan2(0.6, 0.8), frequency=0.08,
                          size=(256, 256))
    chunks = da.from_array(frame, chunks=(1024, 1024))
    chunked = filter_chunked(chunks, gabor, edge="reflect")
    with dask.config.set(scheduler="threads"):
        result: npt.NDArray[np.float64] = chunked.compute()

    # The same filter realised at the same tile size, over the whole frame at once.
    whole = vexfilt.FramePlan(frame.shape, gabor, edge="reflect", tile_size=probe_plan(chunks, gabor).tile_size)
    direct = whole.run(frame)
    bound = 2 * whole.pixel_error_bound(0.0, float(frame.max()))
    worst = float(np.abs(result - direct).max())
    print(f"{width} x {height} frame in {chunked.npartitions} chunks (margin {whole.margin}): largest difference "
          f"from one plan over the whole frame {worst:.3g} (bound {bound:.3g})")
    return 0 if worst <= bound else 1


if __name__ == "__main__":
    sys.exit(main())

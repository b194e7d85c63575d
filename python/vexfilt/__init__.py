"""vexfilt: frequency-domain image processing on numpy arrays.

2-D FFTs of grey images (uint8, uint16, float64; rows = height, columns =
width) into single-precision spectra padded to powers of two, spectrum views
and display mapping, spectrum arithmetic, and band-pass, band-reject, Gabor,
Gabor-reject and image filters built once and applied to many buffers::

    import numpy, vexfilt
    spectrum = vexfilt.forward(image)                   # FrequencyBuffer
    ring = vexfilt.BandPass(sigma=0.02, plateau=0.0, frequency=0.1, size=spectrum.size)
    ring.apply(spectrum)                                 # in place
    result = vexfilt.inverse(spectrum, "float64")        # numpy array, image size

Frames of any size are filtered by overlap-save tiles (FramePlan,
filter_frame), two images aligned by phase correlation (phase_correlate,
register_similarity), and textures inspected with a Gabor bank and its
defect model (GaborBank).

Heavy calls release the GIL, so threads on different buffers run in
parallel; Ctrl-C stops a long call through the library's attention poll.
Filters and buffers pickle through the library's own archive records, so a
filter built here loads bit for bit in a worker process.
"""

from __future__ import annotations

import contextlib
from typing import Any, Iterator

from ._errors import (
    Aborted,
    ArchiveError,
    BadCoord,
    Error,
    InvalidArgument,
    InvalidBuffer,
    InvalidSize,
    PlatformError,
    TimedOut,
    UnboundWindow,
    Uninitialized,
)
from ._vexfilt import (
    BandPass,
    BandReject,
    Filter,
    FrameJob,
    FramePlan,
    FrameRect,
    FrequencyBuffer,
    Gabor,
    GaborBank,
    GaborReject,
    ImageFilter,
    Mapping,
    Similarity,
    TextureMaps,
    Translation,
    __version__,
    add,
    angle_image,
    clear_abort,
    conjugate,
    forward,
    inverse,
    load_filter,
    map_image,
    multiply,
    phase_correlate,
    quadrant_image,
    register_similarity,
    request_abort,
    set_timeout,
    subtract,
)


def _restore_filter(data: bytes) -> Filter:
    """Unpickles a filter from its archive record (Filter.__reduce__)."""
    return load_filter(data)


def filter_frame(image: Any, filter: Any, *, edge: str = "zero", tolerance: float = 1e-4, tile_size: int = 0,
                 output: str = "real", dtype: Any = None, stretch: bool = False,
                 threads: int | None = None, progress: Any = None) -> Any:
    """Filters a frame of any size in one call: FramePlan(image.shape, filter, edge=...,
    tolerance=..., tile_size=...).run(image, output, dtype=..., stretch=..., threads=...,
    progress=...).

    Build a FramePlan once instead when many frames of one size are filtered.
    """
    shape = getattr(image, "shape", None)
    if shape is None or len(shape) != 2:
        raise TypeError("filter_frame: expected a 2-D numpy array (rows = height, columns = width)")
    plan = FramePlan(shape, filter, edge=edge, tolerance=tolerance, tile_size=tile_size)
    return plan.run(image, output, dtype=dtype, stretch=stretch, threads=threads, progress=progress)


@contextlib.contextmanager
def deadline(seconds: float) -> Iterator[None]:
    """Gives the calling thread's vexfilt calls `seconds` to finish.

    A call still running when the time is up leaves with vexfilt.TimedOut (a
    TimeoutError); the deadline is cleared on leaving the block.
    """
    set_timeout(seconds)
    try:
        yield
    finally:
        set_timeout(0.0)


__all__ = [
    "Aborted", "ArchiveError", "BadCoord", "BandPass", "BandReject", "Error", "Filter", "FrameJob", "FramePlan",
    "FrameRect", "FrequencyBuffer", "Gabor", "GaborBank", "GaborReject", "ImageFilter", "InvalidArgument",
    "InvalidBuffer", "InvalidSize", "Mapping", "PlatformError", "Similarity", "TextureMaps", "TimedOut",
    "Translation", "UnboundWindow", "Uninitialized", "__version__", "add", "angle_image", "clear_abort",
    "conjugate", "deadline", "filter_frame", "forward", "inverse", "load_filter", "map_image", "multiply",
    "phase_correlate", "quadrant_image", "register_similarity", "request_abort", "set_timeout", "subtract",
]

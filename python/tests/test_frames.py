"""Frame plans: every filter kind and edge mode against scipy.signal.fftconvolve
of the frame (extended by numpy.pad in the matching mode) with the plan's own
impulse response, within the bound the plan reports; threaded runs against
serial runs bit for bit; the outputs; errors; pickling; the Dask example."""

from __future__ import annotations

import os
import pickle
import sys

import numpy as np
import pytest

import vexfilt

signal = pytest.importorskip("scipy.signal", reason="scipy (python3-scipy) gives the convolution oracle")

# numpy.pad's name of each edge mode.
PAD = {"zero": "constant", "periodic": "wrap", "reflect": "symmetric", "nearest": "edge"}


def kernel_filter():
    """An ImageFilter whose spectrum is the transform of a small asymmetric kernel."""
    grid = np.zeros((32, 32))
    rng = np.random.default_rng(3)
    for dy in range(-2, 3):
        for dx in range(-1, 4):
            grid[dy % 32, dx % 32] = rng.normal()
    return vexfilt.ImageFilter(vexfilt.forward(grid))


FILTERS = {
    "band_pass": lambda: vexfilt.BandPass(sigma=0.03, plateau=0.01, frequency=0.15, size=(64, 64), dc_removal_radius=1),
    "band_reject": lambda: vexfilt.BandReject(sigma=0.04, plateau=0.0, frequency=0.2, size=(64, 64)),
    "gabor": lambda: vexfilt.Gabor(sigma=(0.03, 0.02), plateau=(0.01, 0.0), angle=0.7, frequency=0.2, size=(64, 64)),
    "gabor_reject": lambda: vexfilt.GaborReject(sigma=(0.04, 0.04), plateau=(0.0, 0.0), angle=-1.0, frequency=0.1,
                                                size=(512, 64), dc_protection_radius=1),
    "image": kernel_filter,
}


def oracle(image: np.ndarray, plan: vexfilt.FramePlan, edge: str | None = None) -> np.ndarray:
    """The frame extended by numpy.pad in the mode of `edge` (default: the plan's), convolved in
    double precision with the plan's impulse response."""
    h = plan.impulse_response()
    c = plan.tile_size // 2  # h's origin; it reaches c - 1 pixels one way and c the other
    extended = np.pad(image.astype(np.float64), c, mode=PAD[edge or plan.edge])
    full = signal.fftconvolve(extended, h.real) + 1j * signal.fftconvolve(extended, h.imag)
    rows, cols = image.shape
    return full[2 * c:2 * c + rows, 2 * c:2 * c + cols]


def bound_for(image: np.ndarray, plan: vexfilt.FramePlan) -> float:
    low, high = float(image.min()), float(image.max())
    if plan.edge == "zero":
        low, high = min(low, 0.0), max(high, 0.0)
    return plan.pixel_error_bound(low, high)


@pytest.fixture(scope="module")
def frame(photos):
    return photos["camera"][37:337, 11:481]  # 300 x 470, a strided view


@pytest.mark.parametrize("kind", sorted(FILTERS))
def test_every_edge_mode_agrees_with_fftconvolve_within_the_reported_bound(kind, frame):
    filt = FILTERS[kind]()
    results = {}
    for edge in PAD:
        # A small tolerance, so that the bound (a worst case over the response's tail) is tight
        # enough to tell the edge modes apart.
        plan = vexfilt.FramePlan(frame.shape, filt, edge=edge, tolerance=1e-7)
        assert plan.error_bound <= plan.tolerance and len(plan.jobs) >= 2
        want = oracle(frame, plan, edge)
        bound = bound_for(frame, plan)
        assert 0 < bound < 0.1 * np.abs(want).max(), (kind, edge)
        got = plan.run(frame, "complex")
        assert got.shape == frame.shape and got.dtype == np.complex128
        assert np.abs(got - want).max() <= bound, (kind, edge)
        real = plan.run(frame)
        assert np.array_equal(real, got.real)
        magnitude = plan.run(frame, "magnitude")
        assert np.abs(magnitude - np.abs(want)).max() <= bound
        results[edge] = got, want, bound
    # Each mode's result is its own: another mode's oracle is farther than the bound.
    for edge, (got, _, bound) in results.items():
        other = results["zero" if edge != "zero" else "reflect"][1]
        assert np.abs(got - other).max() > bound, (kind, edge)


def test_tiles_join_without_seams_at_the_default_tolerance(frame):
    gabor = FILTERS["gabor"]()
    plan = vexfilt.FramePlan(frame.shape, gabor, edge="reflect", tile_size=128)
    assert len(plan.jobs) >= 12
    assert np.abs(plan.run(frame, "complex") - oracle(frame, plan)).max() <= bound_for(frame, plan)


def test_automatic_tile_integer_and_float_frames_and_strided_input(photos):
    image = photos["moon"][:, :400]
    gabor = FILTERS["gabor"]()
    for pixels in (image, image.astype(np.uint16) * 200, image / 7.0):
        plan = vexfilt.FramePlan(pixels.shape, gabor, edge="reflect")
        got = plan.run(pixels, "complex")
        assert np.abs(got - oracle(pixels, plan, "reflect")).max() <= bound_for(pixels, plan)
    # A single pixel and a single row.
    for pixels in (np.array([[5.0]]), image[:1].copy()):
        plan = vexfilt.FramePlan(pixels.shape, gabor)
        assert np.abs(plan.run(pixels, "complex") - oracle(pixels, plan)).max() <= bound_for(pixels, plan)
    # A non-contiguous view is read through its strides, and the caller's array stays as it was.
    view = photos["camera"][::2, ::3]
    before = view.copy()
    plan = vexfilt.FramePlan(view.shape, gabor)
    assert np.array_equal(plan.run(view), plan.run(np.ascontiguousarray(view)))
    assert np.array_equal(view, before)
    assert np.array_equal(vexfilt.filter_frame(view, gabor, output="magnitude"), plan.run(view, "magnitude"))


def test_threaded_runs_equal_the_serial_run_bit_for_bit(frame):
    plan = vexfilt.FramePlan(frame.shape, FILTERS["band_pass"](), edge="periodic", tile_size=64)
    assert len(plan.jobs) > 10
    for output, dtype, stretch in (("real", None, False), ("complex", None, False), ("magnitude", np.uint8, True),
                                   ("magnitude", np.uint16, False)):
        serial = plan.run(frame, output, dtype=dtype, stretch=stretch)
        threaded = plan.run(frame, output, dtype=dtype, stretch=stretch, threads=3)
        assert serial.dtype == threaded.dtype and serial.tobytes() == threaded.tobytes(), output


def test_integer_magnitudes_follow_the_float_magnitude(frame):
    plan = vexfilt.FramePlan(frame.shape, FILTERS["gabor"](), tile_size=128)
    m = plan.run(frame, "magnitude")
    stretched = plan.run(frame, "magnitude", dtype=np.uint8, stretch=True)
    # One range for the whole frame, not per tile.
    expected = (m - m.min()) * 255 / (m.max() - m.min())
    assert np.abs(stretched - expected).max() <= 1.0 and stretched.max() == 255 and stretched.min() == 0
    assert np.abs(plan.run(frame, "magnitude", dtype="uint16").astype(float) - np.clip(m, 0, 65535)).max() <= 0.5 + 1e-9


def test_tiles_cover_the_frame_once_and_plans_pickle(frame):
    plan = vexfilt.FramePlan(frame.shape, FILTERS["gabor_reject"](), edge="nearest", tile_size=128)
    count = np.zeros(frame.shape, int)
    for job in plan.jobs:
        x, y, w, h = job.input
        assert w == h == plan.tile_size
        assert job.output.x - x == plan.margin and job.output.y - y == plan.margin
        count[job.output.slices] += 1
    assert (count == 1).all()
    again = pickle.loads(pickle.dumps(plan))
    assert (again.tile_size, again.margin, again.edge) == (plan.tile_size, plan.margin, plan.edge)
    assert again.run(frame).tobytes() == plan.run(frame).tobytes()


def test_bad_frames_filters_and_options_are_refused(frame):
    gabor = FILTERS["gabor"]()
    plan = vexfilt.FramePlan(frame.shape, gabor)
    with pytest.raises(vexfilt.InvalidSize):
        plan.run(frame[:-1])
    with pytest.raises(TypeError):
        plan.run(frame.astype(np.int32))
    with pytest.raises(vexfilt.InvalidSize):
        vexfilt.FramePlan((70000, 10), gabor)  # before allocating anything
    with pytest.raises(ValueError, match="edge"):
        vexfilt.FramePlan(frame.shape, gabor, edge="mirror")
    with pytest.raises(vexfilt.Uninitialized):
        vexfilt.FramePlan(frame.shape, vexfilt.Gabor())
    with pytest.raises(ValueError, match="tolerance"):  # a response far longer than a 2048 tile holds
        vexfilt.FramePlan(frame.shape, vexfilt.BandPass(sigma=1e-4, plateau=0.0, frequency=0.1, size=(64, 64)),
                          tolerance=1e-9)
    with pytest.raises(ValueError):
        plan.run(frame, "phase")


def test_progress_and_an_abort_stop_serial_and_threaded_runs(frame):
    plan = vexfilt.FramePlan(frame.shape, FILTERS["gabor"](), tile_size=64)
    n = len(plan.jobs)
    for threads in (None, 2):
        seen = []
        plan.run(frame, "magnitude", dtype=np.uint8, stretch=True, threads=threads,
                 progress=lambda done, total: seen.append((done, total)))
        assert seen == [(k, 2 * n) for k in range(1, 2 * n + 1)]  # two passes

        def stop(done, total):
            if done == 3:
                raise RuntimeError("enough")
            seen.append(done)

        seen = []
        with pytest.raises(RuntimeError, match="enough"):
            plan.run(frame, threads=threads, progress=stop)
        assert seen[:2] == [1, 2] and (threads or len(seen) == 2)
    vexfilt.request_abort()
    try:
        for threads in (None, 2):
            with pytest.raises(KeyboardInterrupt):
                plan.run(frame, threads=threads)
    finally:
        vexfilt.clear_abort()
    assert plan.run(frame, threads=2).tobytes() == plan.run(frame).tobytes()


def test_dask_example_joins_chunks_without_seams(photos):
    da = pytest.importorskip("dask.array", reason="Dask (python3-dask) runs the chunks")
    import dask

    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "examples", "python"))
    try:
        import dask_frame
    finally:
        sys.path.pop(0)
    image = photos["coins"][:, :370]  # 303 x 370
    gabor = FILTERS["gabor"]()
    for edge in ("zero", "reflect"):
        chunks = da.from_array(image, chunks=(128, 160))
        chunked = dask_frame.filter_chunked(chunks, gabor, edge=edge)  # dask extends the frame
        with dask.config.set(scheduler="synchronous"):
            got = chunked.compute()
        # The chunks' impulse response: the filter realised at their tile size.
        tile = dask_frame.probe_plan(chunks, gabor).tile_size
        whole = vexfilt.FramePlan(image.shape, gabor, edge=edge, tile_size=tile)
        assert np.abs(got - oracle(image, whole, edge).real).max() <= bound_for(image, whole)

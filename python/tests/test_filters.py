"""Filters: the image filter against scipy's circular convolution, the
parametric filters' responses, keyword arguments and properties, in-place and
two-buffer apply, equality, and pickling of every filter."""

from __future__ import annotations

import copy
import pickle
import threading

import numpy as np
import pytest

import vexfilt
from conftest import padded


def all_filters(size=(128, 64)):
    kernel = np.zeros((size[1], size[0]))
    kernel[:3, :3] = 1.0 / 9
    return [
        vexfilt.BandPass(sigma=0.03, plateau=0.01, frequency=0.15, size=size, dc_removal_radius=2),
        vexfilt.BandReject(sigma=0.02, plateau=0.0, frequency=0.2, size=size, dc_protection_radius=1),
        vexfilt.Gabor(sigma=(0.03, 0.02), plateau=(0.01, 0.0), angle=0.7, frequency=0.2, size=size),
        vexfilt.GaborReject(sigma=(0.02, 0.02), plateau=(0.0, 0.0), angle=-1.0, frequency=0.1, size=size,
                            dc_protection_radius=1),
        vexfilt.ImageFilter(vexfilt.forward(kernel)),
    ]


def test_image_filter_is_scipy_circular_convolution_on_the_padded_image(photos):
    ndimage = pytest.importorskip("scipy.ndimage", reason="scipy (python3-scipy) gives the convolution oracle")
    image = photos["camera"][:200, :250].astype(np.float64)
    grid = padded(image)  # 256 x 256
    kernel = np.array([[1.0, 2.0, 1.0], [0.0, 0.0, 0.0], [-1.0, -2.0, -1.0]]) / 4  # Sobel, signed
    # The kernel's centre at (0, 0) of the grid, wrapped around, makes the product a centred convolution.
    placed = np.zeros_like(grid)
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            placed[dy % grid.shape[0], dx % grid.shape[1]] = kernel[dy + 1, dx + 1]
    filt = vexfilt.ImageFilter(vexfilt.forward(placed))
    spectrum = vexfilt.forward(image)
    filt.apply(spectrum)
    real, imag = vexfilt.inverse(spectrum, "pair")
    want = ndimage.convolve(grid, kernel, mode="wrap")[:200, :250]
    scale = np.abs(want).max()
    assert np.abs(real - want).max() <= 2e-5 * scale
    assert np.abs(imag).max() <= 2e-5 * scale


def test_ring_filters_pass_and_reject_by_distance_from_the_ring():
    size = (128, 128)
    flat = vexfilt.FrequencyBuffer(128, 128)
    flat.array[:] = 1 + 1j
    u = np.fft.fftfreq(128)
    radius = np.hypot(u[None, :], u[:, None])  # cycles per pixel of every element
    passed = vexfilt.BandPass(sigma=0.02, plateau=0.05, frequency=0.2, size=size)(flat).array
    rejected = vexfilt.BandReject(sigma=0.02, plateau=0.05, frequency=0.2, size=size)(flat).array
    on_plateau = np.abs(radius - 0.2) < 0.05 - 1 / 128
    flank = np.abs(radius - 0.2) > 0.05 + 5 * 0.02 + 1 / 128  # beyond five sigmas
    far = np.abs(radius - 0.2) > 0.05 + 4 * 0.02 + 0.05 + 2 / 128  # beyond the profile's reach
    assert np.allclose(passed[on_plateau], 1 + 1j, atol=1e-6) and np.all(np.abs(passed[flank]) < 1e-5)
    assert np.allclose(rejected[on_plateau], 0, atol=1e-6) and np.all(np.abs(rejected[flank] - (1 + 1j)) < 1e-5)
    assert np.all(passed[far] == 0) and np.all(rejected[far] == 1 + 1j)
    # Reject is one minus pass wherever both are defined.
    assert np.allclose(passed + rejected, 1 + 1j, atol=1e-6)


def test_gabor_keeps_one_patch_and_marks_its_row_band():
    size = (64, 64)
    flat = vexfilt.FrequencyBuffer(64, 64)
    flat.array[:] = 1
    gabor = vexfilt.Gabor(sigma=(0.02, 0.02), plateau=(0.0, 0.0), angle=np.pi / 2, frequency=0.25, size=size)
    out = gabor(flat)
    peak = np.unravel_index(np.argmax(np.abs(out.array)), out.shape)
    assert peak == (16, 0)  # a quarter turn: along rows, 0.25 * 64 = 16 rows from the zero frequency
    assert np.all(out.array[48, :] == 0)  # not the mirror patch
    lo, hi = out.masked_rows
    assert out.masked and lo <= 16 + 32 <= hi  # centered row frame
    rows = np.nonzero(np.abs(np.fft.fftshift(out.array)).sum(axis=1))[0]
    assert lo <= rows.min() and rows.max() <= hi


def test_keyword_arguments_properties_and_validation():
    f = vexfilt.BandPass(sigma=0.05, plateau=0.0, frequency=0.1, size=(64, 32), dc_removal_radius=3)
    assert (f.sigma, f.plateau, f.frequency, f.size, f.dc_removal_radius) == (0.05, 0.0, 0.1, (64, 32), 3)
    before = f.clone()
    f.sigma = 0.08
    assert f != before and f == vexfilt.BandPass(0.08, 0.0, 0.1, (64, 32), 3)
    with pytest.raises(vexfilt.InvalidArgument, match="Sigma must be positive") as info:
        f.sigma = -1.0
    assert isinstance(info.value, ValueError) and f.sigma == 0.08  # unchanged
    with pytest.raises(vexfilt.InvalidSize, match="power of 2"):
        f.size = (60, 32)
    g = vexfilt.GaborReject(sigma=(0.02, 0.03), plateau=(0.0, 0.01), angle=1.25, frequency=0.2, size=(32, 32))
    assert (g.sigma, g.plateau, g.angle, g.dc_protection_radius) == ((0.02, 0.03), (0.0, 0.01), 1.25, 0)
    g.angle = 0.5
    assert g == vexfilt.GaborReject((0.02, 0.03), (0.0, 0.01), 0.5, 0.2, (32, 32))
    empty = vexfilt.Gabor()
    assert not empty.initialized
    with pytest.raises(vexfilt.Uninitialized):
        empty.frequency
    empty.set(sigma=(0.02, 0.02), plateau=(0.0, 0.0), angle=0.0, frequency=0.1, size=(32, 32))
    assert empty.initialized and empty.support_width % 2 == 1
    with pytest.raises(TypeError):
        vexfilt.Gabor(sigma=0.02, plateau=(0, 0), angle=0, frequency=0.1, size=(32, 32))  # a pair is a 2-tuple


def test_apply_in_place_two_buffers_and_call_agree(photos):
    image = photos["camera"][:100, :120]
    for f in all_filters(size=(128, 128)):
        spectrum = vexfilt.forward(image)
        target = vexfilt.FrequencyBuffer()
        f.apply(spectrum, target)
        called = f(spectrum)
        f.apply(spectrum)
        assert np.array_equal(target.array, spectrum.array) and called == spectrum
        assert called.image_width == 120  # in place keeps the image size
        with pytest.raises(vexfilt.InvalidSize, match="does not match"):
            f.apply(vexfilt.FrequencyBuffer(64, 128))


def test_every_filter_pickles_through_its_archive_record_bit_for_bit(photos):
    image = photos["coins"][:64, :128]
    for f in all_filters() + [vexfilt.BandPass(), vexfilt.ImageFilter()]:
        for loaded in (pickle.loads(pickle.dumps(f)), vexfilt.load_filter(f.to_bytes()), copy.deepcopy(f), f.clone()):
            assert type(loaded) is type(f) and loaded == f and loaded is not f
            if f.initialized:
                assert loaded(vexfilt.forward(image)) == f(vexfilt.forward(image))
    with pytest.raises(vexfilt.ArchiveError):
        vexfilt.load_filter(all_filters()[0].to_bytes()[:-3])
    with pytest.raises(ValueError, match="left over"):
        vexfilt.load_filter(all_filters()[0].to_bytes() + b"\x00")
    with pytest.raises(vexfilt.ArchiveError):
        vexfilt.load_filter(b"\x05\x00\x00\x00\x00\x00\x00\x00nope!")


def test_one_filter_serves_threads_at_once(photos):
    gabor = all_filters(size=(512, 512))[2]
    images = [np.roll(photos["camera"], k, axis=1) for k in range(4)]
    want = [vexfilt.inverse(gabor(vexfilt.forward(im)), np.uint8) for im in images]
    got: list = [None] * 4

    def work(i: int) -> None:
        for _ in range(3):
            got[i] = vexfilt.inverse(gabor(vexfilt.forward(images[i])), np.uint8)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(np.array_equal(g, w) for g, w in zip(got, want))

"""Registration: shifts of scikit-image's sample photographs made by an exact
Fourier shift of the whole photograph and then cropped (so the shift is not
periodic at the crop's scale), noise of 5 grey levels; rotations and scales
made by scipy.ndimage; the peers' known failure cases (smooth float images,
large 16-bit images, shifts past half the size, half a pixel, flat images);
and the GIL released by the heavy vision calls."""

from __future__ import annotations

import os
import sys

import numpy as np
import pytest

import vexfilt
from conftest import assert_releases_gil

ndimage = pytest.importorskip("scipy.ndimage", reason="scipy (python3-scipy) makes the warps")


def fourier_shift(image: np.ndarray, dx: float, dy: float) -> np.ndarray:
    """`image` with its content moved by (dx, dy) (toward +x = columns, +y = rows), exactly in the
    Fourier domain of the reflect-padded image, so no seam reaches a crop inside it."""
    pad = 128
    p = np.pad(image.astype(np.float64), pad, mode="reflect")
    fy = np.fft.fftfreq(p.shape[0])[:, None]
    fx = np.fft.fftfreq(p.shape[1])[None, :]
    return np.fft.ifft2(np.fft.fft2(p) * np.exp(-2j * np.pi * (fx * dx + fy * dy))).real[pad:-pad, pad:-pad]


def crop(image: np.ndarray, size: int, y0: int | None = None, x0: int | None = None) -> np.ndarray:
    y0 = (image.shape[0] - size) // 2 if y0 is None else y0
    x0 = (image.shape[1] - size) // 2 if x0 is None else x0
    return image[y0:y0 + size, x0:x0 + size]


@pytest.fixture(scope="module")
def grey_photos():
    data = pytest.importorskip("skimage.data", reason="scikit-image (python3-skimage) ships the sample photographs")
    out = {name: getattr(data, name)().astype(np.float64) for name in ("camera", "moon")}
    out["astronaut"] = data.astronaut().mean(axis=2)
    out["coffee"] = data.coffee().mean(axis=2)  # 400 x 600
    return out


def test_fractional_shifts_of_noisy_photograph_crops(grey_photos):
    rng = np.random.default_rng(21)
    errors = []
    for name, photo in grey_photos.items():
        for _ in range(2):
            dx, dy = rng.uniform(-60, 60, 2)  # up to about a fifth of the 320 crop
            reference = crop(photo, 320) + rng.normal(0, 5, (320, 320))
            moving = crop(fourier_shift(photo, dx, dy), 320) + rng.normal(0, 5, (320, 320))
            t = vexfilt.phase_correlate(reference, moving)
            assert not t.ambiguous and 0 < t.confidence <= 1, name
            errors.append(np.hypot(t.dx - dx, t.dy - dy))
    errors = np.array(errors)
    assert errors.max() < 0.1
    assert np.sqrt(np.mean(errors ** 2)) <= 0.03


def test_rotation_and_scale_of_a_photograph(grey_photos):
    photo = grey_photos["camera"]
    centre = np.array([(photo.shape[0] - 1) / 2, (photo.shape[1] - 1) / 2])  # (row, column)
    rng = np.random.default_rng(22)
    for degrees, scale, dx, dy in ((30.0, 1.1, 3.3, -5.2), (-150.0, 0.85, -7.6, 2.1)):
        a = np.radians(degrees)
        # moving(p) = photo(q), p = c + scale R(a) (q - c) + (dx, dy), R turning +x toward +y.
        inverse_xy = np.array([[np.cos(a), np.sin(a)], [-np.sin(a), np.cos(a)]]) / scale
        inverse_rc = inverse_xy[::-1, ::-1]
        offset = centre - inverse_rc @ (centre + np.array([dy, dx]))
        warped = ndimage.affine_transform(photo, inverse_rc, offset=offset, order=3, mode="reflect")
        reference = crop(photo, 320) + rng.normal(0, 5, (320, 320))
        moving = crop(warped, 320) + rng.normal(0, 5, (320, 320))
        s = vexfilt.register_similarity(reference, moving)
        assert abs(np.degrees((s.angle - a + np.pi) % (2 * np.pi) - np.pi)) < 0.1, degrees
        assert abs(s.scale / scale - 1) < 0.002, degrees
        assert np.hypot(s.dx - dx, s.dy - dy) < 0.3, degrees  # crops share the photograph's centre


def test_the_peers_failure_cases(grey_photos):
    camera = grey_photos["camera"]
    # Smooth float images: exactly-zero high frequencies must not turn the normalisation into 0/0.
    smooth = ndimage.gaussian_filter(camera, 8.0)
    t = vexfilt.phase_correlate(crop(smooth, 256), crop(fourier_shift(smooth, 3.4, -2.7), 256))
    assert abs(t.dx - 3.4) < 0.1 and abs(t.dy + 2.7) < 0.1
    # Large 16-bit images over the full range (squared magnitudes overflow single precision).
    big = np.clip(ndimage.zoom(camera, 2.0, order=3) * 257, 0, 65535)  # 1024 x 1024
    moved = np.clip(fourier_shift(big, 3.25, -7.5), 0, 65535)
    t = vexfilt.phase_correlate(big.round().astype(np.uint16), moved.round().astype(np.uint16))
    assert abs(t.dx - 3.25) < 0.1 and abs(t.dy + 7.5) < 0.1
    # Half a pixel without noise.
    t = vexfilt.phase_correlate(crop(camera, 256), crop(fourier_shift(camera, 0.5, 0.0), 256))
    assert abs(t.dx - 0.5) < 0.02 and abs(t.dy) < 0.02
    # Past half the size: by default the alias within half the size, flagged;
    # as it is when allowed.
    reference = crop(camera, 256, 200, 200)
    moving = crop(fourier_shift(camera, 150.4, -30.2), 256, 200, 200)
    folded = vexfilt.phase_correlate(reference, moving)
    assert folded.ambiguous and abs(folded.dx - (150.4 - 256)) < 0.1 and abs(folded.dy + 30.2) < 0.1
    resolved = vexfilt.phase_correlate(reference, moving, large_shifts=True)
    assert abs(resolved.dx - 150.4) < 0.1 and abs(resolved.dy + 30.2) < 0.1
    # A flat image: a finite answer with no confidence, never NaN.
    flat = np.full((64, 64), 7.0)
    t = vexfilt.phase_correlate(flat, flat)
    assert (t.dx, t.dy, t.confidence, t.ambiguous) == (0.0, 0.0, 0.0, True)


def test_surface_strided_inputs_and_refusals(grey_photos):
    camera = grey_photos["camera"].round().astype(np.uint8)
    reference, moving = camera[100:300, 50:450:2], np.roll(camera, (5, -8), axis=(0, 1))[100:300, 50:450:2]
    t, surface = vexfilt.phase_correlate(reference, moving, surface=True)
    assert (round(t.dx), round(t.dy)) == (-4, 5) and t.shift == (t.dy, t.dx)  # columns step 2
    assert surface.dtype == np.float64 and surface.shape == (256, 256)
    peak = np.unravel_index(np.argmax(surface), surface.shape)
    assert (peak[1] - 128, peak[0] - 128) == (-4, 5)
    assert surface.max() <= 1 + 1e-9
    with pytest.raises(TypeError, match="same dtype"):
        vexfilt.phase_correlate(reference, moving.astype(np.float64))
    with pytest.raises(vexfilt.InvalidSize):
        vexfilt.phase_correlate(reference, moving[:-1])
    with pytest.raises(vexfilt.InvalidSize):
        vexfilt.phase_correlate(reference[:4], moving[:4])
    with pytest.raises(vexfilt.InvalidArgument):
        vexfilt.phase_correlate(reference, moving, tukey_alpha=2.0)
    with pytest.raises(ValueError, match="edges"):
        vexfilt.phase_correlate(reference, moving, edges="blackman")
    with pytest.raises(vexfilt.InvalidArgument):
        vexfilt.register_similarity(reference, moving, min_scale=1.5)


def test_heavy_vision_calls_release_the_gil(grey_photos):
    photo = grey_photos["camera"]
    gabor = vexfilt.Gabor(sigma=(0.03, 0.03), plateau=(0.0, 0.0), angle=0.3, frequency=0.1, size=(64, 64))
    frame = np.tile(photo, (2, 4))  # 1024 x 2048
    bank = vexfilt.GaborBank([0.1, 0.2], orientations=8)
    assert_releases_gil([lambda: vexfilt.phase_correlate(photo, photo),
                         lambda: vexfilt.register_similarity(photo, photo),
                         lambda: vexfilt.filter_frame(frame, gabor),
                         lambda: bank.energy(frame)])


def test_vision_example_runs():
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "examples", "python"))
    try:
        import vision
    finally:
        sys.path.pop(0)
    assert vision.main() == 0

"""Spectra and transforms against numpy: the forward transform of photographs,
every inverse output, spectrum images, arithmetic, and the array conventions
(zero-copy view, strides, dtypes, targets)."""

from __future__ import annotations

import copy
import gc
import pickle

import numpy as np
import pytest

import vexfilt
from conftest import fft_bound, padded, relative_rms


# ---- forward transforms ------------------------------------------------------------


def test_forward_of_photographs_matches_numpy_within_the_stated_bound(photos):
    for name, image in photos.items():
        spectrum = vexfilt.forward(image)
        want = np.fft.fft2(padded(image))
        assert spectrum.shape == want.shape, name
        assert (spectrum.image_width, spectrum.image_height) == (image.shape[1], image.shape[0])
        h, w = want.shape
        assert relative_rms(spectrum.array, want) <= fft_bound(w, h), name


def test_forward_of_each_pixel_type_pair_and_complex_array(rng):
    for shape in [(37, 100), (64, 64), (1, 5), (200, 3)]:
        re = rng.integers(0, 65536, size=shape).astype(np.uint16)
        im = rng.integers(0, 65536, size=shape).astype(np.uint16)
        want = np.fft.fft2(padded(re) + 1j * padded(im))
        h, w = want.shape
        for got in (
            vexfilt.forward(re, im),
            vexfilt.forward(re.astype(np.float64), im.astype(np.float64)),
            vexfilt.forward(re + 1j * im.astype(np.float64)),
        ):
            assert relative_rms(got.array, want) <= fft_bound(w, h)
        byte = (re >> 8).astype(np.uint8)
        assert relative_rms(vexfilt.forward(byte).array, np.fft.fft2(padded(byte))) <= fft_bound(w, h)
        # A buffer transformed as it stands: the forward transform of its array.
        spectrum = vexfilt.forward(byte)
        assert relative_rms(vexfilt.forward(spectrum).array, np.fft.fft2(spectrum.array.astype(np.complex128))) <= 2 * fft_bound(w, h)


def test_strided_views_transform_like_their_contiguous_copies(photos):
    camera = photos["camera"]
    for view in (camera[::2, ::3], camera.T, camera[::-1, 10:300], np.asfortranarray(camera)):
        assert not view.flags.c_contiguous or view is camera
        assert vexfilt.forward(view) == vexfilt.forward(np.ascontiguousarray(view))
    before = camera.copy()
    vexfilt.forward(camera[::2, ::2])
    assert np.array_equal(camera, before)


def test_other_dtypes_and_shapes_are_refused_with_type_error():
    for bad in (np.zeros((4, 4), np.float32), np.zeros((4, 4), np.int32), np.zeros((4, 4), ">u2"),
                np.zeros(16, np.uint8), np.zeros((2, 2, 2), np.uint8), [[1, 2], [3, 4]]):
        with pytest.raises(TypeError):
            vexfilt.forward(bad)
    with pytest.raises(TypeError):
        vexfilt.forward(np.zeros((4, 4), np.uint8), np.zeros((4, 4), np.uint16))


def test_size_limit_is_the_library_error_and_nothing_is_copied_first():
    with pytest.raises(vexfilt.InvalidSize, match="no larger than 2048") as info:
        vexfilt.forward(np.broadcast_to(np.uint8(1), (10, 100000)))  # 1 MB view of one byte
    assert isinstance(info.value, ValueError) and info.value.number == 0x10006302


# ---- the array view ----------------------------------------------------------------


def test_array_is_a_live_view_that_keeps_the_buffer_alive():
    spectrum = vexfilt.forward(np.eye(8))
    view = spectrum.array
    assert view.dtype == np.complex64 and view.shape == (8, 8) and not view.flags.owndata
    view[2, 3] = 5 - 2j
    assert spectrum.get(3, 2) == 5 - 2j
    spectrum.put(-1, -1, 7j, centered=True)
    assert view[7, 7] == 7j
    del spectrum
    gc.collect()
    assert view[2, 3] == 5 - 2j  # still readable: the view holds the buffer
    with pytest.raises(vexfilt.Uninitialized):
        vexfilt.FrequencyBuffer().array


def test_a_target_holding_data_is_never_resized():
    small = vexfilt.FrequencyBuffer(8, 8)
    view = small.array
    with pytest.raises(ValueError, match="never resizes"):
        vexfilt.forward(np.ones((20, 20)), out=small)
    with pytest.raises(ValueError):
        vexfilt.BandPass(0.1, 0.0, 0.2, (32, 32)).apply(vexfilt.FrequencyBuffer(32, 32), small)
    assert small.shape == (8, 8) and view.base is not None
    same = vexfilt.forward(np.ones((5, 6)), out=small)
    assert same is small and view[0, 0] == 30


# ---- inverse transforms ------------------------------------------------------------


def test_every_inverse_output_against_numpy(photos, rng):
    image = photos["coins"]
    spectrum = vexfilt.forward(image)
    # Disturb the spectrum so that the result is complex and its magnitude non-trivial.
    spectrum.array[:] *= np.exp(1j * rng.uniform(-0.3, 0.3, size=spectrum.shape)).astype(np.complex64)
    z = np.fft.ifft2(spectrum.array.astype(np.complex128))
    h, w = image.shape
    want = z[:h, :w]
    tol = fft_bound(*spectrum.size) * np.sqrt(np.mean(np.abs(z) ** 2)) * 4

    raw = vexfilt.inverse(spectrum, "buffer")
    assert relative_rms(raw.array / (spectrum.width * spectrum.height), z) <= 2 * fft_bound(*spectrum.size)
    real, imag = vexfilt.inverse(spectrum, "pair")
    assert real.shape == imag.shape == (h, w) and real.dtype == np.float64
    assert np.sqrt(np.mean(np.abs(real + 1j * imag - want) ** 2)) <= tol
    magnitude = vexfilt.inverse(spectrum, np.float64)
    assert np.sqrt(np.mean((magnitude - np.abs(want)) ** 2)) <= tol
    # Integer outputs round the same magnitude to nearest and saturate.
    for dtype, top in ((np.uint8, 255), (np.uint16, 65535)):
        got = vexfilt.inverse(spectrum, dtype)
        assert got.dtype == dtype and got.shape == (h, w)
        assert np.abs(got.astype(float) - np.clip(np.abs(want), 0, top)).max() <= 0.5 + 1e-3
        stretched = vexfilt.inverse(spectrum, dtype, stretch=True)
        assert stretched.min() == 0 and stretched.max() >= top - 1
        image_, angle = vexfilt.inverse(spectrum, dtype, angle=True)
        assert np.array_equal(image_, got)
        clear = np.abs(want) > 1.0  # where the angle is well defined in single precision
        assert np.abs(np.angle(np.exp(1j * (angle - np.angle(want)))))[clear].max() <= 1e-3
        image_, quadrant = vexfilt.inverse(spectrum, dtype, quadrant=True)
        assert np.array_equal(quadrant, (real < 0) + 2 * (imag < 0))
    assert not spectrum.inverse_computed


def test_in_place_inverse_is_reused_by_later_outputs(photos):
    image = photos["camera"][:200, :300]
    spectrum = vexfilt.forward(image)
    untouched = spectrum.copy()
    want8 = vexfilt.inverse(untouched, np.uint8)
    assert np.array_equal(want8, image)  # an exact round trip of 8-bit pixels
    got16 = vexfilt.inverse(spectrum, np.uint16, in_place=True)
    assert spectrum.inverse_computed and np.array_equal(got16, image)
    polls = vexfilt._vexfilt._attention_polls()
    assert np.array_equal(vexfilt.inverse(spectrum, np.uint8), want8)
    assert vexfilt._vexfilt._attention_polls() - polls <= 1  # re-read, not transformed again
    assert np.array_equal(vexfilt.quadrant_image(spectrum), vexfilt.inverse(untouched, np.uint8, quadrant=True)[1])
    with pytest.raises(vexfilt.InvalidBuffer):
        spectrum.magnitude_image()
    # Every output kind honours in_place.
    for output, extra in (("pair", {}), ("buffer", {}), (np.float64, {"angle": True}), (np.uint8, {"quadrant": True})):
        other = untouched.copy()
        vexfilt.inverse(other, output, in_place=True, **extra)
        assert other.inverse_computed, (output, extra)
        assert np.array_equal(vexfilt.inverse(other, np.uint8), want8)


# ---- spectrum images and display mapping ----------------------------------------------


def test_spectrum_images_and_mapping(photos):
    spectrum = vexfilt.forward(photos["moon"][:100, :120])
    z = spectrum.array.astype(np.complex128)
    for centered in (False, True):
        shift = np.fft.fftshift if centered else (lambda a: a)
        assert np.array_equal(spectrum.real_image(centered), shift(z.real))
        assert np.array_equal(spectrum.imaginary_image(centered), shift(z.imag))
        assert np.allclose(spectrum.magnitude_image(centered), shift(np.abs(z)), rtol=1e-12)
        assert np.allclose(spectrum.phase_image(centered), shift(np.mod(np.angle(z), 2 * np.pi)), atol=1e-9)
    shown = vexfilt.map_image(spectrum.magnitude_image(True), vexfilt.Mapping.LOG)
    assert shown.dtype == np.uint8 and shown.shape == spectrum.shape
    assert shown[64, 64] == shown.max()  # the zero frequency is the brightest
    ramp = np.linspace(0.0, 10.0, 12).reshape(3, 4)
    assert np.array_equal(vexfilt.map_image(ramp, vexfilt.Mapping.RANGE, 0.0, 10.0),
                          np.trunc(ramp * np.float64(255 / 10)).astype(np.uint8))
    with pytest.raises(TypeError):
        vexfilt.map_image(ramp.astype(np.float32))


# ---- arithmetic --------------------------------------------------------------------


def test_arithmetic_is_elementwise_complex_rounded_once(rng):
    a = vexfilt.forward(rng.uniform(-1, 1, (16, 32)), rng.uniform(-1, 1, (16, 32)))
    b = vexfilt.forward(rng.uniform(-1, 1, (16, 32)))
    za, zb = a.array.astype(np.complex128), b.array.astype(np.complex128)
    assert np.array_equal((a + b).array, (za + zb).astype(np.complex64))
    assert np.array_equal((a - b).array, (za - zb).astype(np.complex64))
    assert np.array_equal((a * b).array, (za * zb).astype(np.complex64))
    assert np.array_equal(vexfilt.conjugate(a).array, np.conj(za).astype(np.complex64))
    c = a.copy()
    view = c.array
    c *= b
    c -= a
    assert np.array_equal(view, ((zb * za).astype(np.complex64).astype(np.complex128) - za).astype(np.complex64))
    assert vexfilt.subtract(a, b, out=b) is b and np.array_equal(b.array, (za - zb).astype(np.complex64))
    with pytest.raises(vexfilt.InvalidSize):
        a + vexfilt.FrequencyBuffer(8, 8)


# ---- values ------------------------------------------------------------------------


def test_buffer_copies_compare_and_pickle_through_the_archive_record(photos):
    spectrum = vexfilt.forward(photos["text"])
    vexfilt.Gabor((0.02, 0.02), (0.0, 0.0), 0.3, 0.1, spectrum.size).apply(spectrum)
    for other in (copy.copy(spectrum), copy.deepcopy(spectrum), pickle.loads(pickle.dumps(spectrum)),
                  vexfilt.FrequencyBuffer.from_bytes(spectrum.to_bytes())):
        assert other == spectrum and other.masked and other.masked_rows == spectrum.masked_rows
        assert not np.shares_memory(other.array, spectrum.array)
    changed = spectrum.copy()
    changed.array[1, 1] += 1
    assert changed != spectrum
    with pytest.raises(vexfilt.ArchiveError):
        vexfilt.FrequencyBuffer.from_bytes(spectrum.to_bytes()[:-5])
    assert vexfilt.FrequencyBuffer() == pickle.loads(pickle.dumps(vexfilt.FrequencyBuffer()))

"""Test pairs for the alignment comparison (bench/align_compare.py).

Each pair is a 512 x 512 reference crop of a photograph and a moving crop at
the same place of the photograph shifted by a known fractional amount. The
shift is an exact Fourier shift of the whole (reflect-padded) photograph, so
the moving crop brings in real content at its edges: the shift is not
periodic at the crop's scale. Gaussian noise of sigma 5 grey levels is added
to both crops independently. Photographs smaller than 800 pixels a side are
first enlarged by cubic-spline interpolation so that a crop can move a
quarter of its size in every direction inside real content.

Convention of the truth: moving(x, y) = reference(x - dx, y - dy).
"""
import numpy as np
import scipy.ndimage as ndi
import skimage.data as data
from skimage.color import rgb2gray

CROP = 512
NOISE = 5.0


def photographs():
    """Grey photographs in [0, 255], float64, each at least 800 px a side."""
    out = {}
    for name in ["camera", "astronaut", "moon", "coffee", "brick", "hubble_deep_field", "retina"]:
        img = getattr(data, name)()
        if img.ndim == 3:
            img = rgb2gray(img[..., :3]) * 255.0
        img = img.astype(np.float64)
        small = min(img.shape)
        if small < 800:
            img = ndi.zoom(img, 800.0 / small + 1e-3, order=3)
        out[name] = np.clip(img, 0, 255)
    return out


def fourier_shift(img, dx, dy):
    """img shifted by (dx, dy) (content moves toward +x, +y), exactly in the
    Fourier domain of the reflect-padded photograph (no seam at its border)."""
    pad = 256
    p = np.pad(img, pad, mode="reflect")
    fy = np.fft.fftfreq(p.shape[0])[:, None]
    fx = np.fft.fftfreq(p.shape[1])[None, :]
    ph = np.exp(-2j * np.pi * (fx * dx + fy * dy))
    s = np.fft.ifft2(np.fft.fft2(p) * ph).real
    return s[pad:-pad, pad:-pad]


def crop_at_centre(img, size=CROP):
    y0 = (img.shape[0] - size) // 2
    x0 = (img.shape[1] - size) // 2
    return img[y0:y0 + size, x0:x0 + size]


def translation_pairs(count_per_photo=6, salt=1, noise=NOISE, max_shift=CROP / 4):
    """Yields (name, reference, moving, dx, dy) with float64 crops."""
    rng = np.random.default_rng(salt)
    for name, img in photographs().items():
        for _ in range(count_per_photo):
            dx, dy = rng.uniform(-max_shift, max_shift, 2)
            ref = crop_at_centre(img)
            mov = crop_at_centre(fourier_shift(img, dx, dy))
            ref = ref + rng.normal(0, noise, ref.shape)
            mov = mov + rng.normal(0, noise, mov.shape)
            yield name, ref, mov, dx, dy


def similarity_warp(img, angle, scale, dx, dy):
    """moving(p) = img(q) with p = c + scale * R(angle) (q - c) + (dx, dy),
    c the centre of the image, R rotating from +x toward +y (x right, y
    down), by a cubic spline (scipy.ndimage.affine_transform)."""
    c = np.array([(img.shape[0] - 1) / 2.0, (img.shape[1] - 1) / 2.0])  # (row, col)
    ca, sa = np.cos(angle), np.sin(angle)
    # forward in (x, y): [[ca, -sa], [sa, ca]] * scale; inverse maps p -> q.
    inv_xy = np.array([[ca, sa], [-sa, ca]]) / scale
    inv_rc = inv_xy[::-1, ::-1]  # (row, col) order
    t = np.array([dy, dx])
    offset = c - inv_rc @ (c + t)
    return ndi.affine_transform(img, inv_rc, offset=offset, order=3, mode="reflect")


def similarity_pairs(count_per_photo=4, salt=2, noise=NOISE):
    """Yields (name, reference, moving, angle, scale, dx, dy): rotations in
    (-180, 180] degrees, scales 0.8 .. 1.25, shifts up to 16 px, about the
    crop's centre."""
    rng = np.random.default_rng(salt)
    for name, img in photographs().items():
        big = crop_at_centre(img, 768)
        for _ in range(count_per_photo):
            angle = np.deg2rad(rng.uniform(-180, 180))
            scale = float(np.exp(rng.uniform(np.log(0.8), np.log(1.25))))
            dx, dy = rng.uniform(-16, 16, 2)
            ref = crop_at_centre(big)
            mov = crop_at_centre(similarity_warp(big, angle, scale, dx, dy))
            ref = ref + rng.normal(0, noise, ref.shape)
            mov = mov + rng.normal(0, noise, mov.shape)
            yield name, ref, mov, angle, scale, dx, dy

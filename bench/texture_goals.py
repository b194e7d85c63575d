#!/usr/bin/python3
"""Measures the texture bank's goals on scikit-image's sample textures.

Orientation: brick rotated by known angles (scipy.ndimage.rotate); the
bank's dominant orientation over the central disc, relative to the
unrotated image's, against the rotation. Defects: a patch of another texture
pasted into one half of an image, the model trained on the other half.
Runs tests/vision/texture_probe through PGM files.

usage: bench/texture_goals.py BUILD_DIR [--quick] [--defects] [--sharp] [--picture=PNG] [--halo-picture=PNG]

--defects leaves out the orientation goal; --quick the "before" rows (and
most rotations); --picture writes the brick-with-gravel defect map;
--halo-picture=PNG only writes brick with a raw patch of grass, the invariant set
above the sharp one (the halo around the patch);
--separability=PNG the distance histograms of grass and gravel; --sharp adds
the rows of the sharp invariant set (each pixel's features from the most
homogeneous of 9 boxes), every protocol with both pastes, and the same image
with the raw paste for the default.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np
import scipy.ndimage as ndi
import skimage.data

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
PROBE = os.path.join(BUILD, "tests", "vision", "texture_probe")
TMP = tempfile.mkdtemp(prefix="texture_goals_")


def write_pgm(path, image):
    image = np.clip(np.rint(image), 0, 255).astype(np.uint8)
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (image.shape[1], image.shape[0]))
        f.write(image.tobytes())


def orientation(image, freqs, n):
    src, out = os.path.join(TMP, "in.pgm"), os.path.join(TMP, "out.f32")
    write_pgm(src, image)
    subprocess.run([PROBE, "orient", ",".join(map(str, freqs)), str(n), src, out], check=True)
    maps = np.fromfile(out, dtype="<f4").reshape(2, *image.shape)
    return maps[0].astype(float), maps[1].astype(float)


def dominant(theta, weight, mask):
    """Doubled-angle mean of theta over mask, weighted: radians in [0, pi)."""
    z = np.sum(weight[mask] * np.exp(2j * theta[mask]))
    return (np.angle(z) / 2.0) % np.pi


def wrap(a):
    """An angle difference folded into [-pi/2, pi/2)."""
    return (a + np.pi / 2) % np.pi - np.pi / 2


def orientation_goal(freqs, angles):
    brick = skimage.data.brick().astype(float)
    n = brick.shape[0]
    yy, xx = np.mgrid[:n, :n]
    disc = np.hypot(xx - n / 2, yy - n / 2) < 0.3 * n
    # Sign of scipy's rotation in the bank's frame (x right, y down), from a
    # synthetic grating: rotate(img, a) turns a wave vector at t to t - a.
    g = 128 + 60 * np.cos(2 * np.pi * 0.1 * (xx * np.cos(0.3) + yy * np.sin(0.3)))
    t0 = dominant(*orientation(g, [0.1], 8), disc)
    t1 = dominant(*orientation(ndi.rotate(g, 20.0, reshape=False, order=3, mode="reflect"), [0.1], 8), disc)
    sign = -1.0 if abs(wrap(t1 - t0 + np.radians(20))) < abs(wrap(t1 - t0 - np.radians(20))) else 1.0
    print(f"grating check: rotate by 20 deg moves the wave vector by {np.degrees(wrap(t1 - t0)):+.2f} deg "
          f"(sign {sign:+.0f})")
    base = dominant(*orientation(brick, freqs, 8), disc)
    print(f"brick, bank {freqs} x 8 orientations; unrotated dominant wave vector {np.degrees(base):.2f} deg")
    errors = []
    for a in angles:
        r = ndi.rotate(brick, a, reshape=False, order=3, mode="constant", cval=brick.mean())
        t = dominant(*orientation(r, freqs, 8), disc)
        err = np.degrees(wrap(t - base - sign * np.radians(a)))
        errors.append(err)
        print(f"  rotated {a:6.1f} deg: dominant {np.degrees(t):7.2f} deg, error {err:+.2f} deg")
    print(f"  largest orientation error {np.max(np.abs(errors)):.2f} deg over {len(angles)} rotations")
    return errors


# The documented default for natural textures: octave-spaced bank up to 0.4
# cycles per pixel, invariant features, their default smoothing (r = 24).
DEFAULT_FREQS = [0.05, 0.1, 0.2, 0.3, 0.4]
DEFAULT_MODEL = "-1:0:invariant"
# The same with the edge-preserving choice of the box.
SHARP_MODEL = "-1:0:invariant_sharp"
# Before: the per-filter log energies of the 3-frequency bank, r = 8.
BEFORE_FREQS = [0.05, 0.1, 0.2]
BEFORE_MODEL = "8"


def defect_goal(name, other, freqs, rate=0.01, smoothing="-1", size=96, split=True, matched=True, picture=None):
    """split: train on the left half, paste into the right half; else train on
    the whole defect-free image and paste into it (the texture's own pixels are
    then known to the model: this measures how well the textures separate, not
    how well the model carries over to other parts of a non-stationary image).
    matched: the patch's mean and contrast matched to the host's (else pasted
    raw). picture: a PNG path for the test image with its defect map."""
    tex = getattr(skimage.data, name)().astype(float)
    pat = getattr(skimage.data, other)().astype(float)
    # Match the pasted texture's mean and contrast to the host's, so that only
    # the texture differs, not the grey level.
    if matched:
        pat = (pat - pat.mean()) / pat.std() * tex.std() + tex.mean()
    h, w = tex.shape
    if split:
        train, test = tex[:, : w // 2], tex[:, w // 2:].copy()
    else:
        train, test = tex, tex.copy()
    th, tw = test.shape
    y0, x0 = (th - size) // 2, (tw - size) // 2
    test[y0:y0 + size, x0:x0 + size] = pat[y0:y0 + size, x0:x0 + size]
    flaw = np.zeros(test.shape, bool)
    flaw[y0:y0 + size, x0:x0 + size] = True
    paths = [os.path.join(TMP, p) for p in ("train.pgm", "test.pgm", "clean.pgm", "d.f32", "c.f32")]
    write_pgm(paths[0], train)
    write_pgm(paths[1], test)
    write_pgm(paths[2], tex[:, w // 2:] if split else tex)
    cmd = [PROBE, "defects", ",".join(map(str, freqs)), "8", str(rate), smoothing]
    out = subprocess.run(cmd + [paths[3], paths[1], paths[0]], check=True, capture_output=True, text=True).stdout
    threshold, margin = float(out.split()[1]), int(out.split()[3])
    d = np.fromfile(paths[3], dtype="<f4").reshape(test.shape)
    subprocess.run(cmd + [paths[4], paths[2], paths[0]], check=True, capture_output=True)
    dc = np.fromfile(paths[4], dtype="<f4").reshape(test.shape)
    inside = np.zeros(test.shape, bool)
    inside[margin:th - margin, margin:tw - margin] = True
    hit = d > threshold
    rows = []
    for guard in (0, 8, 16):
        grown = ndi.binary_dilation(flaw, iterations=guard) if guard else flaw
        shrunk = ndi.binary_erosion(flaw, iterations=guard) if guard else flaw
        found = hit[shrunk & inside].mean()
        false = hit[~grown & inside].mean()
        rows.append((guard, found, false))
    clean = (dc > threshold)[inside].mean()
    # The patch interior's distances against the threshold (how far apart
    # the textures are, whether or not the threshold separates them).
    q = np.percentile(d[ndi.binary_erosion(flaw, iterations=16) & inside], [5, 50, 95]) / threshold
    print(f"{name} with a {size}^2 patch of {other} ({'other half' if split else 'same image'}, "
          f"{'matched' if matched else 'raw'}), bank {freqs} x 8, "
          f"smoothing[:shrinkage[:features]] {smoothing}, margin {margin}: "
          + "; ".join(f"guard {g}: found {100 * f:.1f} %, false {100 * a:.2f} %" for g, f, a in rows)
          + f"; defect-free half: {100 * clean:.2f} % flagged; patch distance / threshold 5/50/95 %: "
          + "/".join(f"{v:.2f}" for v in q), flush=True)
    if picture:
        save_picture(picture, test, hit & inside, inside)
    return rows, clean


def features_of(test, train, freqs=None, model=None):
    """The default model trained on `train`: feature maps and distances of `test`, threshold, margin."""
    paths = [os.path.join(TMP, p) for p in ("ftrain.pgm", "ftest.pgm", "f.f32")]
    write_pgm(paths[0], train)
    write_pgm(paths[1], test)
    cmd = [PROBE, "features", ",".join(map(str, freqs or DEFAULT_FREQS)), "8", "0.01", model or DEFAULT_MODEL]
    out = subprocess.run(cmd + [paths[2], paths[1], paths[0]], check=True, capture_output=True, text=True).stdout
    words = out.split()
    threshold, margin, n = float(words[1]), int(words[3]), int(words[5])
    values = np.fromfile(paths[2], dtype="<f4").reshape(n + 1, *test.shape)
    return values[:n].astype(float), values[n].astype(float), threshold, margin


def separability(pairs=(("grass", "gravel"), ("gravel", "grass")), picture=None):
    """Why a pair is or is not separated: the default model trained on the left half; per
    feature the mean and spread on the left half (training), the defect-free right half and
    the patch's interior, and the distances of the three against the threshold."""
    names = [f"{kind} {f}" for f in DEFAULT_FREQS for kind in ("level", "coherence", "spread")]
    panels = []
    for name, other in pairs:
        tex = getattr(skimage.data, name)().astype(float)
        pat = getattr(skimage.data, other)().astype(float)
        pat = (pat - pat.mean()) / pat.std() * tex.std() + tex.mean()
        h, w = tex.shape
        left, right = tex[:, : w // 2], tex[:, w // 2:]
        test = right.copy()
        y0, x0 = (h - 96) // 2, (w // 2 - 96) // 2
        test[y0:y0 + 96, x0:x0 + 96] = pat[y0:y0 + 96, x0:x0 + 96]
        flaw = np.zeros(test.shape, bool)
        flaw[y0:y0 + 96, x0:x0 + 96] = True
        fl, dl, threshold, m = features_of(left, left)
        fr, dr, _, _ = features_of(right, left)
        fp, dp, _, _ = features_of(test, left)
        inside = np.zeros(test.shape, bool)
        inside[m:h - m, m:w // 2 - m] = True
        core = ndi.binary_erosion(flaw, iterations=16) & inside
        print(f"{name} with a patch of {other}: default model on the left half, threshold {threshold:.2f}")
        print(f"  {'feature':16s} {'left (training)':>17s} {'right, clean':>17s} {'patch interior':>17s}  patch z")
        for k, label in enumerate(names):
            a, b, c = fl[k][inside], fr[k][inside], fp[k][core]
            print(f"  {label:16s} {a.mean():8.3f} ± {a.std():6.3f} {b.mean():8.3f} ± {b.std():6.3f} "
                  f"{c.mean():8.3f} ± {c.std():6.3f}  {(c.mean() - a.mean()) / a.std():+5.1f}")
        pct = lambda v: "/".join(f"{x:.2f}" for x in np.percentile(v, [5, 50, 95, 99]))
        print(f"  distance 5/50/95/99 %: left {pct(dl[inside])}, right clean {pct(dr[inside])}, "
              f"patch interior {pct(dp[core])}")
        panels.append((name, other, dl[inside], dr[inside], dp[core], threshold))
    if picture:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        fig, axes = plt.subplots(1, len(panels), figsize=(4.2 * len(panels), 2.6), dpi=80)
        for ax, (name, other, dl, dr, dp, threshold) in zip(np.atleast_1d(axes), panels):
            bins = np.linspace(0, max(np.percentile(dp, 99.5), np.percentile(dr, 99.5), threshold) * 1.1, 60)
            for v, label in ((dl, f"{name}, left (training)"), (dr, f"{name}, right (clean)"),
                             (dp, f"{other} patch")):
                ax.hist(v, bins=bins, density=True, histtype="step", label=label)
            ax.axvline(threshold, color="k", lw=1, ls="--")
            ax.set_title(f"{name} ← {other}", fontsize=9)
            ax.set_xlabel("distance (dashed: threshold)", fontsize=8)
            ax.tick_params(labelsize=7)
            ax.legend(fontsize=6)
        fig.tight_layout()
        fig.savefig(picture)


def save_picture(path, image, hit, inside):
    """The test image (grey) beside it with flagged pixels in red, halved."""
    import skimage.io
    import skimage.transform
    grey = np.clip(image, 0, 255) / 255.0
    rgb = np.repeat(grey[..., None], 3, axis=2) * np.where(inside, 1.0, 0.6)[..., None]
    over = rgb.copy()
    over[hit] = 0.35 * over[hit] + 0.65 * np.array([1.0, 0.1, 0.1])
    both = np.concatenate([rgb, np.ones((image.shape[0], 8, 3)), over], axis=1)
    small = skimage.transform.rescale(both, 0.5, channel_axis=2, anti_aliasing=True)
    skimage.io.imsave(path, (np.clip(small, 0, 1) * 255).astype(np.uint8), check_contrast=False)


if __name__ == "__main__":
    quick = "--quick" in sys.argv
    angles = [0.0, 5.0, 12.5, 22.5, 30.0, 45.0, 60.0, 77.5, 90.0, 135.0]
    if "--defects" not in sys.argv:
        orientation_goal([0.025, 0.05], angles[:4] if quick else angles)
    pairs = (("grass", "brick"), ("brick", "gravel"), ("grass", "gravel"), ("gravel", "grass"), ("brick", "grass"),
             ("gravel", "brick"))
    picture = next((a.split("=", 1)[1] for a in sys.argv if a.startswith("--picture=")), None)
    halo = next((a.split("=", 1)[1] for a in sys.argv if a.startswith("--halo-picture=")), None)
    if halo:
        # Brick with a raw patch of grass, trained on the other half: the
        # invariant set (top) and the sharp one (bottom).
        import skimage.io
        parts = []
        for model in (DEFAULT_MODEL, SHARP_MODEL):
            path = os.path.join(TMP, f"halo-{len(parts)}.png")
            defect_goal("brick", "grass", DEFAULT_FREQS, smoothing=model, matched=False, picture=path)
            parts.append(skimage.io.imread(path))
        gap = np.full((8,) + parts[0].shape[1:], 255, np.uint8)
        skimage.io.imsave(halo, np.concatenate([parts[0], gap, parts[1]], axis=0), check_contrast=False)
        sys.exit()
    separability(picture=next((a.split("=", 1)[1] for a in sys.argv if a.startswith("--separability=")), None))
    print("default: invariant features, bank", DEFAULT_FREQS)
    sharp = "--sharp" in sys.argv
    protocols = ((True, True), (True, False), (False, True)) + (((False, False),) if sharp else ())
    for split, matched in protocols:
        for name, other in pairs:
            defect_goal(name, other, DEFAULT_FREQS, smoothing=DEFAULT_MODEL, split=split, matched=matched,
                        picture=picture if (split, matched, name, other) == (True, True, "brick", "gravel") else None)
    if sharp:
        print("sharp: invariant features from the most homogeneous of 9 boxes, bank", DEFAULT_FREQS)
        for split, matched in protocols:
            for name, other in pairs:
                defect_goal(name, other, DEFAULT_FREQS, smoothing=SHARP_MODEL, split=split, matched=matched)
    if not quick:
        print("before: per-filter features, bank", BEFORE_FREQS)
        for split, matched in ((True, True), (True, False)):
            for name, other in pairs:
                defect_goal(name, other, BEFORE_FREQS, smoothing=BEFORE_MODEL, split=split, matched=matched)

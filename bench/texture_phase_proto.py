#!/usr/bin/python3
"""Numpy model of phase-across-scales features added to the texture model's
invariant features with sharp boxes, on the pasted-patch protocols of
texture_goals.py.

The complex responses are computed exactly here: the full-size FFT of the
image (its mean removed) times the bank's one-sided Gaussian patch centred on
(f cos th, f sin th), with the bank's standard deviations along and across th,
inverted by numpy's inverse FFT (which carries the 1 / (W H)); |R| is the
library's energy (--check compares them).

Phase across scales, per octave pair (f, 2f) of the bank (0.05/0.1, 0.1/0.2,
0.2/0.4) and orientation n:

  P_n = R_{2f,n} conj(R_{f,n})^2

The carriers cancel (2f - 2 f = 0), so P_n is a smooth map whose argument is
the relative phase of the two scales: real for a line (positive for a bright
line, negative for a dark one), imaginary for a step edge (its sign the
edge's polarity along th). Box averages <.> of radius r, normalised by
D = <sum_n |R_{2f,n}| |R_{f,n}|^2> + floor (floor: 1e-3 of its mean on the
first training image), give per pair

  "ri" (the earlier experiment's):  Re <sum_n P_n> / D,  Im <sum_n P_n> / D
  "ra" (turn invariant):            Re <sum_n P_n> / D,  <sum_n |Im P_n|> / D
  "ria":                            the three of them,

in [-1, 1] (<sum_n |Im P_n|> / D in [0, 1]). The bank's directions cover a
half turn only: turning the texture by a multiple of pi / N permutes the
filters, except that a direction carried past pi lands on the mirror of a
filter, whose response is the conjugate (for a real image). So Re and
sum |Im P_n| are unchanged by such turns (and by mirrors and half turns,
which conjugate some or all of the responses), while Im <sum P_n> is not: it
keeps the polarity of the edges along the bank's directions, e.g. of shading
lit from one side.

Every pixel's features (invariant and phase) come from the same sharp box (the
least step of ln S among 9 boxes, offset r // 2) as the library's
"invariant_sharp" set; the Gaussian model, the held-out-halves threshold and the
counting are texture_sharp_proto.py's.

usage: PYTHONPATH=BUILD/python bench/texture_phase_proto.py [--check] [-r R] [--main] [set ...]
sets (features from the sharp box): inv (the 15 invariant features: the
baseline), ri, ra, ria (the phase features alone), inv+ri, inv+ra,
sp+ri, sp+ra (spreads at 0.2, 0.3, 0.4 and the phase), ls+ri, ls+ra (levels and spreads at
0.2, 0.3, 0.4 and the phase), lsc+ra (levels, spreads and coherences at 0.2-0.4
and the phase); two sets joined by "|" (inv|ri): a pixel flagged when either
model flags it; --main: the other-half protocols only (matched and raw).
"""
import sys

import numpy as np

import texture_sharp_proto as sp

PHASE_PAIRS = ((0.05, 0.1), (0.1, 0.2), (0.2, 0.4))
PHASE_SETS = ("ri", "ra", "ria")


def responses(bank, image):
    """Complex responses (filters, h, w) of the bank's one-sided Gabor patches, exact in double."""
    img = image.astype(float)
    h, w = img.shape
    spectrum = np.fft.fft2(img - img.mean())
    spectrum[0, 0] = 0.0
    fy = np.fft.fftfreq(h)[:, None]
    fx = np.fft.fftfreq(w)[None, :]
    out = np.empty((bank.filters, h, w), complex)
    freqs = bank.frequencies
    for k, (th, (su, sv)) in enumerate(zip(bank.angles, bank.sigmas)):
        f = freqs[k // bank.orientations]
        u = fx * np.cos(th) + fy * np.sin(th) - f
        v = -fx * np.sin(th) + fy * np.cos(th)
        out[k] = np.fft.ifft2(spectrum * np.exp(-0.5 * (u * u / (su * su) + v * v / (sv * sv))))
    return out


def phase_maps(resp, r, floors, kind):
    """Per octave pair the box-averaged, normalised phase features of kind "ri", "ra" or "ria"."""
    n = sp.N
    maps = []
    for i, (f1, f2) in enumerate(PHASE_PAIRS):
        m1, m2 = sp.FREQS.index(f1), sp.FREQS.index(f2)
        r1, r2 = resp[m1 * n:(m1 + 1) * n], resp[m2 * n:(m2 + 1) * n]
        p = r2 * np.conj(r1) ** 2
        den = (np.abs(r2) * np.abs(r1) ** 2).sum(0)
        if len(floors) <= i:
            floors.append(1e-3 * den.mean() + 1e-300)
        d = sp.box(den, r) + floors[i]
        ps = p.sum(0)
        parts = {"r": ps.real, "i": ps.imag, "a": np.abs(p.imag).sum(0)}
        maps += [sp.box(parts[c], r) / d for c in kind]
    return np.array(maps)


def columns(name):
    """Indices of a feature set in the stacked planes (15 invariant: level, coherence, spread per
    frequency; then the phase features) and the kind of the phase features."""
    inv = list(range(15))
    hi = [sp.FREQS.index(f) for f in (0.2, 0.3, 0.4)]
    kind = next((p for p in name.split("+") if p in PHASE_SETS), "ra")
    phase = list(range(15, 15 + 3 * len(kind)))
    subsets = {
        "inv": inv,
        "sp": [3 * m + 2 for m in hi],
        "ls": [3 * m + j for m in hi for j in (0, 2)],
        "lsc": [3 * m + j for m in hi for j in (0, 1, 2)],
    }
    parts = name.split("+")
    cols = []
    for p in parts:
        cols += phase if p in PHASE_SETS else subsets[p]
    return cols, kind


class PhaseModel(sp.Model):
    """The sharp model (9 boxes, the step of ln S) over a chosen set of invariant and phase features."""

    def __init__(self, name, bank):
        super().__init__(f"hk9:{sp.R // 2}", bank)
        self.cols, self.kind = columns(name)

    def features(self, image):
        sp.MARG = self.margin
        sp.HALVES = True
        if not self.floors:
            self.pfloors = []
        inv = sp.invariant(self.bank.energy(image), self.floors)  # fills sp.steps
        ph = phase_maps(responses(self.bank.bank, image), sp.R, self.pfloors, self.kind)
        return sp.select(np.concatenate([inv, ph])[self.cols], self.offsets)


class EitherModel:
    """Two models of the same pixels (sets joined by "|"): a pixel is flagged when either model flags it
    (each at its own held-out threshold, so the stated rate is at most the sum of the two)."""

    def __init__(self, name, bank):
        self.models = [PhaseModel(n, bank) for n in name.split("|")]
        self.cols = sum((m.cols for m in self.models), [])
        self.margin = max(m.margin for m in self.models)
        self.threshold = 1.0

    def train(self, image):
        for m in self.models:
            m.train(image)

    def distance(self, image):
        return np.max([m.distance(image) / m.threshold for m in self.models], axis=0)


def check(bank):
    """|R| against the library's energies, exact and fast."""
    img = sp.images("grass", "gravel", True, True)[1]
    resp = np.abs(responses(bank.bank, img))
    m = bank.margin0
    for exact in (True, False):
        e = bank.bank.energy(img, exact=exact).astype(float)
        rel = (np.abs(resp - e)[:, m:-m, m:-m].max(axis=(1, 2)) / e[:, m:-m, m:-m].max(axis=(1, 2))).max()
        print(f"exact={exact}: largest |R| - energy over the filter's largest energy {rel:.2e}")


def main():
    args = sys.argv[1:]
    if "-r" in args:
        i = args.index("-r")
        sp.R = int(args[i + 1])
        del args[i:i + 2]
    protocols = ((True, True), (True, False), (False, True), (False, False))
    if "--main" in args:
        args.remove("--main")
        protocols = protocols[:2]
    bank = sp.Bank()
    if "--check" in args:
        check(bank)
        return
    for name in args or ["inv", "ra", "inv+ra"]:
        model = EitherModel(name, bank) if "|" in name else PhaseModel(name, bank)
        print(f"set {name} ({len(model.cols)} features), r = {sp.R}, margin {model.margin}", flush=True)
        for split, matched in protocols:
            cells, met = [], 0
            for host, other in sp.PAIRS:
                f, a, _ = sp.goal(model, host, other, split, matched)
                ok = f >= 0.95 and a <= 0.01
                met += ok
                cells.append(f"{host}<-{other} {100 * f:5.1f}/{100 * a:4.2f}{'*' if ok else ' '}")
            print(f"  {'other half' if split else 'same image'}, {'matched' if matched else 'raw    '} ({met}/6): "
                  + "  ".join(cells), flush=True)


if __name__ == "__main__":
    main()

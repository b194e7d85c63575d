"""A photograph, its spectrum and a band-pass ring: the picture in docs/python.md.

    PYTHONPATH=build/python /usr/bin/python3 examples/python/quickstart.py [out.png]
"""
import sys

import numpy as np
import vexfilt
from PIL import Image
from skimage import data

image = data.camera()  # 512 x 512, uint8
spectrum = vexfilt.forward(image)  # FrequencyBuffer, zero frequency at [0, 0]
ring = vexfilt.BandPass(sigma=0.01, plateau=0.02, frequency=0.08, size=spectrum.size)
detail = vexfilt.inverse(ring(spectrum), np.uint8, stretch=True)  # magnitude, stretched
shown = vexfilt.map_image(spectrum.magnitude_image(centered=True), vexfilt.Mapping.LOG)
Image.fromarray(np.hstack([image, shown, detail])).save(sys.argv[1] if len(sys.argv) > 1 else "python-example.png")

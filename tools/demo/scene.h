// The built-in test scene: a woven texture with a flaw, for a first run
// without an input file.
#pragma once

#include <cstdint>
#include <vector>

#include "grey_image.h"

namespace demo {

// The texture: grating A fills the image; a disc holds grating B instead.
// Frequencies in cycles per pixel, angles in degrees (0 along x, 90 along y).
inline constexpr double kSceneFrequencyA = 0.08;
inline constexpr double kSceneAngleA = 30.0;
inline constexpr double kSceneFrequencyB = 0.17;
inline constexpr double kSceneAngleB = 120.0;

// A size x size 8-bit scene around grey 128: gratings A and B (amplitude 45
// each), two flaws in A -- a small patch where the texture is missing and a
// bright scratch -- and Gaussian noise (standard deviation 6) from a fixed
// salt, so every run makes the same pixels. Sizes from 16 up.
GreyImage makeScene(long size);

// The same weave without flaws and without the disc (grating A and noise
// only), with noise from `salt`: defect-free texture to train on.
GreyImage makeSceneTexture(long size, std::uint64_t salt);

// 1 where makeScene(size) departs from the plain weave (the disc of grating
// B, the missing patch, the scratch; weight at least one half), else 0.
std::vector<unsigned char> sceneFlawMask(long size);

}  // namespace demo

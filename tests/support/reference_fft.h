// A plain scalar re-statement of the engine's algorithm for bit-exact comparison:
// same operations in the same order with the same roundings, but simple loops,
// element-by-element transposes and no code shared with the library. Band limits
// are taken as given (no clamping): keep them within a few heights of 0.
#pragma once

namespace reference {

void complexFFT2D(float* data, long width, long height, int direction, long bandMin, long bandMax);
void realFFT2D(float* data, long width, long height);

}  // namespace reference

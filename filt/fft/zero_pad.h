// Zero padding of a spectrum array. Not installed.
#pragma once

// Writes complex zeros into the padding of a width x height array whose
// top-left imageWidth x imageHeight elements hold data: columns imageWidth
// and up of the first imageHeight rows, and every later row. Polls the
// attention check once, first.
void vf_ZeroPad(long imageWidth, long imageHeight, long width, long height, float* data);

// Forward transforms of pixels that live in the host's own memory (a camera
// driver's frame, an OpenCV Mat, a numpy array), without first copying them
// into an image.
//
// The pixels are width x height values of type T (unsigned char, unsigned
// short or double): pixel (x, y) is at byte
//   y * rowStep + x * pixelStep
// from `pixels`. Either step may be negative (a flipped view) or 0 (a
// broadcast value), and pixelStep need not be sizeof(T) (a channel of an
// interleaved image); the values may be unaligned. The call reads each pixel once and keeps no reference to them.
//
// The result is bit for bit what vfForwardFFT gives for an image holding the
// same pixels with offset (0, 0) and identity transforms: the buffer is sized
// to the next powers of two (InvalidSize "Width and Height must be no larger
// than 2048." above 2048), takes the identity transform and offset (0, 0),
// and polls the host's attention check exactly as that call does.
//
// Bad arguments throw vcFrequencyDefs::InvalidArgument: a null pointer, or a
// width or height below 1.
#pragma once

#include "filt/fft.h"

template <class T>
VEXFILT_API void vfForwardFFTPixels(const T* pixels, long width, long height, long rowStep, long pixelStep,
                                    vcFrequencyBuffer& result);

extern template VEXFILT_API void vfForwardFFTPixels<unsigned char>(const unsigned char*, long, long, long, long,
                                                                   vcFrequencyBuffer&);
extern template VEXFILT_API void vfForwardFFTPixels<unsigned short>(const unsigned short*, long, long, long, long,
                                                                    vcFrequencyBuffer&);
extern template VEXFILT_API void vfForwardFFTPixels<double>(const double*, long, long, long, long, vcFrequencyBuffer&);

// Shared helpers of the vexfilt Python module: numpy arrays <-> platform
// images, the spectrum view of a buffer, pairs as 2-tuples, and the scope
// every heavy call runs in (GIL released, Ctrl-C turned into an abort
// request). Every bound area (python/src/<area>.cpp) uses these and nothing
// else to cross the boundary, so that all of them follow one set of rules:
//
//  - Images are 2-D numpy arrays, rows = height, columns = width (array
//    element [y, x] is pixel (x, y)). Pixel types: uint8, uint16, float64 in
//    native byte order. Any other dtype is refused with TypeError (no silent
//    narrowing or widening); any strides are accepted.
//  - An input image is copied once, element by element through its strides,
//    into the library's own image (the library reads images through that
//    type only), so a non-contiguous view costs no extra copy and the
//    caller's array is never written.
//  - Output images are the library's own images handed to numpy without a
//    copy: the array owns a handle on the pixels.
//  - A buffer's spectrum is shown as a complex64 array over the buffer's own
//    floats (no copy); the array keeps the Python buffer object alive.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <complex>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "filt/fft.h"
#include "filt/freqfilt.h"

namespace py = pybind11;

// vcPair<T> <-> a 2-tuple (x, y) in the C++ order: size=(width, height).
// Any sequence of two numbers converts in; out it is always a tuple.
namespace pybind11::detail {
template <class T>
struct type_caster<vcPair<T>> {
  PYBIND11_TYPE_CASTER(vcPair<T>, const_name("tuple[") + make_caster<T>::name + const_name(", ") +
                                      make_caster<T>::name + const_name("]"));

  bool load(handle src, bool convert) {
    if (!src || !PySequence_Check(src.ptr()) || PyUnicode_Check(src.ptr()) || PyBytes_Check(src.ptr())) return false;
    const auto seq = reinterpret_borrow<sequence>(src);
    if (seq.size() != 2) return false;
    make_caster<T> x, y;
    if (!x.load(seq[0], convert) || !y.load(seq[1], convert)) return false;
    value = vcPair<T>(cast_op<T>(x), cast_op<T>(y));
    return true;
  }

  static handle cast(const vcPair<T>& src, return_value_policy, handle) { return make_tuple(src.x, src.y).release(); }
};
}  // namespace pybind11::detail

namespace vfpy {

// One of the three image types the library reads.
using AnyImage = std::variant<vcPelBuffer<unsigned char>, vcPelBuffer<unsigned short>, vcPelBuffer<double>>;

// The pixel type of a numpy array: 0 uint8, 1 uint16, 2 float64; throws
// TypeError naming `what` for anything else (including a dimension other
// than 2 and non-native byte order).
int pixelKind(const py::array& array, const char* what);

// Copies a 2-D array of T (pixelKind checked by the caller) into a new
// library image of its size. Runs without the GIL for large arrays; the
// caller keeps `array` alive.
template <class T>
vcPelBuffer<T> toImage(const py::array& array);

// Checks and copies any accepted image (see the rules at the top).
AnyImage toAnyImage(const py::handle& object, const char* what);

// A numpy array over the pixels of `image` (no copy): shape (height, width),
// the image's row stride; the array owns a handle on the pixels. An unbound
// image gives an empty (0, 0) array.
template <class T>
py::array toArray(const vcPelBuffer<T>& image);

// The buffer's padded array as a complex64 (height, width) array over its
// own floats, kept alive by `owner` (the Python object holding the buffer).
py::array spectrumView(vcFrequencyBuffer& buffer, py::handle owner);

// A buffer that a call writes into keeps its storage, so that array views of
// it stay valid: a non-empty target whose padded size differs from the
// result's (width x height) is refused with ValueError.
void requireTarget(const vcFrequencyBuffer& target, long width, long height, const char* what);
// The FrequencyBuffer behind an `out` argument; TypeError for anything else.
vcFrequencyBuffer& outBuffer(const py::handle& out, const char* what);
// The padded size a buffer gets from an image of width x height.
long paddedSize(long size);

// The scope of a heavy call: releases the GIL and, while any such call runs,
// a Ctrl-C (SIGINT) requests the library's abort through the attention poll
// before Python's own handler records it. The call then leaves with
// vcAbortRequested, which the error translation turns into Python's
// KeyboardInterrupt. The last scope to close clears an abort it requested.
class CallScope {
 public:
  CallScope();
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  py::gil_scoped_release release_;
};

// Runs f() inside a CallScope and returns its result.
template <class F>
decltype(auto) heavy(F&& f) {
  CallScope scope;
  return std::forward<F>(f)();
}

// Area registrations, called from module.cpp in this order.
void bindErrors(py::module_& m);
void bindSpectra(py::module_& m);
void bindTransforms(py::module_& m);
void bindFilters(py::module_& m);
void bindTiming(py::module_& m);
void bindFrames(py::module_& m);
void bindRegistration(py::module_& m);
void bindTexture(py::module_& m);

}  // namespace vfpy

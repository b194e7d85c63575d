// Spectra: the FrequencyBuffer class (sizes, point access, the zero-copy
// array view, spectrum images, copies, equality, pickling through the
// buffer's archive record) and spectrum arithmetic.
#include <pybind11/complex.h>
#include <pybind11/operators.h>

#include <complex>
#include <string>
#include <vector>

#include "convert.h"

namespace vfpy {
namespace {

using Buffer = vcFrequencyBuffer;

py::bytes record(const Buffer& buffer) {
  vcMemoryArchive ar;
  ar || const_cast<Buffer&>(buffer);  // storing reads the buffer only
  const auto& bytes = ar.bytes();
  return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

Buffer fromRecord(const py::bytes& data) {
  const std::string_view view = data;
  vcMemoryArchive ar(std::vector<unsigned char>(view.begin(), view.end()));
  Buffer buffer;
  ar || buffer;
  return buffer;
}

using ImageGetter = vcPelBuffer<double> (Buffer::*)(bool) const;

// A spectrum image method: the library's image handed to numpy.
auto spectrumImage(ImageGetter getter) {
  return [getter](const Buffer& buffer, bool centered) {
    vcPelBuffer<double> image = heavy([&] { return (buffer.*getter)(centered); });
    return toArray(image);
  };
}

// r = op(a, b) into `out` (None: a new buffer), the library's three-operand
// form; `out` may be a or b.
using BinaryOp = void (*)(const Buffer&, const Buffer&, Buffer&);

py::object binary(BinaryOp op, const Buffer& a, const Buffer& b, py::object out, const char* what) {
  if (out.is_none()) {
    Buffer result;
    heavy([&] { op(a, b, result); });
    return py::cast(std::move(result));
  }
  Buffer& target = outBuffer(out, what);
  if (&target != &a && &target != &b && !a.isEmpty()) requireTarget(target, a.width(), a.height(), what);
  heavy([&] { op(a, b, target); });
  return out;
}

const char* kBufferDoc = R"doc(A two-dimensional complex spectrum, padded to powers of two (1 to 2048).

The array holds single-precision complex values in natural transform order:
element [0, 0] is the zero frequency; columns >= width/2 and rows >= height/2
hold the negative frequencies. Forward transforms are unscaled; the inverse
transforms to images apply 1/(width*height).

Besides the array a buffer holds the size of the image that filled it
(image_width x image_height, the top-left part of the array), that image's
offset, a band of rows outside which the array is known to be zero (set by a
Gabor filter, used by the inverse to skip rows) and the flag
inverse_computed (the array holds an in-place inverse result, and spectrum
access is refused).

FrequencyBuffer() is empty; FrequencyBuffer(width, height) is zeroed and
padded from width x height. Buffers compare exactly (==), copy deeply
(copy.copy, copy.deepcopy, .copy()) and pickle through the library's own
archive record (to_bytes / from_bytes give the record itself).)doc";

}  // namespace

void bindSpectra(py::module_& m) {
  using namespace pybind11::literals;
  py::class_<Buffer> buffer(m, "FrequencyBuffer", kBufferDoc);
  buffer.def(py::init<>(), "An empty buffer (no data).")
      .def(py::init([](long width, long height) { return Buffer(width, height); }), "width"_a, "height"_a,
           "A zeroed buffer padded from width x height (values below 1 count as 1); InvalidSize above 2048.")
      .def_static(
          "from_arrays",
          [](const py::array& real, const py::array& imaginary) {
            if (pixelKind(real, "real") != 2 || pixelKind(imaginary, "imaginary") != 2)
              throw py::type_error("from_arrays: real and imaginary parts must be float64 arrays");
            const vcPelBuffer<double> re = toImage<double>(real), im = toImage<double>(imaginary);
            return heavy([&] { return Buffer(re, im); });
          },
          "real"_a, "imaginary"_a,
          "A buffer holding real + i*imaginary (two float64 arrays of one shape, each value rounded\n"
          "to float32), zero-padded; nothing is transformed.")
      .def_property_readonly("width", &Buffer::width, "Padded width (Uninitialized while empty).")
      .def_property_readonly("height", &Buffer::height, "Padded height (Uninitialized while empty).")
      .def_property_readonly(
          "shape", [](const Buffer& b) { return py::make_tuple(b.height(), b.width()); },
          "(height, width), the shape of .array.")
      .def_property_readonly(
          "size", [](const Buffer& b) { return vcPair<long>(b.width(), b.height()); },
          "(width, height), the padded size, as filters take it.")
      .def_property_readonly("image_width", &Buffer::imageWidth, "Width of the image that filled the buffer.")
      .def_property_readonly("image_height", &Buffer::imageHeight, "Height of the image that filled the buffer.")
      .def_property_readonly(
          "offset", [](const Buffer& b) { return b.offset(); }, "The (x, y) offset of the image that filled it.")
      .def_property_readonly("inverse_computed", &Buffer::inverseComputed,
                             "True when the array holds an in-place inverse result instead of a spectrum.")
      .def_property_readonly("empty", &Buffer::isEmpty, "True while the buffer holds no data.")
      .def_property_readonly(
          "masked", [](const Buffer& b) { return b.masked() != 0; },
          "True when rows outside masked_rows are known to be zero.")
      .def_property_readonly(
          "masked_rows", [](const Buffer& b) { return py::make_tuple(b.maskedMiny(), b.maskedMaxy()); },
          "(first, last) row of the band, in the centered row frame (row height/2 is the zero frequency).")
      .def_property_readonly(
          "array", [](py::object self) { return spectrumView(self.cast<Buffer&>(), self); },
          "The padded spectrum as a complex64 numpy array of shape (height, width), without a copy:\n"
          "writing to it writes the buffer. The array keeps the buffer alive. A call never resizes a\n"
          "buffer that holds data, so the view stays valid as long as it lives. After an in-place\n"
          "inverse it shows the spatial result.")
      .def(
          "get",
          [](const Buffer& b, long x, long y, bool centered) {
            const vcPair<double> v = b.get(x, y, centered);
            return std::complex<double>(v.x, v.y);
          },
          "x"_a, "y"_a, "centered"_a = false,
          "Element (x, y) as a complex number. centered: signed frequencies, x in\n"
          "[-(width>>1), (width+1)>>1), likewise y. BadCoord outside, InvalidBuffer after an in-place inverse.")
      .def(
          "put",
          [](Buffer& b, long x, long y, std::complex<double> value, bool centered) {
            b.put(x, y, vcPair<double>(value.real(), value.imag()), centered);
          },
          "x"_a, "y"_a, "value"_a, "centered"_a = false, "Sets element (x, y) (rounded to complex64).")
      .def("real_image", spectrumImage(&Buffer::getRealImage), "centered"_a = false,
           "Real parts as a float64 (height, width) array; centered swaps quadrants so that the zero\n"
           "frequency lands at [height/2, width/2].")
      .def("imaginary_image", spectrumImage(&Buffer::getImaginaryImage), "centered"_a = false,
           "Imaginary parts as a float64 array (see real_image).")
      .def("magnitude_image", spectrumImage(&Buffer::getMagnitudeImage), "centered"_a = false,
           "sqrt(re^2 + im^2) of every element as a float64 array, unscaled (see real_image).")
      .def("phase_image", spectrumImage(&Buffer::getPhaseImage), "centered"_a = false,
           "atan2(im, re) folded into [0, 2*pi) as a float64 array (see real_image).")
      .def(
          "crop",
          [](const Buffer& b, long width, long height) { return heavy([&] { return Buffer(b, width, height); }); },
          "width"_a, "height"_a,
          "The low-frequency width x height part (powers of two, > 1) as a new buffer; the image\n"
          "size scales with it.")
      .def(
          "copy", [](const Buffer& b) { return Buffer(b); }, "A deep copy.")
      .def("__copy__", [](const Buffer& b) { return Buffer(b); })
      .def(
          "__deepcopy__", [](const Buffer& b, py::dict) { return Buffer(b); }, "memo"_a)
      .def(py::self == py::self)
      .def(py::self != py::self)
      .def("to_bytes", &record, "The buffer's archive record (the bytes `ar || buffer` stores in a vcMemoryArchive).")
      .def_static("from_bytes", &fromRecord, "data"_a,
                  "A buffer loaded from its archive record; ArchiveError for a record that cannot be right.")
      .def(
          py::pickle([](const Buffer& b) { return record(b); }, [](const py::bytes& data) { return fromRecord(data); }))
      .def("__repr__", [](const Buffer& b) {
        if (b.isEmpty()) return std::string("FrequencyBuffer()");
        return "<FrequencyBuffer " + std::to_string(b.width()) + " x " + std::to_string(b.height()) + " from " +
               std::to_string(b.imageWidth()) + " x " + std::to_string(b.imageHeight()) +
               (b.inverseComputed() ? ", inverse computed" : "") + (b.masked() ? ", masked" : "") + ">";
      });

  // Arithmetic: operators give new buffers, in-place operators update the
  // left operand; the functions take an optional out (which may be an operand).
  buffer
      .def(
          "__add__", [](const Buffer& a, const Buffer& b) { return binary(vfFrequencyAdd, a, b, py::none(), "+"); },
          py::is_operator())
      .def(
          "__sub__",
          [](const Buffer& a, const Buffer& b) { return binary(vfFrequencySubtract, a, b, py::none(), "-"); },
          py::is_operator())
      .def(
          "__mul__",
          [](const Buffer& a, const Buffer& b) { return binary(vfFrequencyMultiply, a, b, py::none(), "*"); },
          py::is_operator())
      .def(
          "__iadd__",
          [](py::object self, const Buffer& a) {
            heavy([&] { vfFrequencyAdd(a, self.cast<Buffer&>()); });
            return self;
          },
          py::is_operator())
      .def(
          "__isub__",
          [](py::object self, const Buffer& a) {
            heavy([&] { vfFrequencySubtract(a, self.cast<Buffer&>()); });
            return self;
          },
          py::is_operator())
      .def(
          "__imul__",
          [](py::object self, const Buffer& a) {
            heavy([&] { vfFrequencyMultiply(a, self.cast<Buffer&>()); });
            return self;
          },
          py::is_operator());

  m.def(
      "add", [](const Buffer& a, const Buffer& b, py::object out) { return binary(vfFrequencyAdd, a, b, out, "add"); },
      "a"_a, "b"_a, "out"_a = py::none(),
      "a + b element by element (computed in double, rounded once). Into `out` when given\n"
      "(it may be a or b), else a new buffer. InvalidSize for different padded sizes.");
  m.def(
      "subtract",
      [](const Buffer& a, const Buffer& b, py::object out) {
        return binary(vfFrequencySubtract, a, b, out, "subtract");
      },
      "a"_a, "b"_a, "out"_a = py::none(), "a - b, as add.");
  m.def(
      "multiply",
      [](const Buffer& a, const Buffer& b, py::object out) {
        return binary(vfFrequencyMultiply, a, b, out, "multiply");
      },
      "a"_a, "b"_a, "out"_a = py::none(), "The complex product a * b, as add.");
  m.def(
      "conjugate",
      [](const Buffer& a, py::object out) -> py::object {
        if (out.is_none()) {
          Buffer result;
          heavy([&] { vfFrequencyConjugate(a, result); });
          return py::cast(std::move(result));
        }
        Buffer& target = outBuffer(out, "conjugate");
        if (&target == &a) {
          heavy([&] { vfFrequencyConjugate(target); });
        } else {
          if (!a.isEmpty()) requireTarget(target, a.width(), a.height(), "conjugate");
          heavy([&] { vfFrequencyConjugate(a, target); });
        }
        return out;
      },
      "a"_a, "out"_a = py::none(), "The complex conjugate of a, into `out` (which may be a) or a new buffer.");
}

}  // namespace vfpy

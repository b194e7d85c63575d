// Transforms: forward (an image, a real/imaginary pair, a complex array or a
// buffer), inverse (every output the library has), the side images, and the
// display mapping.
#include <string>
#include <variant>

#include "convert.h"
#include "filt/host_pixels.h"

namespace vfpy {
namespace {

using Buffer = vcFrequencyBuffer;
constexpr long kMaxSize = 2048;

// Refuses an image beyond the library's size limit before copying it, with
// the library's own error (a buffer of that size throws it).
void requireSizeLimit(const py::array& image) {
  const auto height = image.shape(0), width = image.shape(1);
  if (width > kMaxSize || height > kMaxSize) Buffer(static_cast<long>(width), static_cast<long>(height));
}

// The buffer a call writes into: `out`, checked, or a new one.
Buffer& target(py::object& out, long width, long height, const char* what) {
  if (out.is_none()) out = py::cast(Buffer());
  Buffer& buffer = outBuffer(out, what);
  requireTarget(buffer, paddedSize(width), paddedSize(height), what);
  return buffer;
}

py::object forward(py::object image, py::object imaginary, py::object out) {
  if (py::isinstance<Buffer>(image)) {
    if (!imaginary.is_none()) throw py::type_error("forward: a buffer is transformed alone");
    const Buffer& source = image.cast<const Buffer&>();
    Buffer& result = target(out, source.width(), source.height(), "forward");
    heavy([&] { vfForwardFFT(source, result); });
    return out;
  }
  if (!py::isinstance<py::array>(image))
    throw py::type_error("forward: expected a numpy array or a FrequencyBuffer, got " +
                         py::str(py::type::of(image).attr("__name__")).cast<std::string>());
  auto array = py::reinterpret_borrow<py::array>(image);
  if (array.ndim() == 2 && imaginary.is_none() && (array.dtype().kind() == 'c')) {
    // A complex array: its real and imaginary parts as a float64 pair.
    requireSizeLimit(array);
    py::module_ np = py::module_::import("numpy");
    const auto re = np.attr("ascontiguousarray")(array.attr("real"), "float64").cast<py::array>();
    const auto im = np.attr("ascontiguousarray")(array.attr("imag"), "float64").cast<py::array>();
    const vcPelBuffer<double> r = toImage<double>(re), i = toImage<double>(im);
    Buffer& result = target(out, r.width(), r.height(), "forward");
    heavy([&] { vfForwardFFT<double>(r, i, result); });
    return out;
  }
  const int kind = pixelKind(array, "forward");
  requireSizeLimit(array);
  if (imaginary.is_none() && array.shape(0) > 0 && array.shape(1) > 0) {
    // The pixels are read where numpy keeps them, strides and all: no copy.
    Buffer& result = target(out, array.shape(1), array.shape(0), "forward");
    const long width = static_cast<long>(array.shape(1)), height = static_cast<long>(array.shape(0));
    const long rowStep = static_cast<long>(array.strides(0)), pixelStep = static_cast<long>(array.strides(1));
    const void* pixels = array.data();
    heavy([&] {
      if (kind == 0)
        vfForwardFFTPixels(static_cast<const unsigned char*>(pixels), width, height, rowStep, pixelStep, result);
      else if (kind == 1)
        vfForwardFFTPixels(static_cast<const unsigned short*>(pixels), width, height, rowStep, pixelStep, result);
      else
        vfForwardFFTPixels(static_cast<const double*>(pixels), width, height, rowStep, pixelStep, result);
    });
    return out;
  }
  if (imaginary.is_none()) {
    const AnyImage pixels = toAnyImage(array, "forward");
    Buffer& result = target(out, array.shape(1), array.shape(0), "forward");
    std::visit([&](const auto& img) { heavy([&] { vf_ForwardFFT(img, result); }); }, pixels);
    return out;
  }
  if (!py::isinstance<py::array>(imaginary) ||
      pixelKind(py::reinterpret_borrow<py::array>(imaginary), "forward (imaginary)") != kind)
    throw py::type_error("forward: the real and imaginary arrays must have the same dtype");
  auto imag = py::reinterpret_borrow<py::array>(imaginary);
  requireSizeLimit(imag);
  const AnyImage re = toAnyImage(array, "forward"), im = toAnyImage(imag, "forward (imaginary)");
  Buffer& result = target(out, array.shape(1), array.shape(0), "forward");
  std::visit(
      [&](const auto& r) {
        using Image = std::decay_t<decltype(r)>;
        const Image& i = std::get<Image>(im);
        heavy([&] { vf_ForwardFFT(r, i, result); });
      },
      re);
  return out;
}

// The magnitude image of type T, alone or with the angle or quadrant image.
template <class T>
py::object inverseImage(Buffer& buffer, bool stretch, bool inPlace, bool angle, bool quadrant) {
  vcPelBuffer<T> image;
  if (quadrant) {
    vcPelBuffer<unsigned char> q;
    heavy([&] { vf_InverseFFT(buffer, image, q, stretch, inPlace); });
    return py::make_tuple(toArray(image), toArray(q));
  }
  if (angle) {
    vcPelBuffer<double> a;
    heavy([&] { vf_InverseFFT(buffer, image, &a, stretch, inPlace); });
    return py::make_tuple(toArray(image), toArray(a));
  }
  heavy([&] { vf_InverseFFT(buffer, image, static_cast<vcPelBuffer<double>*>(nullptr), stretch, inPlace); });
  return toArray(image);
}

py::object inverse(Buffer& buffer, py::object output, bool stretch, bool inPlace, bool angle, bool quadrant,
                   py::object out) {
  if (angle && quadrant) throw py::value_error("inverse: ask for angle or quadrant, not both");
  std::string kind;
  if (py::isinstance<py::str>(output)) {
    kind = output.cast<std::string>();
  } else {
    kind = py::str(py::module_::import("numpy").attr("dtype")(output).attr("name")).cast<std::string>();
  }
  if (kind == "buffer" || kind == "pair") {
    if (angle || quadrant) throw py::value_error("inverse: angle and quadrant images come with a magnitude output");
    if (kind == "pair") {
      vcPelBuffer<double> re, im;
      heavy([&] { vfInverseFFT(buffer, re, im, inPlace); });
      return py::make_tuple(toArray(re), toArray(im));
    }
    if (out.is_none()) out = py::cast(Buffer());
    Buffer& result = outBuffer(out, "inverse");
    if (!buffer.isEmpty() && &result != &buffer) requireTarget(result, buffer.width(), buffer.height(), "inverse");
    heavy([&] { vfInverseFFT(buffer, result, inPlace); });
    return out;
  }
  if (!out.is_none()) throw py::value_error("inverse: out is for output='buffer'");
  if (kind == "uint8") return inverseImage<unsigned char>(buffer, stretch, inPlace, angle, quadrant);
  if (kind == "uint16") return inverseImage<unsigned short>(buffer, stretch, inPlace, angle, quadrant);
  if (kind == "float64") return inverseImage<double>(buffer, stretch, inPlace, angle, quadrant);
  throw py::value_error("inverse: output must be 'buffer', 'pair', uint8, uint16 or float64, not '" + kind + "'");
}

const char* kForwardDoc = R"doc(forward(image, imaginary=None, *, out=None) -> FrequencyBuffer

The 2-D FFT of an image into a new buffer (or into `out`).

image: a 2-D numpy array (rows = height, columns = width) of uint8, uint16 or
float64 pixels, at most 2048 x 2048; it is zero-padded to powers of two and
placed at the top left. With `imaginary` (same shape and dtype) the pair is
transformed as real + i*imaginary; a complex array is taken as such a pair.
A FrequencyBuffer is transformed as it stands (its whole padded array).

The spectrum is unscaled and in natural order (element [0, 0] is the zero
frequency). 8- and 16-bit pixels convert exactly, float64 pixels round to
float32. Other dtypes raise TypeError; any strides are fine: a single image
is read in place, through its strides, and a real/imaginary pair is copied
once into the library's images. The GIL is released while the transform
runs; do not write to the array from another thread meanwhile.)doc";

const char* kInverseDoc =
    R"doc(inverse(buffer, output='float64', *, stretch=False, in_place=False, angle=False, quadrant=False, out=None)

The inverse FFT of a buffer. `output` picks what comes back:

  'float64', 'uint16', 'uint8' (or the numpy dtypes): the magnitude of the
      result times 1/(width*height), image_height x image_width. Integer
      pixels round to nearest (ties to even) and saturate; with stretch=True
      they are stretched over the image's own range instead (float64 ignores
      stretch). angle=True adds the angle image atan2(im, re) in [-pi, pi]
      (float64), quadrant=True the quadrant code (1 if re < 0) + (2 if im < 0)
      (uint8): the result is then a tuple (image, angle or quadrant).
  'pair': (real, imaginary) float64 images of the result times 1/(width*height),
      the signed output of a symmetric filter.
  'buffer': the raw complex inverse (unscaled, the whole padded array) as a
      new FrequencyBuffer, or into `out`.

in_place=True transforms the buffer's own array, which then holds the
spatial result (buffer.inverse_computed); further inverse calls, angle_image
and quadrant_image re-read it without transforming again, while spectrum
access is refused (InvalidBuffer). Without in_place the buffer is unchanged.
The GIL is released while the transform runs.)doc";

}  // namespace

void bindTransforms(py::module_& m) {
  using namespace pybind11::literals;
  m.def("forward", &forward, "image"_a, "imaginary"_a = py::none(), py::kw_only(), "out"_a = py::none(), kForwardDoc);
  m.def("inverse", &inverse, "buffer"_a, "output"_a = "float64", py::kw_only(), "stretch"_a = false,
        "in_place"_a = false, "angle"_a = false, "quadrant"_a = false, "out"_a = py::none(), kInverseDoc);
  m.def(
      "angle_image",
      [](const Buffer& buffer) {
        vcPelBuffer<double> angle;
        heavy([&] { vf_ComputeAngleImage(buffer, angle); });
        return toArray(angle);
      },
      "buffer"_a,
      "atan2(im, re) in [-pi, pi] of the top-left image_height x image_width elements, as they\n"
      "are (a spectrum, or the result of an in-place inverse).");
  m.def(
      "quadrant_image",
      [](const Buffer& buffer) {
        vcPelBuffer<unsigned char> quadrant;
        heavy([&] { vf_ComputeQuadrantImage(buffer, quadrant); });
        return toArray(quadrant);
      },
      "buffer"_a,
      "The quadrant code (1 if re < 0) + (2 if im < 0) of the top-left elements as uint8 (see angle_image).");

  py::enum_<vcFrequencyDefs::FrequencyMapping>(m, "Mapping", "Display mappings of map_image.")
      .value("CLIP", vcFrequencyDefs::eMapClip, "p clamped to 0..255, truncated")
      .value("LINEAR", vcFrequencyDefs::eMapLinear, "linear over the image's own range")
      .value("RANGE", vcFrequencyDefs::eMapRange, "linear over (a, b), clamped")
      .value("LOG", vcFrequencyDefs::eMapLog, "logarithmic over the image's own range")
      .value("PHASE", vcFrequencyDefs::eMapPhase, "angles in [0, 2*pi) to 0..254");
  m.def(
      "map_image",
      [](const py::array& image, vcFrequencyDefs::FrequencyMapping mapping, double a, double b) {
        if (pixelKind(image, "map_image") != 2) throw py::type_error("map_image: the image must be float64");
        const vcPelBuffer<double> pixels = toImage<double>(image);
        vcPelBuffer<unsigned char> mapped = heavy([&] { return vfFrequencyMapImage(pixels, mapping, a, b); });
        return toArray(mapped);
      },
      "image"_a, "mapping"_a = vcFrequencyDefs::eMapLog, "a"_a = 0.0, "b"_a = 0.0,
      "Maps a float64 image to uint8 for display (Mapping.LOG by default; Mapping.RANGE maps\n"
      "a..b). NaN pixels map to 0. E.g. map_image(buffer.magnitude_image(centered=True)).");
}

}  // namespace vfpy

// The conversions of convert.h.
#include "convert.h"

#include <cstring>
#include <string>

namespace vfpy {
namespace {

// Reaches the buffer's floats through the accessor the library gives to
// derived filters (a protected static of the filter base); never instantiated.
struct BufferData : vcFrequencyFilter {
  static float* of(vcFrequencyBuffer& buffer) { return getFrequencyBufferData(buffer); }
};

template <class T>
bool isKind(const py::array& array) {
  return py::isinstance<py::array_t<T>>(array);
}

}  // namespace

int pixelKind(const py::array& array, const char* what) {
  if (array.ndim() != 2)
    throw py::type_error(std::string(what) + ": expected a 2-D array (rows = height, columns = width), got " +
                         std::to_string(array.ndim()) + " dimensions");
  if (isKind<unsigned char>(array)) return 0;
  if (isKind<unsigned short>(array)) return 1;
  if (isKind<double>(array)) return 2;
  throw py::type_error(std::string(what) + ": pixels must be uint8, uint16 or float64 in native byte order, not " +
                       py::str(array.dtype()).cast<std::string>() + " (convert with .astype(numpy.float64))");
}

template <class T>
vcPelBuffer<T> toImage(const py::array& array) {
  const long height = static_cast<long>(array.shape(0));
  const long width = static_cast<long>(array.shape(1));
  const py::ssize_t rowStep = array.strides(0), pixelStep = array.strides(1);
  const char* rows = static_cast<const char*>(array.data());
  vcPelBuffer<T> image(width, height);
  T* out = image.pointToOffset();
  const long stride = image.rep().rowStride();
  for (long y = 0; y < height; ++y, out += stride) {
    const char* row = rows + y * rowStep;
    if (pixelStep == static_cast<py::ssize_t>(sizeof(T))) {
      std::memcpy(out, row, sizeof(T) * static_cast<std::size_t>(width));
    } else {
      for (long x = 0; x < width; ++x) std::memcpy(out + x, row + x * pixelStep, sizeof(T));
    }
  }
  return image;
}

template vcPelBuffer<unsigned char> toImage(const py::array&);
template vcPelBuffer<unsigned short> toImage(const py::array&);
template vcPelBuffer<double> toImage(const py::array&);

AnyImage toAnyImage(const py::handle& object, const char* what) {
  if (!py::isinstance<py::array>(object))
    throw py::type_error(std::string(what) + ": expected a numpy array, got " +
                         py::str(py::type::of(object).attr("__name__")).cast<std::string>());
  const auto array = py::reinterpret_borrow<py::array>(object);
  switch (pixelKind(array, what)) {
    case 0:
      return toImage<unsigned char>(array);
    case 1:
      return toImage<unsigned short>(array);
    default:
      return toImage<double>(array);
  }
}

template <class T>
py::array toArray(const vcPelBuffer<T>& image) {
  if (!image.isBound()) return py::array_t<T>(std::vector<py::ssize_t>{0, 0});
  auto* handle = new vcPelBuffer<T>(image);
  py::capsule owner(handle, [](void* p) { delete static_cast<vcPelBuffer<T>*>(p); });
  const auto itemSize = static_cast<py::ssize_t>(sizeof(T));
  return py::array_t<T>({static_cast<py::ssize_t>(image.height()), static_cast<py::ssize_t>(image.width())},
                        {itemSize * image.rep().rowStride(), itemSize}, handle->pointToOffset(), owner);
}

template py::array toArray(const vcPelBuffer<unsigned char>&);
template py::array toArray(const vcPelBuffer<unsigned short>&);
template py::array toArray(const vcPelBuffer<double>&);

py::array spectrumView(vcFrequencyBuffer& buffer, py::handle owner) {
  const py::ssize_t width = buffer.width(), height = buffer.height();  // Uninitialized while empty
  const auto item = static_cast<py::ssize_t>(sizeof(std::complex<float>));
  return py::array(py::dtype::of<std::complex<float>>(), {height, width}, {item * width, item}, BufferData::of(buffer),
                   owner);
}

vcFrequencyBuffer& outBuffer(const py::handle& out, const char* what) {
  if (!py::isinstance<vcFrequencyBuffer>(out))
    throw py::type_error(std::string(what) + ": out must be a FrequencyBuffer, not " +
                         py::str(py::type::of(out).attr("__name__")).cast<std::string>());
  return out.cast<vcFrequencyBuffer&>();
}

long paddedSize(long size) {
  long padded = 1;
  while (padded < size) padded <<= 1;
  return padded;
}

void requireTarget(const vcFrequencyBuffer& target, long width, long height, const char* what) {
  if (target.isEmpty() || (target.width() == width && target.height() == height)) return;
  throw py::value_error(std::string(what) + ": the target buffer is " + std::to_string(target.width()) + " x " +
                        std::to_string(target.height()) + " but the result is " + std::to_string(width) + " x " +
                        std::to_string(height) +
                        "; a call never resizes a buffer that holds data (its array views would dangle): "
                        "pass an empty FrequencyBuffer() or one of the result's size");
}

}  // namespace vfpy

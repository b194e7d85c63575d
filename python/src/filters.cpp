// Filters: the five filter classes with keyword arguments named as in C++ (in
// snake case), a property per parameter, apply in place and into a target,
// calling a filter for a filtered copy, equality, and pickling through the
// library's polymorphic archive record (vcArchive::storeObject /
// loadObject), so that a filter loads bit for bit in another process.
#include <pybind11/operators.h>

#include <memory>
#include <string>
#include <vector>

#include "convert.h"

namespace vfpy {
namespace {

using Buffer = vcFrequencyBuffer;
using Filter = vcFrequencyFilter;

py::bytes record(const Filter& filter) {
  vcMemoryArchive ar;
  ar.storeObject(const_cast<Filter&>(filter));  // storing reads the filter only
  const auto& bytes = ar.bytes();
  return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::unique_ptr<Filter> load(const py::bytes& data) {
  const std::string_view view = data;
  vcMemoryArchive ar(std::vector<unsigned char>(view.begin(), view.end()));
  std::unique_ptr<vcPersistent> object = ar.loadObject();
  auto* filter = dynamic_cast<Filter*>(object.get());
  if (filter == nullptr) {
    const vcPersistent& loaded = *object;
    throw py::type_error("load_filter: the record holds a " + vc_Instantiator::nameOf(typeid(loaded)) +
                         ", not a filter");
  }
  if (ar.position() != view.size()) throw py::value_error("load_filter: bytes left over after the record");
  object.release();
  return std::unique_ptr<Filter>(filter);
}

const char* kFilterDoc = R"doc(Base of the five filters.

A filter is built once for one padded spectrum size and applied to any number
of buffers of that size: apply(buffer) filters in place (keeping the image
size and offset), apply(source, target) writes the filtered source into
target, filter(buffer) returns a filtered copy. apply is const and releases
the GIL, so one filter may serve several threads at once (each with its own
buffers). Filters compare exactly (==), copy (copy.copy, .clone()) and
pickle through the library's archive record (to_bytes() / load_filter()).

Frequencies, sigmas and plateaus are normalised: cycles per pixel, 0.5 is
the Nyquist frequency. Sizes are (width, height) tuples of powers of two.
A filter made without arguments is empty until set(...) is called.)doc";

// The parameter properties shared by the four parametric filters.
template <class F, class Class>
void bindRing(Class& cls) {
  cls.def_property("frequency", py::overload_cast<>(&F::frequency, py::const_),
                   py::overload_cast<double>(&F::frequency), "Ring radius in cycles per pixel, [0, 0.5].")
      .def_property("sigma", py::overload_cast<>(&F::sigma, py::const_), py::overload_cast<double>(&F::sigma),
                    "Standard deviation of the Gaussian flanks (cycles per pixel, > 0).")
      .def_property("plateau", py::overload_cast<>(&F::plateau, py::const_), py::overload_cast<double>(&F::plateau),
                    "Half-width of the flat top around the ring (cycles per pixel, >= 0).")
      .def_property("size", py::overload_cast<>(&F::size, py::const_), py::overload_cast<const vcPair<long>&>(&F::size),
                    "(width, height) of the spectra it filters.")
      .def_property_readonly("support_width", &F::supportWidth, "Reach of the profile from the ring, in pixels.");
}

template <class F, class Class>
void bindPatch(Class& cls) {
  cls.def_property(
         "angle", [](const F& f) { return f.angle().value(); }, [](F& f, double a) { f.angle(vcRadian(a)); },
         "Direction of the patch centre in radians (0 along increasing columns, pi/2 along rows).")
      .def_property("frequency", py::overload_cast<>(&F::frequency, py::const_),
                    py::overload_cast<double>(&F::frequency), "Distance of the patch centre, cycles per pixel.")
      .def_property("sigma", py::overload_cast<>(&F::sigma, py::const_),
                    py::overload_cast<const vcPair<double>&>(&F::sigma),
                    "(along, across) standard deviations, cycles per pixel (> 0).")
      .def_property("plateau", py::overload_cast<>(&F::plateau, py::const_),
                    py::overload_cast<const vcPair<double>&>(&F::plateau),
                    "(along, across) half-widths of the flat top, cycles per pixel (>= 0).")
      .def_property("size", py::overload_cast<>(&F::size, py::const_), py::overload_cast<const vcPair<long>&>(&F::size),
                    "(width, height) of the spectra it filters.")
      .def_property_readonly("support_width", &F::supportWidth, "Width of the coefficient window (odd).")
      .def_property_readonly("support_height", &F::supportHeight, "Height of the coefficient window (odd).");
}

}  // namespace

void bindFilters(py::module_& m) {
  using namespace pybind11::literals;

  py::class_<Filter> base(m, "Filter", kFilterDoc);
  base.def(
          "apply", [](const Filter& f, Buffer& buffer) { heavy([&] { f.apply(buffer); }); }, "buffer"_a,
          "Filters `buffer` in place, keeping its image size, offset and transform.")
      .def(
          "apply",
          [](const Filter& f, const Buffer& source, Buffer& target) {
            if (&source != &target && !source.isEmpty())
              requireTarget(target, source.width(), source.height(), "apply");
            heavy([&] { f.apply(source, target); });
          },
          "source"_a, "target"_a,
          "Writes the filtered source into target (an empty buffer, one of the source's size, or\n"
          "the source itself). The parametric filters give target the padded size as its image size.")
      .def(
          "__call__",
          [](const Filter& f, const Buffer& buffer) {
            Buffer result(buffer);
            heavy([&] { f.apply(result); });
            return result;
          },
          "buffer"_a, "A filtered copy of `buffer` (its image size and offset kept).")
      .def_property_readonly(
          "initialized", [](Filter& f) { return f.isInitialized(); }, "True once the filter has been built.")
      .def(
          "clone", [](const Filter& f) { return std::unique_ptr<Filter>(f.clone()); }, "A copy of the same class.")
      .def("__copy__", [](const Filter& f) { return std::unique_ptr<Filter>(f.clone()); })
      .def(
          "__deepcopy__", [](const Filter& f, py::dict) { return std::unique_ptr<Filter>(f.clone()); }, "memo"_a)
      .def("to_bytes", &record,
           "The filter's polymorphic archive record (what vcArchive::storeObject writes):\n"
           "load_filter() and a C++ host's loadObject() read it back.")
      .def(
          "__reduce__",
          [](const Filter& f) {
            // A Python-level function, which pickle records by name.
            py::object restore = py::module_::import("vexfilt").attr("_restore_filter");
            return py::make_tuple(restore, py::make_tuple(record(f)));
          },
          "Pickles the filter as its archive record (see to_bytes).");

  m.def("load_filter", &load, "data"_a,
        "The filter stored in `data` (a record of Filter.to_bytes or vcArchive::storeObject), of\n"
        "whatever class, as stored (not recomputed). ArchiveError for a record that cannot be right.");

  // ---- band-pass and band-reject rings ----
  using BandPass = vcFrequencyFilterBandPass;
  py::class_<BandPass, Filter> bandPass(m, "BandPass",
                                        "Band-pass ring around the zero frequency: 1 within `plateau` of the ring of\n"
                                        "radius `frequency`, Gaussian flanks of `sigma`, 0 farther out; then the\n"
                                        "(2r-1) x (2r-1) square around the zero frequency is zeroed\n"
                                        "(r = dc_removal_radius, 0: none).");
  bandPass.def(py::init<>(), "An empty filter.")
      .def(py::init<double, double, double, const vcPair<long>&, long>(), "sigma"_a, "plateau"_a, "frequency"_a,
           "size"_a, "dc_removal_radius"_a = 0,
           "Built for spectra of padded size `size` = (width, height). InvalidArgument /\n"
           "InvalidSize (ValueError) for a parameter out of range.")
      .def("set", &BandPass::set, "sigma"_a, "plateau"_a, "frequency"_a, "size"_a, "dc_removal_radius"_a = 0,
           "Rebuilds with new parameters (all validated first; nothing changes on failure).")
      .def_property("dc_removal_radius", py::overload_cast<>(&BandPass::dcRemovalRadius, py::const_),
                    py::overload_cast<long>(&BandPass::dcRemovalRadius), "Radius of the zeroed DC square (0: none).")
      .def(py::self == py::self)
      .def(py::self != py::self);
  bindRing<BandPass>(bandPass);

  using BandReject = vcFrequencyFilterBandReject;
  py::class_<BandReject, Filter> bandReject(
      m, "BandReject",
      "Band-reject ring: one minus the band-pass response; elements far from the\n"
      "ring are left as they are, and the DC square of radius\n"
      "dc_protection_radius is given back unchanged.");
  bandReject.def(py::init<>(), "An empty filter.")
      .def(py::init<double, double, double, const vcPair<long>&, long>(), "sigma"_a, "plateau"_a, "frequency"_a,
           "size"_a, "dc_protection_radius"_a = 0, "Built for spectra of padded size `size` = (width, height).")
      .def("set", &BandReject::set, "sigma"_a, "plateau"_a, "frequency"_a, "size"_a, "dc_protection_radius"_a = 0,
           "Rebuilds with new parameters (all validated first; nothing changes on failure).")
      .def_property("dc_protection_radius", py::overload_cast<>(&BandReject::dcProtectionRadius, py::const_),
                    py::overload_cast<long>(&BandReject::dcProtectionRadius),
                    "Radius of the protected DC square (0: none).")
      .def(py::self == py::self)
      .def(py::self != py::self);
  bindRing<BandReject>(bandReject);

  // ---- Gabor and Gabor-reject patches ----
  auto gaborInit = [](auto* tag) {
    using F = std::remove_pointer_t<decltype(tag)>;
    return py::init([](const vcPair<double>& sigma, const vcPair<double>& plateau, double angle, double frequency,
                       const vcPair<long>& size,
                       long dc) { return F(sigma, plateau, vcRadian(angle), frequency, size, dc); });
  };
  auto gaborSet = [](auto* tag) {
    using F = std::remove_pointer_t<decltype(tag)>;
    return [](F& f, const vcPair<double>& sigma, const vcPair<double>& plateau, double angle, double frequency,
              const vcPair<long>& size, long dc) { f.set(sigma, plateau, vcRadian(angle), frequency, size, dc); };
  };

  using Gabor = vcFrequencyFilterGabor;
  py::class_<Gabor, Filter> gabor(m, "Gabor",
                                  "Gabor patch: a flat-topped 2-D Gaussian centred at `frequency` in direction\n"
                                  "`angle` (radians), sigma and plateau (along, across) that direction. Passes\n"
                                  "only that patch (not its mirror) and zeroes the rest; the result carries the\n"
                                  "window's row band, so the inverse skips the other rows.");
  gabor.def(py::init<>(), "An empty filter.")
      .def(gaborInit(static_cast<Gabor*>(nullptr)), "sigma"_a, "plateau"_a, "angle"_a, "frequency"_a, "size"_a,
           "dc_removal_radius"_a = 0, "Built for spectra of padded size `size` = (width, height).")
      .def("set", gaborSet(static_cast<Gabor*>(nullptr)), "sigma"_a, "plateau"_a, "angle"_a, "frequency"_a, "size"_a,
           "dc_removal_radius"_a = 0, "Rebuilds with new parameters (validated first).")
      .def_property("dc_removal_radius", py::overload_cast<>(&Gabor::dcRemovalRadius, py::const_),
                    py::overload_cast<long>(&Gabor::dcRemovalRadius), "Radius of the zeroed DC square (0: none).")
      .def(py::self == py::self)
      .def(py::self != py::self);
  bindPatch<Gabor>(gabor);

  using GaborReject = vcFrequencyFilterGaborReject;
  py::class_<GaborReject, Filter> gaborReject(
      m, "GaborReject",
      "Gabor-reject patch: multiplies the patch by one minus the Gaussian and leaves the rest;\n"
      "only the patch at `angle` is rejected (for a real grating add a second one at angle + pi).");
  gaborReject.def(py::init<>(), "An empty filter.")
      .def(gaborInit(static_cast<GaborReject*>(nullptr)), "sigma"_a, "plateau"_a, "angle"_a, "frequency"_a, "size"_a,
           "dc_protection_radius"_a = 0, "Built for spectra of padded size `size` = (width, height).")
      .def("set", gaborSet(static_cast<GaborReject*>(nullptr)), "sigma"_a, "plateau"_a, "angle"_a, "frequency"_a,
           "size"_a, "dc_protection_radius"_a = 0, "Rebuilds with new parameters (validated first).")
      .def_property("dc_protection_radius", py::overload_cast<>(&GaborReject::dcProtectionRadius, py::const_),
                    py::overload_cast<long>(&GaborReject::dcProtectionRadius),
                    "Radius of the protected DC square (0: none).")
      .def(py::self == py::self)
      .def(py::self != py::self);
  bindPatch<GaborReject>(gaborReject);

  // ---- image filter ----
  using ImageFilter = vcFrequencyFilterImage;
  py::class_<ImageFilter, Filter>(m, "ImageFilter",
                                  "Multiplies by a stored spectrum (complex product), e.g. the forward transform\n"
                                  "of a kernel image: a circular convolution with the kernel on the padded grid.")
      .def(py::init<>(), "An empty filter.")
      .def(py::init<const Buffer&>(), "image"_a, "Holds a copy of `image`; its padded size is the filter's size.")
      .def("set_image", &ImageFilter::setImage, "image"_a, "Replaces the stored spectrum with a copy of `image`.")
      .def_property_readonly("support_width", &ImageFilter::supportWidth, "Padded width of the image.")
      .def_property_readonly("support_height", &ImageFilter::supportHeight, "Padded height of the image.")
      .def(py::self == py::self)
      .def(py::self != py::self);
}

}  // namespace vfpy

// Texture inspection: a Gabor bank with its defect model
// (filt/vision/texture.h) on numpy arrays.
//
// vexfilt.GaborBank is the library's texture model (vcTextureModel), which
// holds the bank itself: energies, orientation and maps come from the bank,
// train/distance/defects from the model. It pickles through the model's
// archive record (`ar || model`: the bank's parameters, the model's options
// and, once trained, its statistics and threshold), so a model trained in a
// notebook gives the same defect maps, bit for bit, in a worker process.
#include <filt/vision/texture.h>
#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "convert.h"

namespace vfpy {
namespace {

using namespace pybind11::literals;
using Model = vcTextureModel;

py::bytes record(const Model& model) {
  vcMemoryArchive ar;
  ar || const_cast<Model&>(model);  // storing reads the model only
  const auto& bytes = ar.bytes();
  return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

Model fromRecord(const py::bytes& data) {
  const std::string_view view = data;
  vcMemoryArchive ar(std::vector<unsigned char>(view.begin(), view.end()));
  Model model;
  ar || model;
  if (ar.position() != view.size()) throw py::value_error("GaborBank.from_bytes: bytes left over after the record");
  return model;
}

Model::Features featureSet(const std::string& name) {
  return name == "invariant"         ? Model::Features::invariant
         : name == "invariant_sharp" ? Model::Features::invariantSharp
                                     : Model::Features::perFilter;
}

const char* featureName(Model::Features features) {
  return features == Model::Features::invariant        ? "invariant"
         : features == Model::Features::invariantSharp ? "invariant_sharp"
                                                       : "filters";
}

Model build(const std::vector<double>& frequencies, long orientations, double bandwidth, double angularBandwidth,
            const std::optional<std::vector<vcPair<double>>>& sigmas, double support, long oversample,
            double falseAlarmRate, const std::optional<long>& smoothing, const std::optional<long>& margin,
            double shrinkage, const std::string& features) {
  if (features != "filters" && features != "invariant" && features != "invariant_sharp")
    throw py::value_error("GaborBank: features must be 'filters', 'invariant' or 'invariant_sharp'");
  vcGaborBank bank = sigmas ? vcGaborBank(frequencies, orientations, *sigmas)
                            : vcGaborBank(frequencies, orientations, bandwidth, angularBandwidth);
  bank.support(support);
  bank.oversample(oversample);
  return Model(bank, falseAlarmRate, smoothing.value_or(-1), margin.value_or(-1), shrinkage, featureSet(features));
}

// A stack as a float32 (filters, height, width) array owning its values (no copy).
py::array stackArray(vcTextureStack&& stack) {
  using Values = decltype(stack.values);
  auto* owned = new Values(std::move(stack.values));
  py::capsule owner(owned, [](void* p) { delete static_cast<Values*>(p); });
  const auto f = static_cast<py::ssize_t>(sizeof(float));
  return py::array_t<float>({static_cast<py::ssize_t>(stack.filters), static_cast<py::ssize_t>(stack.height),
                             static_cast<py::ssize_t>(stack.width)},
                            {f * stack.width * stack.height, f * stack.width, f}, owned->data(), owner);
}

// A 0/1 image as a numpy bool array over the same pixels.
py::array boolArray(const vcPelBuffer<unsigned char>& image) {
  return toArray(image).attr("view")(py::dtype("bool"));
}

template <class F>
auto onImage(const py::object& image, const char* what, F&& f) {
  const AnyImage pixels = toAnyImage(image, what);
  return std::visit([&](const auto& img) { return heavy([&] { return f(img); }); }, pixels);
}

void train(Model& model, const py::iterable& images) {
  std::vector<AnyImage> pixels;
  for (const py::handle& h : images) {
    pixels.push_back(toAnyImage(h, "train"));
    if (pixels.back().index() != pixels.front().index())
      throw py::type_error("train: the images must all have the same dtype");
  }
  std::visit(
      [&](const auto& first) {
        using Image = std::decay_t<decltype(first)>;
        using T = std::remove_cv_t<std::remove_pointer_t<decltype(first.pointToOffset())>>;
        std::vector<vcPelBuffer_const<T>> list;
        for (const AnyImage& p : pixels) list.push_back(std::get<Image>(p));
        heavy([&] { model.train(list); });
      },
      pixels.empty() ? AnyImage() : pixels.front());  // no images: the model's own error
}

const char* kBankDoc = R"doc(A bank of Gabor filters and a defect model of a texture.

GaborBank(frequencies, orientations=8, bandwidth=1.0, angular_bandwidth=0.0,
          sigmas=None, support=4.0, oversample=2, false_alarm_rate=0.01,
          smoothing=None, margin=None, shrinkage=0.0, features="filters")

Filter k = m * orientations + n passes a Gaussian patch of the spectrum at
frequencies[m] (cycles per pixel, in (0, 0.5]) in the direction
n * pi / orientations (the wave vector's, radians: 0 along columns, pi/2
along rows). Its standard deviations come from `bandwidth` (octaves, full
width at half peak along the direction) and `angular_bandwidth` (radians
across it; 0: 2 pi / orientations), or are given as one (along, across)
pair per frequency in `sigmas`. `support` (standard deviations kept) and
`oversample` (1, 2, 4, 8: how finely the envelope is sampled before it is
interpolated) tune the fast energies; energy_bound() states their accuracy
(about 1e-3 of a grating's energy with the defaults; exact up to float
rounding and the truncation exp(-support^2 / 2) where the output step is at
least the filter's sampling grid). energy(..., exact=True) is the reference:
the library's Gabor filter and full-size banded inverse.

The defect model: features="filters" (default): ln(energy + floor) per pixel
and filter; features="invariant": per frequency the log of the
orientation-summed energy, its coherence and the spread of its log over the
box (3 per frequency, unchanged when the texture turns; for natural
textures, with frequencies [0.05, 0.1, 0.2, 0.3, 0.4]);
features="invariant_sharp": the same, every pixel's taken from the most
homogeneous of 9 boxes around it (the centred one and 8 shifted by
smoothing // 2 along the axes and diagonals; the least step of the log
energy between the box's halves wins), which halves the halo around a
flaw (the default margin grows by smoothing // 2). train() estimates
their mean and covariance on defect-free images and sets the threshold on
the Mahalanobis distance at the (1 - false_alarm_rate) quantile of held-out
training pixels (each half of the rows measured by a model of the other).
smoothing: radius of a box average of the energies (None: 0 for "filters",
24 for the invariant sets); margin: border left out, distance 0 there (None: 3
envelope sigmas + smoothing); shrinkage in [0, 1] scales the covariance's
off-diagonal entries by 1 - shrinkage.

Images: 2-D uint8, uint16 or float64 arrays (any strides, copied once), up
to 2048 a side. Heavy calls release the GIL; a bank serves several threads
at once. The bank pickles (trained or not) through its archive record.)doc";

}  // namespace

void bindTexture(py::module_& m) {
  py::class_<vcTextureMaps>(m, "TextureMaps",
                            "Per-pixel maps of a bank's energies (float64 arrays of the image's shape).")
      .def_property_readonly(
          "orientation", [](const vcTextureMaps& t) { return toArray(t.orientation); },
          "Dominant wave-vector direction, radians in [0, pi), refined between orientations.")
      .def_property_readonly(
          "coherence", [](const vcTextureMaps& t) { return toArray(t.coherence); },
          "|sum E_n exp(2i theta_n)| / sum E_n in [0, 1]: 1 for a single direction.")
      .def_property_readonly(
          "energy", [](const vcTextureMaps& t) { return toArray(t.energy); }, "sqrt(sum_k E_k^2).");

  py::class_<Model>(m, "GaborBank", kBankDoc)
      .def(py::init(&build), "frequencies"_a, "orientations"_a = 8, "bandwidth"_a = 1.0, "angular_bandwidth"_a = 0.0,
           "sigmas"_a = py::none(), "support"_a = 4.0, "oversample"_a = 2, "false_alarm_rate"_a = 0.01,
           "smoothing"_a = py::none(), "margin"_a = py::none(), "shrinkage"_a = 0.0, "features"_a = "filters")
      .def_property_readonly(
          "filters", [](const Model& b) { return b.bank().filters(); }, "len(frequencies) * orientations.")
      .def_property_readonly(
          "orientations", [](const Model& b) { return b.bank().orientations(); }, "Orientations over pi.")
      .def_property_readonly(
          "frequencies", [](const Model& b) { return b.bank().frequencies(); }, "Cycles per pixel.")
      .def_property_readonly(
          "angles",
          [](const Model& b) {
            std::vector<double> out;
            for (long k = 0; k < b.bank().filters(); ++k) out.push_back(b.bank().angle(k).value());
            return out;
          },
          "Each filter's direction in radians.")
      .def_property_readonly(
          "sigmas",
          [](const Model& b) {
            std::vector<vcPair<double>> out;
            for (long k = 0; k < b.bank().filters(); ++k) out.push_back(b.bank().sigma(k));
            return out;
          },
          "Each filter's (along, across) standard deviations, cycles per pixel.")
      .def_property_readonly(
          "support", [](const Model& b) { return b.bank().support(); }, "Gaussian truncation of energy().")
      .def_property_readonly(
          "oversample", [](const Model& b) { return b.bank().oversample(); }, "Interpolation grid refinement.")
      .def_property_readonly(
          "envelope_sigma", [](const Model& b) { return b.bank().envelopeSigma(); },
          "Largest spatial standard deviation of the envelopes, pixels.")
      .def(
          "filter", [](const Model& b, long k, const vcPair<long>& size) { return b.bank().filter(k, size); }, "k"_a,
          "size"_a, "Filter k as a vexfilt.Gabor for spectra of padded size (width, height).")
      .def(
          "energy_bound",
          [](const Model& b, long k, const vcPair<long>& size, long step) {
            const auto padded = [](long n) {
              long p = 1;
              while (p < n && p < 4096) p <<= 1;
              return p;
            };
            return b.bank().energyBound(k, step, vcPair<long>(padded(size.x), padded(size.y)));
          },
          "k"_a, "size"_a, py::kw_only(), "step"_a = 1,
          "Accuracy bound of energy(image, step=step) for filter k on images of size (width, height)\n"
          "(padded to powers of two as the transform pads them): |fast - exact| <= bound * S + float\n"
          "rounding, S the sum of the energies the image's frequency components would each have at the\n"
          "filter's centre (for one grating, its energy there).")
      .def(
          "energy",
          [](const Model& b, const py::object& image, long step, bool exact) {
            if (exact && step != 1) throw py::value_error("energy: exact energies are full size (step 1)");
            vcTextureStack stack = onImage(image, "energy", [&](const auto& img) {
              return exact ? b.bank().energyExact(img) : b.bank().energy(img, step);
            });
            return stackArray(std::move(stack));
          },
          "image"_a, py::kw_only(), "step"_a = 1, "exact"_a = false,
          "Local energies of every filter: float32 (filters, ceil(h / step), ceil(w / step)),\n"
          "sample [k, j, i] at pixel [j * step, i * step]. step: a power of two up to 64.\n"
          "exact=True: the library's Gabor filter and banded full-size inverse per filter.")
      .def(
          "orientation",
          [](const Model& b, const py::object& image, long step) {
            return toArray(
                onImage(image, "orientation", [&](const auto& img) { return b.bank().orientation(img, step); }));
          },
          "image"_a, py::kw_only(), "step"_a = 1,
          "Dominant orientation, radians in [0, pi): float64 of the image's shape (step 1).")
      .def(
          "maps",
          [](const Model& b, const py::object& image, long step) {
            return onImage(image, "maps", [&](const auto& img) { return b.bank().maps(b.bank().energy(img, step)); });
          },
          "image"_a, py::kw_only(), "step"_a = 1, "Orientation, coherence and energy maps (TextureMaps).")
      .def("train", &train, "images"_a,
           "Trains the defect model on defect-free images (any iterable of arrays) of one dtype (each larger than\n"
           "2 * margin + 1 both ways); replaces earlier training. Releases the GIL.")
      .def(
          "distance",
          [](const Model& b, const py::object& image) {
            return toArray(onImage(image, "distance", [&](const auto& img) { return b.distance(img); }));
          },
          "image"_a, "Mahalanobis distance of each pixel from the model (float64; 0 in the margin).")
      .def(
          "feature_maps",
          [](const Model& b, const py::object& image) {
            return stackArray(onImage(image, "feature_maps", [&](const auto& img) { return b.featureMaps(img); }));
          },
          "image"_a,
          "The trained model's features per pixel, float32 (features, height, width) in the order of mean:\n"
          "per filter, or per frequency its level, coherence and spread. Releases the GIL.")
      .def(
          "defects",
          [](const Model& b, const py::object& image) {
            // The template by name: a double image would otherwise pick the overload that takes
            // a distance map.
            return boolArray(onImage(image, "defects", [&](const auto& img) {
              using T = std::remove_cv_t<std::remove_pointer_t<decltype(img.pointToOffset())>>;
              return b.template defects<T>(img);
            }));
          },
          "image"_a, "Bool array of the image's shape: distance > threshold.")
      .def_property_readonly("trained", &Model::isTrained, "True once train() has run.")
      .def_property("threshold", py::overload_cast<>(&Model::threshold, py::const_),
                    py::overload_cast<double>(&Model::threshold), "Decision threshold on the distance.")
      .def_property_readonly("false_alarm_rate", &Model::falseAlarmRate, "Training pixels' share above the threshold.")
      .def_property_readonly("smoothing", &Model::smoothing, "Box radius of the energies' average.")
      .def_property_readonly("margin", &Model::margin, "Border left out (distance 0).")
      .def_property_readonly("shrinkage", &Model::shrinkage, "Off-diagonal covariance shrinkage.")
      .def_property_readonly(
          "features", [](const Model& b) { return featureName(b.features()); },
          "The feature set: 'filters', 'invariant' or 'invariant_sharp'.")
      .def_property_readonly(
          "mean",
          [](const Model& b) {
            return py::array_t<double>(static_cast<py::ssize_t>(b.mean().size()), b.mean().data());
          },
          "Mean feature vector (a copy).")
      .def_property_readonly(
          "covariance",
          [](const Model& b) {
            const auto n = static_cast<py::ssize_t>(b.mean().size());
            return py::array_t<double>({n, n}, b.covariance().data());
          },
          "Feature covariance, (features, features) (a copy).")
      .def(py::self == py::self)
      .def("__ne__", [](const Model& a, const Model& b) { return !(a == b); })
      .def("to_bytes", &record, "The model's archive record (`ar || model`).")
      .def_static("from_bytes", &fromRecord, "data"_a,
                  "A bank loaded from its archive record; ArchiveError for a record that cannot be right.")
      .def("__copy__", [](const Model& b) { return Model(b); })
      .def(
          "__deepcopy__", [](const Model& b, py::dict) { return Model(b); }, "memo"_a)
      .def(py::pickle([](const Model& b) { return record(b); }, [](const py::bytes& data) { return fromRecord(data); }))
      .def("__repr__", [](const Model& b) {
        std::string f;
        for (double v : b.bank().frequencies())
          f += (f.empty() ? "" : ", ") + py::repr(py::float_(v)).cast<std::string>();
        return "GaborBank(frequencies=[" + f + "], orientations=" + std::to_string(b.bank().orientations()) +
               (b.features() != Model::Features::perFilter
                    ? ", features='" + std::string(featureName(b.features())) + "'"
                    : std::string()) +
               (b.isTrained() ? ", trained)" : ")");
      });
}

}  // namespace vfpy

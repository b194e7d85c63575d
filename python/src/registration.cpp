// Registration: phase correlation (translation) and Fourier-Mellin
// registration (rotation, scale, translation) of two numpy images
// (filt/vision/registration.h). The options are keyword arguments named as
// the C++ options in snake case, their defaults taken from the C++ option
// structures themselves; both calls release the GIL.
#include <filt/vision/registration.h>

#include <memory>
#include <string>

#include "convert.h"

namespace vfpy {
namespace {

using namespace pybind11::literals;

const char* const kEdgeNames[] = {"periodic_smooth", "hann", "tukey", "none"};

vcEdgeTreatment treatment(const std::string& name, const char* what) {
  for (int i = 0; i < 4; ++i)
    if (name == kEdgeNames[i]) return static_cast<vcEdgeTreatment>(i);
  throw py::value_error(std::string(what) + " must be 'periodic_smooth', 'hann', 'tukey' or 'none', not '" + name +
                        "'");
}

// The translation options as keyword arguments (shared by both calls).
struct TranslationArgs {
  bool largeShifts, subPixel, followingWindow;
  std::string edges, coarseEdges;
  double tukeyAlpha, followingTaper, ambiguityThreshold;
  long coarseSide, fineSide;

  vcPhaseCorrelationOptions options() const {
    vcPhaseCorrelationOptions o;
    o.largeShifts = largeShifts;
    o.subPixel = subPixel;
    o.followingWindow = followingWindow;
    o.edges = treatment(edges, "edges");
    o.coarseEdges = treatment(coarseEdges, "coarse_edges");
    o.tukeyAlpha = tukeyAlpha;
    o.followingTaper = followingTaper;
    o.ambiguityThreshold = ambiguityThreshold;
    o.coarseSide = coarseSide;
    o.fineSide = fineSide;
    return o;
  }
};

// Checks the pair's arrays (same dtype, same shape) before anything is copied.
std::pair<long, long> pairShape(const py::handle& reference, const py::handle& moving, const char* what) {
  for (const py::handle& h : {reference, moving})
    if (!py::isinstance<py::array>(h))
      throw py::type_error(std::string(what) + ": expected numpy arrays, got " +
                           py::str(py::type::of(h).attr("__name__")).cast<std::string>());
  const auto r = py::reinterpret_borrow<py::array>(reference), m = py::reinterpret_borrow<py::array>(moving);
  if (pixelKind(r, what) != pixelKind(m, what))
    throw py::type_error(std::string(what) + ": reference and moving must have the same dtype (" +
                         py::str(r.dtype()).cast<std::string>() + " and " + py::str(m.dtype()).cast<std::string>() +
                         ")");
  if (r.shape(0) != m.shape(0) || r.shape(1) != m.shape(1))
    throw vcFrequencyDefs::InvalidSize("Images must have the correlator's size.");
  return {static_cast<long>(r.shape(1)), static_cast<long>(r.shape(0))};
}

py::object phaseCorrelate(const py::object& reference, const py::object& moving, bool surface,
                          const TranslationArgs& args) {
  const auto [w, h] = pairShape(reference, moving, "phase_correlate");
  const vcPhaseCorrelator correlator(w, h, args.options());  // checks the size and options before copying
  const AnyImage ref = toAnyImage(reference, "phase_correlate"), mov = toAnyImage(moving, "phase_correlate");
  vcPelBuffer<double> map;
  vcTranslation t;
  std::visit(
      [&](const auto& r) {
        using Image = std::decay_t<decltype(r)>;
        const Image& m = std::get<Image>(mov);
        heavy([&] { t = correlator.run(r, m, surface ? &map : nullptr); });
      },
      ref);
  if (surface) return py::make_tuple(t, toArray(map));
  return py::cast(t);
}

py::object registerSimilarity(const py::object& reference, const py::object& moving, long angles, long radii,
                              double minScale, double maxScale, int refinements, const TranslationArgs& args) {
  const auto [w, h] = pairShape(reference, moving, "register_similarity");
  vcSimilarityOptions o;
  o.angles = angles;
  o.radii = radii;
  o.minScale = minScale;
  o.maxScale = maxScale;
  o.refinements = refinements;
  o.translation = args.options();
  const vcSimilarityRegistration registration(w, h, o);
  const AnyImage ref = toAnyImage(reference, "register_similarity"), mov = toAnyImage(moving, "register_similarity");
  vcSimilarity s;
  std::visit(
      [&](const auto& r) {
        using Image = std::decay_t<decltype(r)>;
        const Image& m = std::get<Image>(mov);
        heavy([&] { s = registration.run(r, m); });
      },
      ref);
  return py::cast(s);
}

std::string number(double v) {
  return py::repr(py::float_(v)).cast<std::string>();
}

const char* kTranslationOptions = R"doc(
Translation options (keywords; defaults are the library's):
  large_shifts: report shifts past half the size as they are (the candidates
      d and d -+ size are always compared over their overlap; by default a
      shift past half comes back as its alias in (-size/2, size/2], flagged
      ambiguous).
  sub_pixel: the fine stage (False: whole-pixel shifts of the coarse stage).
  edges, coarse_edges: edge treatment of the fine and coarse stages,
      'periodic_smooth' (Moisan's periodic component), 'hann', 'tukey', 'none'.
  tukey_alpha: fraction of each axis a Tukey window tapers.
  coarse_side: the coarse stage averages larger images down to this side.
  fine_side: the fine stage uses at most this much of the overlap per side.
  following_window, following_taper: the fine stage's window that follows the
      content (and the fraction of each axis it tapers).
  ambiguity_threshold: a confidence below it sets `ambiguous`.)doc";

}  // namespace

void bindRegistration(py::module_& m) {
  py::class_<vcTranslation>(m, "Translation",
                            "A measured shift: moving(x, y) ~ reference(x - dx, y - dy) (x along columns, y\n"
                            "along rows); confidence in [0, 1] (the peak against the next best), ambiguous\n"
                            "when it is below the threshold, two candidate shifts fit alike, or (without\n"
                            "large_shifts) the answer is the alias of a shift past half the size.")
      .def_readonly("dx", &vcTranslation::dx, "Shift along columns, pixels.")
      .def_readonly("dy", &vcTranslation::dy, "Shift along rows, pixels.")
      .def_readonly("confidence", &vcTranslation::confidence, "In [0, 1]; 0 when nothing could be measured.")
      .def_readonly("ambiguous", &vcTranslation::ambiguous, "The answer is not to be trusted.")
      .def_property_readonly(
          "shift", [](const vcTranslation& t) { return py::make_tuple(t.dy, t.dx); },
          "(dy, dx): numpy's axis order, as scipy.ndimage.shift takes it to move the reference\n"
          "onto the moving image.")
      .def("__repr__", [](const vcTranslation& t) {
        return "Translation(dx=" + number(t.dx) + ", dy=" + number(t.dy) + ", confidence=" + number(t.confidence) +
               ", ambiguous=" + (t.ambiguous ? "True" : "False") + ")";
      });

  py::class_<vcSimilarity>(m, "Similarity",
                           "A measured similarity: moving(p) ~ reference(q) with\n"
                           "p = c + scale * R(angle) (q - c) + (dx, dy), c = ((width - 1) / 2, (height - 1) / 2),\n"
                           "R turning the x axis (columns) toward the y axis (rows); angle in radians in\n"
                           "(-pi, pi], scale from 0.5 to 2; confidence and ambiguous of the final translation.")
      .def_readonly("dx", &vcSimilarity::dx, "Translation along columns, pixels.")
      .def_readonly("dy", &vcSimilarity::dy, "Translation along rows, pixels.")
      .def_readonly("angle", &vcSimilarity::angle, "Rotation in radians, (-pi, pi].")
      .def_readonly("scale", &vcSimilarity::scale, "Scale factor, 0.5 to 2.")
      .def_readonly("confidence", &vcSimilarity::confidence, "Of the final translation, [0, 1].")
      .def_readonly("ambiguous", &vcSimilarity::ambiguous, "The answer is not to be trusted.")
      .def("__repr__", [](const vcSimilarity& s) {
        return "Similarity(dx=" + number(s.dx) + ", dy=" + number(s.dy) + ", angle=" + number(s.angle) +
               ", scale=" + number(s.scale) + ", confidence=" + number(s.confidence) +
               ", ambiguous=" + (s.ambiguous ? "True" : "False") + ")";
      });

  const vcPhaseCorrelationOptions d;
  const auto edgeName = [](vcEdgeTreatment e) { return std::string(kEdgeNames[static_cast<int>(e)]); };

  m.def(
      "phase_correlate",
      [](const py::object& reference, const py::object& moving, bool surface, bool largeShifts, bool subPixel,
         const std::string& edges, const std::string& coarseEdges, double tukeyAlpha, long coarseSide, long fineSide,
         bool followingWindow, double followingTaper, double ambiguityThreshold) {
        return phaseCorrelate(reference, moving, surface,
                              {largeShifts, subPixel, followingWindow, edges, coarseEdges, tukeyAlpha, followingTaper,
                               ambiguityThreshold, coarseSide, fineSide});
      },
      "reference"_a, "moving"_a, py::kw_only(), "surface"_a = false, "large_shifts"_a = d.largeShifts,
      "sub_pixel"_a = d.subPixel, "edges"_a = edgeName(d.edges), "coarse_edges"_a = edgeName(d.coarseEdges),
      "tukey_alpha"_a = d.tukeyAlpha, "coarse_side"_a = d.coarseSide, "fine_side"_a = d.fineSide,
      "following_window"_a = d.followingWindow, "following_taper"_a = d.followingTaper,
      "ambiguity_threshold"_a = d.ambiguityThreshold,
      (std::string("The shift that carries `reference` onto `moving` (a Translation).\n\n"
                   "Two 2-D arrays of one dtype (uint8, uint16, float64; any strides, each copied once) and\n"
                   "one shape, 8 to 16384 a side (larger than 256: the coarse stage works on block\n"
                   "averages). A flat image gives dx = dy = 0, confidence 0, ambiguous, never NaN.\n"
                   "surface=True also returns the coarse correlation surface (float64, zero shift at\n"
                   "[h/2, w/2] of its padded power-of-two size): (Translation, surface).\n"
                   "Releases the GIL; ValueError (vexfilt.InvalidSize, InvalidArgument) for sizes and\n"
                   "options out of range, TypeError for other dtypes.\n") +
       kTranslationOptions)
          .c_str());

  const vcSimilarityOptions s;
  m.def(
      "register_similarity",
      [](const py::object& reference, const py::object& moving, long angles, long radii, double minScale,
         double maxScale, int refinements, bool largeShifts, bool subPixel, const std::string& edges,
         const std::string& coarseEdges, double tukeyAlpha, long coarseSide, long fineSide, bool followingWindow,
         double followingTaper, double ambiguityThreshold) {
        return registerSimilarity(reference, moving, angles, radii, minScale, maxScale, refinements,
                                  {largeShifts, subPixel, followingWindow, edges, coarseEdges, tukeyAlpha,
                                   followingTaper, ambiguityThreshold, coarseSide, fineSide});
      },
      "reference"_a, "moving"_a, py::kw_only(), "angles"_a = s.angles, "radii"_a = s.radii, "min_scale"_a = s.minScale,
      "max_scale"_a = s.maxScale, "refinements"_a = s.refinements, "large_shifts"_a = s.translation.largeShifts,
      "sub_pixel"_a = s.translation.subPixel, "edges"_a = edgeName(s.translation.edges),
      "coarse_edges"_a = edgeName(s.translation.coarseEdges), "tukey_alpha"_a = s.translation.tukeyAlpha,
      "coarse_side"_a = s.translation.coarseSide, "fine_side"_a = s.translation.fineSide,
      "following_window"_a = s.translation.followingWindow, "following_taper"_a = s.translation.followingTaper,
      "ambiguity_threshold"_a = s.translation.ambiguityThreshold,
      (std::string("Rotation, scale and translation from `reference` to `moving` (a Similarity), by\n"
                   "log-polar phase correlation of the magnitude spectra (Fourier-Mellin), the 180-degree\n"
                   "ambiguity settled by correlating both candidates, then the translation.\n\n"
                   "Two arrays of one dtype and shape, 32 to 2048 a side. angles, radii: samples of the\n"
                   "log-polar grid over 180 degrees and over log radius; min_scale, max_scale: the scale\n"
                   "range searched; refinements: extra log-polar passes on the corrected image.\n"
                   "Releases the GIL.\n") +
       kTranslationOptions)
          .c_str());
}

}  // namespace vfpy

// Frame plans: filtering frames of any size by overlap-save tiles
// (filt/vision/frames.h) from numpy arrays.
//
// A FramePlan keeps the object it was made from (a filter or a kernel array)
// so that it pickles as (shape, that object, edge, tolerance, its tile size)
// and is rebuilt the same in another process. run() gives one numpy array of
// the frame's shape; with `threads` the plan's jobs run on a
// concurrent.futures thread pool, each job a call with the GIL released and
// its own workspace, writing its own rectangle of the shared output images,
// so the result is the serial run's bit for bit.
#include <filt/vision/frames.h>

#include <complex>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "convert.h"

namespace vfpy {
namespace {

using namespace pybind11::literals;

const char* const kEdgeNames[] = {"zero", "periodic", "reflect", "nearest"};

vcEdgeMode edgeMode(const std::string& name) {
  for (int i = 0; i < 4; ++i)
    if (name == kEdgeNames[i]) return static_cast<vcEdgeMode>(i);
  throw py::value_error("edge must be 'zero', 'periodic', 'reflect' or 'nearest', not '" + name + "'");
}

// What run() writes.
enum class Out { real, imaginary, magnitude, complex, magnitude8, magnitude16 };

Out outputKind(const std::string& output, const py::object& dtype) {
  std::string type = "float64";
  if (!dtype.is_none()) type = py::str(py::module_::import("numpy").attr("dtype")(dtype).attr("name"));
  if (output == "magnitude") {
    if (type == "float64") return Out::magnitude;
    if (type == "uint8") return Out::magnitude8;
    if (type == "uint16") return Out::magnitude16;
    throw py::type_error("run: a magnitude is float64, uint8 or uint16, not " + type);
  }
  if (type != "float64") throw py::type_error("run: dtype is for output='magnitude' (" + output + " is float64)");
  if (output == "real") return Out::real;
  if (output == "imaginary") return Out::imaginary;
  if (output == "complex") return Out::complex;
  throw py::value_error("run: output must be 'real', 'imaginary', 'magnitude' or 'complex', not '" + output + "'");
}

// The frame filter described by a filter object or a kernel array.
vcFrameFilter frameFilter(const py::object& filter) {
  if (py::isinstance<vcFrequencyFilter>(filter)) return vcFrameFilter::from(filter.cast<const vcFrequencyFilter&>());
  if (py::isinstance<py::array>(filter)) {
    auto array = py::reinterpret_borrow<py::array>(filter);
    if (array.ndim() == 2 && array.dtype().kind() == 'c') {
      py::module_ np = py::module_::import("numpy");
      const auto re = np.attr("ascontiguousarray")(array.attr("real"), "float64").cast<py::array>();
      const auto im = np.attr("ascontiguousarray")(array.attr("imag"), "float64").cast<py::array>();
      return vcFrameFilter::kernel(toImage<double>(re), toImage<double>(im));
    }
    if (pixelKind(array, "FramePlan (kernel)") != 2)
      throw py::type_error("FramePlan: a kernel array is float64 or complex");
    return vcFrameFilter::kernel(toImage<double>(array));
  }
  throw py::type_error(
      "FramePlan: filter must be a vexfilt filter (BandPass, BandReject, Gabor, GaborReject, "
      "ImageFilter) or a 2-D kernel array, not " +
      py::str(py::type::of(filter).attr("__name__")).cast<std::string>());
}

struct FramePlan {
  vcFramePlan plan;
  py::object source;  // what the plan was made from (pickling)
};

// The shared state of one frame run spread over threads: the input, the
// outputs (frame-sized, each job writes its own rectangle) and a free list
// of workspaces.
struct FrameRun {
  const vcFramePlan* plan = nullptr;
  py::object owner;  // keeps the plan alive (released with the GIL held, see release())
  AnyImage input;
  Out kind = Out::real;
  bool stretch = false;
  vcPelBuffer<double> a, b;
  vcPelBuffer<unsigned char> u8;
  vcPelBuffer<unsigned short> u16;
  std::mutex mutex;  // guards range and spare
  vcFrameRange range;
  std::vector<vcFramePlan::Workspace> spare;

  // Passes over the jobs: a stretched integer magnitude first measures the
  // frame's range.
  int passes() const { return stretch && (kind == Out::magnitude8 || kind == Out::magnitude16) ? 2 : 1; }

  void job(int pass, long index) {
    vcFramePlan::Workspace workspace;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!spare.empty()) {
        workspace = std::move(spare.back());
        spare.pop_back();
      }
    }
    const vcFrameJob& job = plan->jobs().at(static_cast<std::size_t>(index));
    std::visit(
        [&](const auto& image) {
          if (pass == 0 && passes() == 2) {
            const vcFrameRange r = plan->rangeJob(job, image, workspace);
            std::lock_guard<std::mutex> lock(mutex);
            range.merge(r);
            return;
          }
          switch (kind) {
            case Out::real:
              plan->runJob(job, image, a, vcFramePlan::eReal, workspace);
              break;
            case Out::imaginary:
              plan->runJob(job, image, a, vcFramePlan::eImaginary, workspace);
              break;
            case Out::magnitude:
              plan->runJob(job, image, a, vcFramePlan::eMagnitude, workspace);
              break;
            case Out::complex:
              plan->runJob(job, image, a, b, workspace);
              break;
            case Out::magnitude8:
              plan->runMagnitudeJob(job, image, u8, stretch, range, workspace);
              break;
            case Out::magnitude16:
              plan->runMagnitudeJob(job, image, u16, stretch, range, workspace);
              break;
          }
        },
        input);
    std::lock_guard<std::mutex> lock(mutex);
    spare.push_back(std::move(workspace));
  }
};

// A complex128 array from the real and imaginary images (one copy).
py::array complexArray(const vcPelBuffer<double>& re, const vcPelBuffer<double>& im) {
  const long w = re.width(), h = re.height();
  py::array_t<std::complex<double>> out({static_cast<py::ssize_t>(h), static_cast<py::ssize_t>(w)});
  std::complex<double>* data = out.mutable_data();
  heavy([&] {
    for (long y = 0; y < h; ++y) {
      const double* r = re.pointToOffset() + y * re.rep().rowStride();
      const double* i = im.pointToOffset() + y * im.rep().rowStride();
      for (long x = 0; x < w; ++x) data[y * w + x] = {r[x], i[x]};
    }
  });
  return out;
}

py::object result(FrameRun& run) {
  switch (run.kind) {
    case Out::complex:
      return complexArray(run.a, run.b);
    case Out::magnitude8:
      return toArray(run.u8);
    case Out::magnitude16:
      return toArray(run.u16);
    default:
      return toArray(run.a);
  }
}

void requireFrame(const vcFramePlan& plan, const py::handle& image) {
  if (!py::isinstance<py::array>(image))
    throw py::type_error("run: expected a numpy array, got " +
                         py::str(py::type::of(image).attr("__name__")).cast<std::string>());
  const auto array = py::reinterpret_borrow<py::array>(image);
  pixelKind(array, "run");
  if (array.shape(0) != plan.height() || array.shape(1) != plan.width())
    throw vcFrequencyDefs::InvalidSize("Frame does not match the plan.");  // before copying the frame
}

py::object run(py::object self, const py::object& image, const std::string& output, const py::object& dtype,
               bool stretch, const py::object& threads, const py::object& progress) {
  const vcFramePlan& plan = self.cast<FramePlan&>().plan;
  const Out kind = outputKind(output, dtype);
  if (stretch && kind != Out::magnitude8 && kind != Out::magnitude16)
    throw py::value_error("run: stretch is for uint8 and uint16 magnitudes");
  long workers = 0;
  if (!threads.is_none()) {
    workers = threads.cast<long>();
    if (workers < 1) throw py::value_error("run: threads must be at least 1 (or None: this thread alone)");
  }
  requireFrame(plan, image);
  auto state = std::make_shared<FrameRun>();
  state->plan = &plan;
  state->owner = self;
  state->input = toAnyImage(image, "run");
  state->kind = kind;
  state->stretch = stretch;
  FrameRun& r = *state;

  if (workers == 0) {
    vcFramePlan::Progress report;
    if (!progress.is_none())
      report = [&progress](long done, long total) {
        py::gil_scoped_acquire gil;
        progress(done, total);  // an exception stops the run before the next tile
      };
    std::visit(
        [&](const auto& in) {
          heavy([&] {
            switch (kind) {
              case Out::real:
                plan.run(in, r.a, vcFramePlan::eReal, report);
                break;
              case Out::imaginary:
                plan.run(in, r.a, vcFramePlan::eImaginary, report);
                break;
              case Out::magnitude:
                plan.run(in, r.a, vcFramePlan::eMagnitude, report);
                break;
              case Out::complex:
                plan.run(in, r.a, r.b, report);
                break;
              case Out::magnitude8:
                plan.runMagnitude(in, r.u8, stretch, report);
                break;
              case Out::magnitude16:
                plan.runMagnitude(in, r.u16, stretch, report);
                break;
            }
          });
        },
        r.input);
    return result(r);
  }

  // Frame-sized outputs shared by the jobs.
  const long w = plan.width(), h = plan.height();
  if (kind == Out::magnitude8) {
    r.u8 = vcPelBuffer<unsigned char>(w, h);
  } else if (kind == Out::magnitude16) {
    r.u16 = vcPelBuffer<unsigned short>(w, h);
  } else {
    r.a = vcPelBuffer<double>(w, h);
    if (kind == Out::complex) r.b = vcPelBuffer<double>(w, h);
  }
  const long jobs = static_cast<long>(plan.jobs().size());
  // Each job reports to `progress` when it is done, with the GIL held (the count is only
  // touched then).
  const long total = jobs * r.passes();
  auto done = std::make_shared<long>(0);
  py::cpp_function one([state, done, total, progress](int pass, long index) {
    heavy([&] { state->job(pass, index); });
    if (!progress.is_none()) progress(++*done, total);
  });
  py::object executor = py::module_::import("concurrent.futures").attr("ThreadPoolExecutor")("max_workers"_a = workers);
  try {
    for (int pass = 0; pass < r.passes(); ++pass) {
      py::list passes, indices;
      for (long i = 0; i < jobs; ++i) {
        passes.append(pass);
        indices.append(i);
      }
      py::list(executor.attr("map")(one, passes, indices));  // waits; raises a job's exception
    }
  } catch (...) {
    executor.attr("shutdown")("wait"_a = true, "cancel_futures"_a = true);
    throw;
  }
  executor.attr("shutdown")("wait"_a = true);
  return result(r);
}

py::object jobsOf(const vcFramePlan& plan) {
  py::list out;
  for (const vcFrameJob& job : plan.jobs()) out.append(py::cast(job));
  return out;
}

py::tuple slices(const vcFrameRect& r) {
  return py::make_tuple(py::slice(r.y, r.y + r.height, 1), py::slice(r.x, r.x + r.width, 1));
}

const char* kPlanDoc = R"doc(A plan for filtering frames of one size by overlap-save tiles.

FramePlan(shape, filter, edge='zero', tolerance=1e-4, tile_size=0)

shape is numpy's (height, width), 1 to 65536 a side. filter is any vexfilt
filter (BandPass, BandReject, Gabor, GaborReject, ImageFilter: its own padded
size is ignored, the plan rebuilds it at its tile size; an ImageFilter
becomes the kernel its spectrum is the transform of) or a 2-D float64 or
complex kernel array whose pixel [height // 2, width // 2] is the origin
(a convolution, as scipy.signal.fftconvolve computes it).

edge says what lies beyond the frame's border: 'zero' (numpy.pad's
'constant'), 'periodic' ('wrap'), 'reflect' (about the border between the
edge pixel and the next, as scipy.ndimage's 'reflect', i.e. numpy.pad's
'symmetric') or 'nearest' ('edge').

The tile is a power of two up to 2048 chosen for speed (tile_size imposes
one). The margin is the smallest radius holding all but `tolerance` of the
energy of the filter's impulse response at the tile size; error_bound is the
fraction it leaves out, and pixel_error_bound(low, high) bounds every output
pixel's distance from the frame convolved in double precision with
impulse_response() (low, high: the extended frame's value range). A filter
whose response is too long for a 2048 tile at that tolerance is refused with
ValueError giving the tolerance it could reach.

Building measures the response (a few transforms) with the GIL released. A
plan is immutable: run() may be called from several threads at once. It
pickles as its arguments (and its tile size).)doc";

const char* kRunDoc = R"doc(Filters a frame of the plan's shape; returns an array of that shape.

image: uint8, uint16 or float64, any strides (copied once into the library's
image, the array itself is never written). output: 'real' (float64),
'imaginary', 'magnitude' (float64, or dtype=numpy.uint8 / numpy.uint16:
round(m) saturated, or with stretch=True mapped from the whole frame's
magnitude range, not each tile's) or 'complex' (complex128, assembled from
the real and imaginary parts with one copy).

threads=None runs the tiles in order on this thread (one call, GIL
released). threads=n runs them as independent jobs on a
concurrent.futures.ThreadPoolExecutor of n workers, each job a call with the
GIL released; the result is the same bit for bit. Abort (Ctrl-C) and
deadlines stop the run between tiles.

progress: called as progress(done, total) after each tile (a stretched
integer magnitude runs every tile twice: total counts both passes); an
exception it raises stops the run.)doc";

}  // namespace

void bindFrames(py::module_& m) {
  py::class_<vcFrameRect>(m, "FrameRect",
                          "A rectangle of frame pixels: x, y (top-left, may lie outside the frame for an\n"
                          "input), width, height. slices gives numpy's (rows, columns) slices.")
      .def_readonly("x", &vcFrameRect::x, "Left column.")
      .def_readonly("y", &vcFrameRect::y, "Top row.")
      .def_readonly("width", &vcFrameRect::width, "Columns.")
      .def_readonly("height", &vcFrameRect::height, "Rows.")
      .def_property_readonly("slices", &slices,
                             "(slice of rows, slice of columns); for an input reaching outside the frame the\n"
                             "slices start below 0 or end past it (pad the frame first).")
      .def("__iter__", [](const vcFrameRect& r) { return py::iter(py::make_tuple(r.x, r.y, r.width, r.height)); })
      .def("__repr__", [](const vcFrameRect& r) {
        return "FrameRect(x=" + std::to_string(r.x) + ", y=" + std::to_string(r.y) +
               ", width=" + std::to_string(r.width) + ", height=" + std::to_string(r.height) + ")";
      });

  py::class_<vcFrameJob>(m, "FrameJob",
                         "One tile of a plan: reads the extended frame over `input` (tile_size a side) and\n"
                         "writes the frame pixels of `output` (inside the frame). Jobs are independent.")
      .def_readonly("index", &vcFrameJob::index, "Position in FramePlan.jobs (rows of tiles, top to bottom).")
      .def_readonly("input", &vcFrameJob::input, "The frame pixels the tile reads (edge-extended).")
      .def_readonly("output", &vcFrameJob::output, "The frame pixels the tile writes.")
      .def("__iter__", [](const vcFrameJob& j) { return py::iter(py::make_tuple(j.input, j.output)); })
      .def("__repr__", [](const vcFrameJob& j) {
        return "FrameJob(index=" + std::to_string(j.index) +
               ", input=" + py::repr(py::cast(j.input)).cast<std::string>() +
               ", output=" + py::repr(py::cast(j.output)).cast<std::string>() + ")";
      });

  py::class_<FramePlan>(m, "FramePlan", kPlanDoc)
      .def(py::init([](const std::pair<long, long>& shape, const py::object& filter, const std::string& edge,
                       double tolerance, long tileSize) {
             const vcEdgeMode mode = edgeMode(edge);
             const vcFrameFilter description = frameFilter(filter);
             std::unique_ptr<vcFramePlan> built;
             heavy([&] {
               built = std::make_unique<vcFramePlan>(shape.second, shape.first, description, mode, tolerance, tileSize);
             });
             return new FramePlan{std::move(*built), filter};
           }),
           "shape"_a, "filter"_a, "edge"_a = "zero", "tolerance"_a = 1e-4, "tile_size"_a = 0)
      .def_property_readonly(
          "shape", [](const FramePlan& p) { return py::make_tuple(p.plan.height(), p.plan.width()); },
          "(height, width) of the frames it filters.")
      .def_property_readonly(
          "edge", [](const FramePlan& p) { return std::string(kEdgeNames[static_cast<int>(p.plan.edge())]); },
          "The edge mode's name.")
      .def_property_readonly(
          "tolerance", [](const FramePlan& p) { return p.plan.tolerance(); },
          "Energy fraction the margin may leave out.")
      .def_property_readonly(
          "tile_size", [](const FramePlan& p) { return p.plan.tileSize(); }, "Side of the square tiles.")
      .def_property_readonly(
          "margin", [](const FramePlan& p) { return p.plan.margin(); },
          "Pixels of overlap on each side of a tile's core (the depth for dask's map_overlap).")
      .def_property_readonly(
          "core", [](const FramePlan& p) { return p.plan.core(); }, "tile_size - 2 * margin.")
      .def_property_readonly(
          "error_bound", [](const FramePlan& p) { return p.plan.errorBound(); },
          "Fraction of the impulse response's energy outside the margin (<= tolerance).")
      .def_property_readonly(
          "tail_l1", [](const FramePlan& p) { return p.plan.tailL1(); },
          "Sum of |h| outside the margin (h: impulse_response()).")
      .def_property_readonly(
          "response_l1", [](const FramePlan& p) { return p.plan.responseL1(); }, "Sum of |h|.")
      .def(
          "pixel_error_bound",
          [](const FramePlan& p, double low, double high) { return p.plan.pixelErrorBound(low, high); }, "low"_a,
          "high"_a,
          "A bound on |output - (x * h)| at every pixel, for frames whose extended values lie in\n"
          "[low, high] (include 0 in 'zero' mode): tail_l1 * (high - low) plus the single-precision\n"
          "rounding of the spectra. Applies to the real, imaginary, complex and magnitude outputs.")
      .def_property_readonly(
          "jobs", [](const FramePlan& p) { return jobsOf(p.plan); }, "The tiles as independent FrameJob objects.")
      .def(
          "tile_filter",
          [](const FramePlan& p) { return std::unique_ptr<vcFrequencyFilter>(p.plan.tileFilter().clone()); },
          "A copy of the filter as built at the tile size.")
      .def(
          "impulse_response",
          [](const FramePlan& p) {
            vcPelBuffer<double> re, im;
            heavy([&] { p.plan.impulseResponse(re, im); });
            return complexArray(re, im);
          },
          "The impulse response h at the tile size: complex128 (tile_size, tile_size), origin at\n"
          "[tile_size // 2, tile_size // 2] (a kernel for scipy.signal.fftconvolve).")
      .def("run", &run, "image"_a, "output"_a = "real", py::kw_only(), "dtype"_a = py::none(), "stretch"_a = false,
           "threads"_a = py::none(), "progress"_a = py::none(), kRunDoc)
      .def("__reduce__",
           [](py::object self) {
             const FramePlan& p = self.cast<const FramePlan&>();
             return py::make_tuple(
                 py::type::of(self),
                 py::make_tuple(py::make_tuple(p.plan.height(), p.plan.width()), p.source,
                                kEdgeNames[static_cast<int>(p.plan.edge())], p.plan.tolerance(), p.plan.tileSize()));
           })
      .def("__repr__", [](const FramePlan& p) {
        return "FramePlan(shape=(" + std::to_string(p.plan.height()) + ", " + std::to_string(p.plan.width()) +
               "), edge='" + kEdgeNames[static_cast<int>(p.plan.edge())] +
               "', tile_size=" + std::to_string(p.plan.tileSize()) + ", margin=" + std::to_string(p.plan.margin()) +
               ", jobs=" + std::to_string(p.plan.jobs().size()) + ")";
      });
}

}  // namespace vfpy

// Frame plans: running tiles and frames.

#include <cmath>
#include <stdexcept>

#include "filt/vision/frames.h"
#include "vexsys/attention.h"
#include "vision/frame_support.h"

struct vcFramePlan::Workspace::State {
  vcFrequencyBuffer spectrum;
  vcPelBuffer<unsigned char> tile8;
  vcPelBuffer<unsigned short> tile16;
  vcPelBuffer<double> tileDouble;

  template <class T>
  vcPelBuffer<T>& tile(long size) {
    vcPelBuffer<T>* t;
    if constexpr (std::is_same_v<T, unsigned char>)
      t = &tile8;
    else if constexpr (std::is_same_v<T, unsigned short>)
      t = &tile16;
    else
      t = &tileDouble;
    if (!t->isBound() || t->width() != size) *t = vcPelBuffer<T>(size, size);
    return *t;
  }
};

vcFramePlan::Workspace::Workspace() : state_(std::make_unique<State>()) {}
vcFramePlan::Workspace::~Workspace() = default;
vcFramePlan::Workspace::Workspace(Workspace&&) noexcept = default;
vcFramePlan::Workspace& vcFramePlan::Workspace::operator=(Workspace&&) noexcept = default;

namespace {

using Plan = vcFramePlan;

// Output rows of one job: `columns` elements of the raw inverse, `rows`
// rows, starting at the core's first element; rows step 2 * T floats.
struct CoreRows {
  const float* first;
  long tile;  // T
  long columns, rows;
  double k;  // 1 / T^2, exact
};

CoreRows coreOf(const vcFrameJob& job, const float* data, long tile) {
  const long lx = job.output.x - job.input.x, ly = job.output.y - job.input.y;
  return {data + 2 * (ly * tile + lx), tile, job.output.width, job.output.height,
          1.0 / (static_cast<double>(tile) * static_cast<double>(tile))};
}

template <class U>
U* outputAt(vcPelBuffer<U>& image, const vcFrameRect& r) {
  return image.pointToOffset() + r.y * image.rep().rowStride() + r.x;
}

template <class U>
long pitchOf(const vcPelBuffer<U>& image) {
  return image.rep().rowStride() * static_cast<long>(sizeof(U));
}

void writeDouble(const CoreRows& c, double* out, long stride, Plan::Output what) {
  if (what == Plan::eMagnitude) {
    long rows = c.rows;
    vf_InverseFFTInline7(c.first, out, c.columns, static_cast<float>(c.k), c.tile,
                         stride * static_cast<long>(sizeof(double)), &rows);
    return;
  }
  const long part = what == Plan::eImaginary ? 1 : 0;
  for (long y = 0; y < c.rows; ++y) {
    const float* e = c.first + 2 * c.tile * y + part;
    double* o = out + y * stride;
    for (long x = 0; x < c.columns; ++x) o[x] = static_cast<double>(e[2 * x]) * c.k;
  }
}

// The squared-magnitude range of the core, as the whole-buffer stretch scans it.
vcFrameRange rangeOf(const CoreRows& c) {
  double smallest = static_cast<double>(1e20f), largest = static_cast<double>(-1e20f);
  for (long y = 0; y < c.rows; ++y) {
    const float* e = c.first + 2 * c.tile * y;
    for (long x = 0; x < c.columns; ++x) {
      const double re = e[2 * x], im = e[2 * x + 1], sq = re * re + im * im;
      if (sq < smallest) smallest = sq;
      if (sq > largest) largest = sq;
    }
  }
  vcFrameRange r;
  if (c.rows > 0 && c.columns > 0) {
    r.low = std::sqrt(smallest) * c.k;
    r.high = std::sqrt(largest) * c.k;
  }
  return r;
}

// The stretch of the whole-buffer inverse, over a whole frame's range.
struct Stretch {
  float scale, low;
};
Stretch stretchFor(const vcFrameRange& range, double M) {
  const double low = range.low <= range.high ? range.low : 0.0;
  const double high = range.low <= range.high ? range.high : 0.0;
  return {static_cast<float>(low == high ? M : M / (high - low)), static_cast<float>(low)};
}

// The library's magnitude loops for each small pixel type: scratch word type,
// the stretch's full scale, the stretched and the saturated loop.
template <class P>
struct SmallPixels;
template <>
struct SmallPixels<unsigned char> {
  using Scratch = unsigned short;
  static constexpr double kFullScale = 255.0;
  static constexpr auto stretched = &vf_InverseFFTInline2;
  static constexpr auto saturated = &vf_InverseFFTInline4;
};
template <>
struct SmallPixels<unsigned short> {
  using Scratch = unsigned int;
  static constexpr double kFullScale = 65535.0;
  static constexpr auto stretched = &vf_InverseFFTInline5;
  static constexpr auto saturated = &vf_InverseFFTInline6;
};

template <class P>
void writeSmall(const CoreRows& c, P* out, long pitch, bool stretch, const vcFrameRange& range) {
  using Pixels = SmallPixels<P>;
  long rows = c.rows;
  typename Pixels::Scratch scratch = 0;
  if (rows == 0 || c.columns == 0) return;
  if (stretch) {
    const Stretch s = stretchFor(range, Pixels::kFullScale);
    Pixels::stretched(c.first, out, &scratch, s.scale, s.low, static_cast<float>(c.k), c.tile, c.columns, pitch, &rows);
  } else {
    Pixels::saturated(c.first, out, &scratch, static_cast<float>(c.k), c.tile, c.columns, pitch, &rows);
  }
}

template <class U>
void checkOutput(const vcPelBuffer<U>& output, long width, long height) {
  if (!output.isBound()) throw vcFrequencyDefs::UnboundWindow();
  if (output.width() != width || output.height() != height)
    throw vcFrequencyDefs::InvalidSize("Output does not match the plan.");
}

// Tiles read the input around what they write: an output sharing pixels
// with the input (or with the other output) would feed later tiles filtered
// values.
void checkApart(const vc_PelBuffer& a, const vc_PelBuffer& b) {
  if (a.rep().sharesPixelsWith(b.rep()))
    throw std::invalid_argument("vcFramePlan: an output shares pixels with the input or the other output");
}

// An unbound caller output gets a new frame image, assigned only after the
// run; a bound one is written directly.
template <class U>
class FrameOutput {
 public:
  template <class T>
  FrameOutput(vcPelBuffer<U>& caller, const vcPelBuffer_const<T>& input, long width, long height) : caller_(caller) {
    if (caller.isBound()) {
      checkOutput(caller, width, height);
      image_ = caller;
    } else {
      image_ = vcPelBuffer<U>(width, height);
      image_.offset(input.offset());
      image_.copyXforms(input);
    }
  }
  vcPelBuffer<U>& image() { return image_; }
  void commit() {
    if (!caller_.isBound()) caller_ = image_;
  }

 private:
  vcPelBuffer<U>& caller_;
  vcPelBuffer<U> image_;
};

// Runs every job through `tile` in order with a workspace of its own,
// reporting progress as pass `pass` of `passes`.
template <class F>
void eachJob(const Plan& plan, F&& tile, long pass, long passes, const Plan::Progress& progress) {
  const long n = static_cast<long>(plan.jobs().size());
  Plan::Workspace workspace;
  for (const vcFrameJob& job : plan.jobs()) {
    tile(job, workspace);
    if (progress) progress(pass * n + job.index + 1, passes * n);
  }
}

}  // namespace

template <class T>
void vcFramePlan::checkInput(const vcPelBuffer_const<T>& input) const {
  if (!input.isBound()) throw vcFrequencyDefs::UnboundWindow();
  if (input.width() != width_ || input.height() != height_)
    throw vcFrequencyDefs::InvalidSize("Frame does not match the plan.");
}

void vcFramePlan::checkJob(const vcFrameJob& job) const {
  const auto same = [](const vcFrameRect& a, const vcFrameRect& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
  };
  if (job.index < 0 || job.index >= static_cast<long>(jobs_.size()) ||
      !same(job.input, jobs_[static_cast<std::size_t>(job.index)].input) ||
      !same(job.output, jobs_[static_cast<std::size_t>(job.index)].output))
    throw std::invalid_argument("vcFramePlan: the job is not one of this plan's jobs");
}

template <class T>
const float* vcFramePlan::transformTile(const vcFrameJob& job, const vcPelBuffer_const<T>& input,
                                        Workspace& workspace) const {
  vfThrowExceptionOnFailure(vsys_attention_check());
  Workspace::State& ws = *workspace.state_;
  const vcFrameRect& r = job.input;
  if (r.x >= 0 && r.y >= 0 && r.x + r.width <= width_ && r.y + r.height <= height_) {
    // Inside the frame: transform a window onto it, no copy. Its offset is
    // cleared so that the spectrum's is (0, 0) and the inverse is unshifted.
    vcPelBuffer_const<T> view(input, r.x, r.y, r.width, r.height);
    view.offset(0, 0);
    vfForwardFFT<T>(view, ws.spectrum);
  } else {
    vcPelBuffer<T>& tile = ws.tile<T>(tile_);
    vfEdgeRegion<T>(input, r.x, r.y, tile, edge_);
    vfForwardFFT<T>(tile, ws.spectrum);
  }
  filter_->apply(ws.spectrum);
  vfInverseFFT(ws.spectrum, ws.spectrum, true);
  return vf_frames::bufferData(ws.spectrum);
}

template <class T>
void vcFramePlan::runJob(const vcFrameJob& job, const vcPelBuffer_const<T>& input, vcPelBuffer<double>& output,
                         Output what, Workspace& workspace) const {
  checkInput(input);
  checkOutput(output, width_, height_);
  checkApart(input, output);
  checkJob(job);
  if (what != eReal && what != eMagnitude && what != eImaginary)
    throw std::invalid_argument("vcFramePlan: unknown output");
  const CoreRows c = coreOf(job, transformTile(job, input, workspace), tile_);
  writeDouble(c, outputAt(output, job.output), output.rep().rowStride(), what);
}

template <class T>
void vcFramePlan::runJob(const vcFrameJob& job, const vcPelBuffer_const<T>& input, vcPelBuffer<double>& real,
                         vcPelBuffer<double>& imaginary, Workspace& workspace) const {
  checkInput(input);
  checkOutput(real, width_, height_);
  checkOutput(imaginary, width_, height_);
  checkApart(input, real);
  checkApart(input, imaginary);
  checkApart(real, imaginary);
  checkJob(job);
  const CoreRows c = coreOf(job, transformTile(job, input, workspace), tile_);
  writeDouble(c, outputAt(real, job.output), real.rep().rowStride(), eReal);
  writeDouble(c, outputAt(imaginary, job.output), imaginary.rep().rowStride(), eImaginary);
}

template <class T>
vcFrameRange vcFramePlan::rangeJob(const vcFrameJob& job, const vcPelBuffer_const<T>& input,
                                   Workspace& workspace) const {
  checkInput(input);
  checkJob(job);
  return rangeOf(coreOf(job, transformTile(job, input, workspace), tile_));
}

template <class T, class U>
void vcFramePlan::runMagnitudeJob(const vcFrameJob& job, const vcPelBuffer_const<T>& input, vcPelBuffer<U>& output,
                                  bool stretch, const vcFrameRange& range, Workspace& workspace) const {
  checkInput(input);
  checkOutput(output, width_, height_);
  checkApart(input, output);
  checkJob(job);
  const CoreRows c = coreOf(job, transformTile(job, input, workspace), tile_);
  writeSmall(c, outputAt(output, job.output), pitchOf(output), stretch, range);
}

template <class T>
void vcFramePlan::run(const vcPelBuffer_const<T>& input, vcPelBuffer<double>& output, Output what,
                      const Progress& progress) const {
  checkInput(input);
  FrameOutput<double> out(output, input, width_, height_);
  eachJob(
      *this, [&](const vcFrameJob& job, Workspace& ws) { runJob(job, input, out.image(), what, ws); }, 0, 1, progress);
  out.commit();
}

template <class T>
void vcFramePlan::run(const vcPelBuffer_const<T>& input, vcPelBuffer<double>& real, vcPelBuffer<double>& imaginary,
                      const Progress& progress) const {
  checkInput(input);
  FrameOutput<double> re(real, input, width_, height_), im(imaginary, input, width_, height_);
  eachJob(
      *this, [&](const vcFrameJob& job, Workspace& ws) { runJob(job, input, re.image(), im.image(), ws); }, 0, 1,
      progress);
  re.commit();
  im.commit();
}

template <class T, class U>
void vcFramePlan::runMagnitude(const vcPelBuffer_const<T>& input, vcPelBuffer<U>& output, bool stretch,
                               const Progress& progress) const {
  checkInput(input);
  FrameOutput<U> out(output, input, width_, height_);
  vcFrameRange range;
  const long passes = stretch ? 2 : 1;
  if (stretch)
    eachJob(
        *this, [&](const vcFrameJob& job, Workspace& ws) { range.merge(rangeJob(job, input, ws)); }, 0, passes,
        progress);
  eachJob(
      *this,
      [&](const vcFrameJob& job, Workspace& ws) { runMagnitudeJob(job, input, out.image(), stretch, range, ws); },
      passes - 1, passes, progress);
  out.commit();
}

#define VEXFILT_INSTANTIATE_FRAMES_OUT(T, U)                                                                    \
  template VEXFILT_API void vcFramePlan::runMagnitude<T, U>(const vcPelBuffer_const<T>&, vcPelBuffer<U>&, bool, \
                                                            const Progress&) const;                             \
  template VEXFILT_API void vcFramePlan::runMagnitudeJob<T, U>(                                                 \
      const vcFrameJob&, const vcPelBuffer_const<T>&, vcPelBuffer<U>&, bool, const vcFrameRange&, Workspace&) const;
#define VEXFILT_INSTANTIATE_FRAMES(T)                                                                             \
  template VEXFILT_API void vcFramePlan::run<T>(const vcPelBuffer_const<T>&, vcPelBuffer<double>&, Output,        \
                                                const Progress&) const;                                           \
  template VEXFILT_API void vcFramePlan::run<T>(const vcPelBuffer_const<T>&, vcPelBuffer<double>&,                \
                                                vcPelBuffer<double>&, const Progress&) const;                     \
  template VEXFILT_API void vcFramePlan::runJob<T>(const vcFrameJob&, const vcPelBuffer_const<T>&,                \
                                                   vcPelBuffer<double>&, Output, Workspace&) const;               \
  template VEXFILT_API void vcFramePlan::runJob<T>(const vcFrameJob&, const vcPelBuffer_const<T>&,                \
                                                   vcPelBuffer<double>&, vcPelBuffer<double>&, Workspace&) const; \
  template VEXFILT_API vcFrameRange vcFramePlan::rangeJob<T>(const vcFrameJob&, const vcPelBuffer_const<T>&,      \
                                                             Workspace&) const;                                   \
  VEXFILT_INSTANTIATE_FRAMES_OUT(T, unsigned char)                                                                \
  VEXFILT_INSTANTIATE_FRAMES_OUT(T, unsigned short)
VEXFILT_INSTANTIATE_FRAMES(unsigned char)
VEXFILT_INSTANTIATE_FRAMES(unsigned short)
VEXFILT_INSTANTIATE_FRAMES(double)
#undef VEXFILT_INSTANTIATE_FRAMES
#undef VEXFILT_INSTANTIATE_FRAMES_OUT

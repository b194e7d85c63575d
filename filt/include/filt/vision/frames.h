// vexfilt11 vision layer: filtering frames of any size by overlap-save tiles.
//
// A frequency buffer holds at most 2048 pixels a side. A frame plan filters
// larger (or odd-sized) frames in square tiles: each tile of T x T pixels
// (T a power of two, chosen for speed) is read from the frame extended by an
// edge mode (filt/vision/edges.h), transformed, filtered by the filter
// realised at size T, and transformed back; only its core, the pixels at
// least `margin` from the tile's border, is kept. Tiles overlap by 2 *
// margin, their cores tile the frame.
//
// What the result is. Realised at size T, a filter is a circular convolution
// with its impulse response h (the inverse transform of its coefficients, T x
// T complex values, the origin at (0, 0)). A core pixel is exact for the part
// of h within the margin (Chebyshev distance max(|dx|, |dy|) <= margin) and
// reads wrong pixels for the rest, the tail. So, with x the frame extended by
// the edge mode, every output pixel differs from the double-precision
// convolution (x * h)(p) = sum_q h(q) x(p - q) by at most
//     tailL1 * (high - low) + rounding,
// where tailL1 = sum of |h| over the tail, [low, high] holds every value of
// the extended frame (0 included in zero mode), and rounding covers the
// single-precision spectra (see pixelErrorBound). The margin is the smallest
// radius that leaves at most `tolerance` of h's energy (sum of |h|^2) in the
// tail; errorBound() is the fraction it leaves.
//
// Filters are described in cycles per pixel, as the filter classes take them,
// without a size: the plan builds them at T. DC radii count elements of the
// tile's spectrum (1: the zero frequency alone). A kernel filter is a small
// spatial kernel (double pixels, complex if an imaginary part is given)
// whose centre pixel (width/2, height/2) is the origin: the output at p is
// sum_q k(centre + q) x(p - q), i.e. a convolution, not a correlation.
//
// Threads: the library starts none. A plan is immutable once built; its
// tiles are independent jobs that may run in any order on any threads
// (runJob is const; give each thread its own Workspace), with the same
// result, bit for bit, as run(). Frame runs poll the attention check before
// every tile.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "filt/freqfilt.h"
#include "filt/vision/edges.h"

// A filter for frames: one of the library's filters by its parameters, with
// no size. Values; cheap to copy (a kernel shares its pixels).
class VEXFILT_API vcFrameFilter {
 public:
  enum Kind : std::int32_t { eBandPass = 0, eBandReject = 1, eGabor = 2, eGaborReject = 3, eKernel = 4 };

  // The parameters as the filter classes take them (freqfilt.h); they are
  // checked here with the classes' own errors (InvalidArgument).
  static vcFrameFilter bandPass(double sigma, double plateau, double frequency, long dcRemovalRadius = 0);
  static vcFrameFilter bandReject(double sigma, double plateau, double frequency, long dcProtectionRadius = 0);
  static vcFrameFilter gabor(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle,
                             double frequency, long dcRemovalRadius = 0);
  static vcFrameFilter gaborReject(const vcPair<double>& sigma, const vcPair<double>& plateau, vcRadian angle,
                                   double frequency, long dcProtectionRadius = 0);
  // A kernel of 1 to 2048 pixels a side (a copy is kept). Throws
  // UnboundWindow (no text) for an unbound image, InvalidSize "Kernel sides
  // must be from 1 to 2048." and InvalidSize "Real and Imaginary kernels must
  // have the same size." for a pair that differs.
  static vcFrameFilter kernel(const vcPelBuffer_const<double>& real);
  static vcFrameFilter kernel(const vcPelBuffer_const<double>& real, const vcPelBuffer_const<double>& imaginary);
  // The description of a built filter (its own size is ignored). An image
  // filter becomes the kernel its spectrum is the transform of: the complex
  // inverse of its stored buffer, the origin moved to the centre pixel.
  // Throws Uninitialized "FrequencyFilter has not been initialized" for an
  // Empty filter, std::invalid_argument for a class it does not know.
  static vcFrameFilter from(const vcFrequencyFilter& filter);

  Kind kind() const { return kind_; }
  // The filter built for spectra of size x size (a power of two, 1..2048);
  // a kernel must fit (InvalidSize "Kernel does not fit the tile." if not).
  std::unique_ptr<vcFrequencyFilter> realise(long size) const;
  // The kernel's sides (0 for the parametric kinds).
  long kernelWidth() const { return kernelReal_.width(); }
  long kernelHeight() const { return kernelReal_.height(); }

 private:
  vcFrameFilter() = default;

  Kind kind_ = eBandPass;
  vcPair<double> sigma_;
  vcPair<double> plateau_;
  vcRadian angle_;
  double frequency_ = 0.0;
  long dcRadius_ = 0;
  vcPelBuffer<double> kernelReal_;
  vcPelBuffer<double> kernelImaginary_;  // unbound for a real kernel
};

// One tile: read the (extended) frame over `input` (x, y, width, height in
// frame pixels, may reach outside it), write the frame pixels of `output`
// (always inside the frame, inside input's core).
struct vcFrameRect {
  long x = 0, y = 0, width = 0, height = 0;
};
struct vcFrameJob {
  long index = 0;  // position in jobs(), row of tiles by row of tiles
  vcFrameRect input;
  vcFrameRect output;
};

// The range of magnitudes over some tiles; merge ranges of all jobs, then
// hand the total to the stretched 8/16-bit runs. Empty: low > high.
struct vcFrameRange {
  double low = 1e300;
  double high = -1e300;
  void merge(const vcFrameRange& other) {
    if (other.low < low) low = other.low;
    if (other.high > high) high = other.high;
  }
};

class VEXFILT_API vcFramePlan {
 public:
  // Frame sides supported: 1 to 65536.
  static constexpr long kMaxSide = 65536;
  // Tile sides considered: powers of two up to one buffer.
  static constexpr long kMaxTile = 2048;

  // What a double output receives.
  enum Output : std::int32_t { eReal = 0, eMagnitude = 1, eImaginary = 2 };

  // Called after each tile of a frame run with (tiles done, tiles in all).
  using Progress = std::function<void(long done, long total)>;

  // Scratch of one thread running tiles: a spectrum and a tile image,
  // allocated on first use and reused. Not to be shared between threads.
  class VEXFILT_API Workspace {
   public:
    Workspace();
    ~Workspace();
    Workspace(Workspace&&) noexcept;
    Workspace& operator=(Workspace&&) noexcept;

   private:
    struct State;
    std::unique_ptr<State> state_;
    friend class vcFramePlan;
  };

  // Builds the plan for width x height frames. tileSize 0 chooses the tile
  // for speed among the powers of two that hold the filter's extent (its
  // margin measured at growing sizes until it settles, so that a tile too
  // coarse to resolve the filter is never taken) and leave a core; a power
  // of two from 1 to 2048 imposes it. Building measures impulse responses of
  // up to 2048 x 2048 (transient memory, about 40 MiB at the largest). Throws, before allocating for a frame:
  // InvalidSize "Frame width and height must be from 1 to 65536.",
  // InvalidArgument "Tolerance must be between 0 and 1." (exclusive),
  // InvalidSize "Tile size must be 0 or a power of 2 up to 2048.", the
  // filter's own errors, and std::invalid_argument naming the tolerance the
  // largest tile could reach when the filter's response is too long for it
  // (or for the imposed tile).
  vcFramePlan(long width, long height, const vcFrameFilter& filter, vcEdgeMode edge = vcEdgeMode::eZero,
              double tolerance = 1e-4, long tileSize = 0);
  ~vcFramePlan();
  vcFramePlan(const vcFramePlan&) = delete;
  vcFramePlan& operator=(const vcFramePlan&) = delete;
  vcFramePlan(vcFramePlan&&) noexcept;
  vcFramePlan& operator=(vcFramePlan&&) noexcept;

  long width() const { return width_; }
  long height() const { return height_; }
  vcEdgeMode edge() const { return edge_; }
  double tolerance() const { return tolerance_; }
  long tileSize() const { return tile_; }
  long margin() const { return margin_; }
  // tileSize() - 2 * margin(): the side of a tile's core.
  long core() const { return tile_ - 2 * margin_; }
  // The fraction of the impulse response's energy outside the margin
  // (<= tolerance()).
  double errorBound() const;
  // Sums of |h| over the tail and over all of h.
  double tailL1() const { return tailL1_; }
  double responseL1() const { return responseL1_; }
  // A bound on |output - (x * h)| for any pixel (real, imaginary or complex
  // value; the magnitude moves no more than the complex value), for frames
  // whose extended values lie in [low, high] (for integer frames: 0 and the
  // largest pixel):
  //   tailL1 * (high - low) + 2^-24 * 8 * (log2(T) + 1) * responseL1 * max(|low|, |high|).
  // The second term bounds the single-precision spectra's rounding (input
  // rounded to float, two transforms, the product), with room to spare.
  double pixelErrorBound(double low, double high) const;
  const std::vector<vcFrameJob>& jobs() const { return jobs_; }
  // The filter as built at the tile size.
  const vcFrequencyFilter& tileFilter() const { return *filter_; }

  // The impulse response h at the tile size, T x T, its origin moved to
  // pixel (T/2, T/2): h(q) at (T/2 + qx, T/2 + qy) for -T/2 <= q < T/2.
  void impulseResponse(vcPelBuffer<double>& real, vcPelBuffer<double>& imaginary) const;

  // ---- whole frames ----
  // Outputs must be unbound (a new image of the frame's size with the input's
  // offset and transform is made, and assigned only when the run completes)
  // or bound with the frame's size (written tile by tile), sharing no pixels
  // with the input or each other (std::invalid_argument, before writing).
  // Inputs must be bound with the frame's size. Throws UnboundWindow (no text), InvalidSize
  // "Frame does not match the plan." (input) / "Output does not match the
  // plan." before writing, and the attention poll's exception: the run stops
  // before a tile; a bound output then holds the tiles of the jobs before it
  // (jobs() order) and is unchanged elsewhere, an unbound one stays unbound.
  // For T = unsigned char, unsigned short, double.
  //
  // Real part, imaginary part or magnitude as doubles.
  template <class T>
  void run(const vcPelBuffer_const<T>& input, vcPelBuffer<double>& output, Output what = eReal,
           const Progress& progress = {}) const;
  // The complex output.
  template <class T>
  void run(const vcPelBuffer_const<T>& input, vcPelBuffer<double>& real, vcPelBuffer<double>& imaginary,
           const Progress& progress = {}) const;
  // The magnitude as 8- or 16-bit pixels (U = unsigned char, unsigned
  // short), as the whole-buffer inverse makes them: round(m) saturated, or
  // with stretch the low bits of round((m - low) * scale) with low and scale
  // (M / (high - low), M = 255 or 65535, M when high == low) as floats over
  // the whole frame's range. round() is to nearest, ties to even. Stretching
  // runs every tile twice (once for the range, once to write), so as to hold
  // no frame of intermediate values; progress counts both passes.
  template <class T, class U>
  void runMagnitude(const vcPelBuffer_const<T>& input, vcPelBuffer<U>& output, bool stretch,
                    const Progress& progress = {}) const;

  // ---- single tiles, for hosts that spread the work ----
  // Inputs are the whole frame; outputs are bound frame-sized images (jobs
  // write disjoint rectangles, so threads may share one output). Same
  // errors as the runs, checked first, and std::invalid_argument for a job
  // that is not one of jobs(); the attention check is polled before the
  // tile (and by the transforms, as they always do).
  template <class T>
  void runJob(const vcFrameJob& job, const vcPelBuffer_const<T>& input, vcPelBuffer<double>& output, Output what,
              Workspace& workspace) const;
  template <class T>
  void runJob(const vcFrameJob& job, const vcPelBuffer_const<T>& input, vcPelBuffer<double>& real,
              vcPelBuffer<double>& imaginary, Workspace& workspace) const;
  // The magnitudes' range over the job's output rectangle.
  template <class T>
  vcFrameRange rangeJob(const vcFrameJob& job, const vcPelBuffer_const<T>& input, Workspace& workspace) const;
  // 8/16-bit magnitudes; `range` is the whole frame's (merged rangeJob
  // results) when stretching, ignored otherwise.
  template <class T, class U>
  void runMagnitudeJob(const vcFrameJob& job, const vcPelBuffer_const<T>& input, vcPelBuffer<U>& output, bool stretch,
                       const vcFrameRange& range, Workspace& workspace) const;

 private:
  // Checks shared by the entry points (defined with them).
  template <class T>
  void checkInput(const vcPelBuffer_const<T>& input) const;
  void checkJob(const vcFrameJob& job) const;
  // The raw complex inverse of one filtered tile (T x T, unscaled), in the
  // workspace's spectrum.
  template <class T>
  const float* transformTile(const vcFrameJob& job, const vcPelBuffer_const<T>& input, Workspace& workspace) const;

  long width_ = 0;
  long height_ = 0;
  vcEdgeMode edge_ = vcEdgeMode::eZero;
  double tolerance_ = 0.0;
  long tile_ = 0;
  long margin_ = 0;
  double energy_ = 1.0;
  double tailEnergy_ = 0.0;
  double tailL1_ = 0.0;
  double responseL1_ = 0.0;
  std::unique_ptr<vcFrequencyFilter> filter_;
  std::vector<vcFrameJob> jobs_;
};

// FFTW (single precision) doing the same work the way a user of FFTW would.
//
// Plans: fftwf_plan_dft_2d (out of place, both directions, and in place
// backward for the Gabor pipeline), fftwf_plan_dft_r2c_2d and
// fftwf_plan_dft_c2r_2d, made once per shape with FFTW_MEASURE on arrays of
// their own (measuring overwrites them) and run with the new-array execute
// functions on each case's arrays, which fftwf_malloc aligns alike.
//
//   complex_forward / complex_inverse  one c2c execute, input to output.
//   real_forward   pixels to floats, r2c into the half spectrum, then the
//                  full spectrum the library and OpenCV give: the half copied
//                  and the other columns filled by conjugate symmetry.
//   inverse_u8     the left W/2+1 columns of the spectrum copied into the
//                  half array (c2r overwrites its input), c2r, round(|x| * k).
//                  c2r relies on the spectrum being conjugate symmetric, which
//                  this one is; the library computes the full complex inverse.
//   gabor_pipeline r2c; the full array zeroed and only the Gaussian patch
//                  written (patch values from the half spectrum, by symmetry
//                  where needed, times the mask); in-place c2c backward;
//                  round(|z| * k). The patch is one-sided, so the result is
//                  complex: c2r does not apply.
//   bandpass_pipeline  r2c; the half spectrum times the (real, symmetric)
//                  ring; c2r; round(|x| * k).
// k = 1/(W*H); 8-bit results are saturated at 255 and rounded to nearest,
// ties to even, as the library does.

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "cases.h"
#include "memory_probe.h"

namespace {

struct FftwFree {
  void operator()(void* p) const { fftwf_free(p); }
};
using ComplexArray = std::unique_ptr<fftwf_complex[], FftwFree>;
using RealArray = std::unique_ptr<float[], FftwFree>;

ComplexArray complexArray(long n) {
  return ComplexArray(fftwf_alloc_complex(static_cast<std::size_t>(n)));
}
RealArray realArray(long n) {
  return RealArray(fftwf_alloc_real(static_cast<std::size_t>(n)));
}

struct Plan {
  fftwf_plan plan = nullptr;
  Plan() = default;
  explicit Plan(fftwf_plan p) : plan(p) {}
  Plan(const Plan&) = delete;
  Plan& operator=(const Plan&) = delete;
  ~Plan() {
    if (plan != nullptr) fftwf_destroy_plan(plan);
  }
};

// One element of the Gabor patch: full-array index `to` gets half-spectrum
// element `from` (conjugated when it stands for its mirror) times (re, im).
struct PatchCell {
  std::uint32_t to, from;
  bool conjugate;
  float re, im;
};

// The FFTW side of a shape: plans (all made with the side), and, made when
// first needed (as inputsFor's parts), the inputs in fftwf_malloc arrays, the
// Gabor patch and the ring over the half spectrum.
struct Side {
  Shape shape;
  long halfWidth;  // W/2 + 1 complex values per row of the half spectrum
  Plan forward, backward, backwardInPlace, r2c, c2r;
  ComplexArray complexInput, spectrum;
  std::vector<PatchCell> gaborPatch;
  std::vector<float> bandPassHalf;

  explicit Side(Shape s) : shape(s), halfWidth(s.width / 2 + 1) {
    const int W = static_cast<int>(s.width), H = static_cast<int>(s.height);
    const long n = s.width * s.height;
    ComplexArray a = complexArray(n), b = complexArray(n), half = complexArray(s.height * halfWidth);
    RealArray real = realArray(n);
    forward.plan = fftwf_plan_dft_2d(H, W, a.get(), b.get(), FFTW_FORWARD, FFTW_MEASURE);
    backward.plan = fftwf_plan_dft_2d(H, W, a.get(), b.get(), FFTW_BACKWARD, FFTW_MEASURE);
    backwardInPlace.plan = fftwf_plan_dft_2d(H, W, a.get(), a.get(), FFTW_BACKWARD, FFTW_MEASURE);
    r2c.plan = fftwf_plan_dft_r2c_2d(H, W, real.get(), half.get(), FFTW_MEASURE);
    c2r.plan = fftwf_plan_dft_c2r_2d(H, W, half.get(), real.get(), FFTW_MEASURE);
  }

  void complete(const Inputs& in, unsigned need) {
    const long W = shape.width, H = shape.height;
    if ((need & kNeedComplex) && !complexInput) complexInput = copy(in.complexValues);
    if ((need & kNeedSpectrum) && !spectrum) spectrum = copy(in.spectrumValues);
    if ((need & kNeedGabor) && gaborPatch.empty())
      for (long y = 0; y < H; ++y)
        for (long x = 0; x < W; ++x) {
          const long i = y * W + x;
          const float re = in.gaborMask[2 * i], im = in.gaborMask[2 * i + 1];
          if (re == 0.0f && im == 0.0f) continue;
          const bool mirrored = x >= halfWidth;
          const long from = mirrored ? ((H - y) % H) * halfWidth + (W - x) : y * halfWidth + x;
          gaborPatch.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(from), mirrored, re, im});
        }
    if ((need & kNeedBandPass) && bandPassHalf.empty()) {
      bandPassHalf.resize(static_cast<std::size_t>(H * halfWidth));
      for (long y = 0; y < H; ++y)
        for (long x = 0; x < halfWidth; ++x)
          bandPassHalf[static_cast<std::size_t>(y * halfWidth + x)] = in.bandPassMask[2 * (y * W + x)];
    }
  }

  static ComplexArray copy(const std::vector<float>& values) {
    ComplexArray a = complexArray(static_cast<long>(values.size() / 2));
    std::memcpy(a.get(), values.data(), values.size() * sizeof(float));
    return a;
  }
};

// The side of a shape with at least the parts in `need` (a new shape replaces
// the last side).
const Side& sideFor(Shape s, unsigned need) {
  static std::unique_ptr<Side> current;
  const Inputs& in = inputsFor(s, need);
  if (!current || !(current->shape == s)) {
    current.reset();
    current = std::make_unique<Side>(s);
  }
  current->complete(in, need);
  return *current;
}

void toFloats(const vcPelBuffer<unsigned char>& image, float* to) {
  const long W = image.width();
  for (long y = 0; y < image.height(); ++y) {
    const unsigned char* row = image.pointToOffset() + y * image.rep().rowStride();
    float* out = to + y * W;
    for (long x = 0; x < W; ++x) out[x] = static_cast<float>(row[x]);
  }
}

// round(min(v, 255)) to nearest, ties to even, for 0 <= v (adding and taking
// away 1.5 * 2^23 rounds a float to an integer in the current rounding mode).
inline unsigned char toPixel(float v) {
  v = std::min(v, 255.0f);
  return static_cast<unsigned char>(static_cast<int>((v + 0x1.8p23f) - 0x1.8p23f));
}

void magnitudesToPixels(const fftwf_complex* z, long n, float k, unsigned char* out) {
  for (long i = 0; i < n; ++i) out[i] = toPixel(std::sqrt(z[i][0] * z[i][0] + z[i][1] * z[i][1]) * k);
}

void absToPixels(const float* x, long n, float k, unsigned char* out) {
  for (long i = 0; i < n; ++i) out[i] = toPixel(std::fabs(x[i]) * k);
}

float scale(Shape s) {
  return 1.0f / static_cast<float>(s.width * s.height);
}

// Reports how far a case's output is from the library's: complex values, or W x H pixels.
void check(benchmark::State& state, Shape s, Op op, const fftwf_complex* values) {
  reportDifference(state, s, op, reinterpret_cast<const float*>(values));
}
void check(benchmark::State& state, Shape s, Op op, const unsigned char* pixels) {
  reportDifference(state, s, op, pixels, s.width);
}

// What every case does once its arrays are made: `run` once untimed (it touches
// the output's fresh pages, and its output is checked when this process checks
// outputs), then `run` in the timed loop, then the memory report.
template <class Run, class Out>
void measure(benchmark::State& state, Shape s, Op op, const Run& run, Out* out) {
  run();
  if (checkingOutputs()) check(state, s, op, out);
  for (auto _ : state) {
    run();
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  reportMemory(state);
}

template <bool forward>
void complexCase(benchmark::State& state, Shape s) {
  const Op op = forward ? Op::complexForward : Op::complexInverse;
  const Side& side = sideFor(s, needOf(op));
  memoryBaseline();
  ComplexArray out = complexArray(s.width * s.height);
  fftwf_complex* input = forward ? side.complexInput.get() : side.spectrum.get();
  const fftwf_plan plan = forward ? side.forward.plan : side.backward.plan;
  measure(
      state, s, op, [&] { fftwf_execute_dft(plan, input, out.get()); }, out.get());
}

void realForwardCase(benchmark::State& state, Shape s) {
  const Side& side = sideFor(s, needOf(Op::realForward));
  const Inputs& in = inputsFor(s, needOf(Op::realForward));
  memoryBaseline();
  const long W = s.width, H = s.height, hw = side.halfWidth;
  RealArray real = realArray(W * H);
  ComplexArray half = complexArray(H * hw), full = complexArray(W * H);
  auto run = [&] {
    toFloats(in.image, real.get());
    fftwf_execute_dft_r2c(side.r2c.plan, real.get(), half.get());
    for (long y = 0; y < H; ++y) {
      fftwf_complex* row = full.get() + y * W;
      std::memcpy(row, half.get() + y * hw, static_cast<std::size_t>(hw) * sizeof(fftwf_complex));
      const fftwf_complex* mirror = half.get() + ((H - y) % H) * hw;
      for (long x = hw; x < W; ++x) {
        row[x][0] = mirror[W - x][0];
        row[x][1] = -mirror[W - x][1];
      }
    }
  };
  measure(state, s, Op::realForward, run, full.get());
}

void inverseU8Case(benchmark::State& state, Shape s) {
  const Side& side = sideFor(s, needOf(Op::inverseU8));
  memoryBaseline();
  const long W = s.width, H = s.height, hw = side.halfWidth;
  ComplexArray half = complexArray(H * hw);
  RealArray real = realArray(W * H);
  std::vector<unsigned char> out(static_cast<std::size_t>(W * H));
  const float k = scale(s);
  auto run = [&] {
    for (long y = 0; y < H; ++y)
      std::memcpy(half.get() + y * hw, side.spectrum.get() + y * W,
                  static_cast<std::size_t>(hw) * sizeof(fftwf_complex));
    fftwf_execute_dft_c2r(side.c2r.plan, half.get(), real.get());
    absToPixels(real.get(), W * H, k, out.data());
  };
  measure(state, s, Op::inverseU8, run, out.data());
}

void gaborPipelineCase(benchmark::State& state, Shape s) {
  const Side& side = sideFor(s, needOf(Op::gaborPipeline));
  const Inputs& in = inputsFor(s, needOf(Op::gaborPipeline));
  memoryBaseline();
  const long W = s.width, H = s.height, hw = side.halfWidth;
  RealArray real = realArray(W * H);
  ComplexArray half = complexArray(H * hw), full = complexArray(W * H);
  std::vector<unsigned char> out(static_cast<std::size_t>(W * H));
  const float k = scale(s);
  auto run = [&] {
    toFloats(in.image, real.get());
    fftwf_execute_dft_r2c(side.r2c.plan, real.get(), half.get());
    std::memset(full.get(), 0, static_cast<std::size_t>(W * H) * sizeof(fftwf_complex));
    for (const PatchCell& c : side.gaborPatch) {
      const float a = half[c.from][0], b = c.conjugate ? -half[c.from][1] : half[c.from][1];
      full[c.to][0] = a * c.re - b * c.im;
      full[c.to][1] = a * c.im + b * c.re;
    }
    fftwf_execute_dft(side.backwardInPlace.plan, full.get(), full.get());
    magnitudesToPixels(full.get(), W * H, k, out.data());
  };
  measure(state, s, Op::gaborPipeline, run, out.data());
}

void bandPassPipelineCase(benchmark::State& state, Shape s) {
  const Side& side = sideFor(s, needOf(Op::bandPassPipeline));
  const Inputs& in = inputsFor(s, needOf(Op::bandPassPipeline));
  memoryBaseline();
  const long W = s.width, H = s.height, hw = side.halfWidth;
  RealArray real = realArray(W * H);
  ComplexArray half = complexArray(H * hw);
  std::vector<unsigned char> out(static_cast<std::size_t>(W * H));
  const float k = scale(s);
  auto run = [&] {
    toFloats(in.image, real.get());
    fftwf_execute_dft_r2c(side.r2c.plan, real.get(), half.get());
    for (long i = 0; i < H * hw; ++i) {
      const float m = side.bandPassHalf[static_cast<std::size_t>(i)];
      half[i][0] *= m;
      half[i][1] *= m;
    }
    fftwf_execute_dft_c2r(side.c2r.plan, half.get(), real.get());
    absToPixels(real.get(), W * H, k, out.data());
  };
  measure(state, s, Op::bandPassPipeline, run, out.data());
}

}  // namespace

CaseFn fftwCase(Op op) {
  // In the order of Op.
  static constexpr CaseFn kCases[] = {complexCase<true>, complexCase<false>, realForwardCase,
                                      inverseU8Case,     gaborPipelineCase,  bandPassPipelineCase};
  return kCases[static_cast<std::size_t>(op)];
}

void fftwLoadWisdom(const std::string& path) {
  if (!path.empty()) fftwf_import_wisdom_from_filename(path.c_str());
}

void fftwSaveWisdom(const std::string& path) {
  if (!path.empty()) fftwf_export_wisdom_to_filename(path.c_str());
}

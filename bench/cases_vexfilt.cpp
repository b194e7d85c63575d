// The library's cases, each written as a host would call it.
//
// complex_forward and complex_inverse use the buffer-to-buffer forms into a
// second buffer (the library copies the source into it, then transforms in
// place); inverse_u8 uses the const form, which transforms a copy, so the
// shared spectrum stays a spectrum. The pipelines filter in place and invert
// in place: the next forward refills the buffer. 8-bit outputs go to an
// unbound image each call, which the library assigns a new image (a bound one
// would receive a copy of it).

#include "cases.h"
#include "memory_probe.h"

namespace {

void complexForward(const Inputs& in, vcFrequencyBuffer& out) {
  vfForwardFFT(in.complexInput, out);
}
void complexInverse(const Inputs& in, vcFrequencyBuffer& out) {
  vfInverseFFT(in.spectrum, out);
}
void realForward(const Inputs& in, vcFrequencyBuffer& out) {
  vfForwardFFT<unsigned char>(in.image, out);
}
void inverseU8(const Inputs& in, vcPelBuffer<unsigned char>& out) {
  vfInverseFFT<unsigned char>(in.spectrum, out, false);
}
void pipeline(const Inputs& in, const vcFrequencyFilter& filter, vcFrequencyBuffer& work,
              vcPelBuffer<unsigned char>& out) {
  vfForwardFFT<unsigned char>(in.image, work);
  filter.apply(work);
  vfInverseFFT<unsigned char>(work, out, false, true);
}

using BufferOp = void (*)(const Inputs&, vcFrequencyBuffer&);

template <BufferOp op, Op which>
void bufferCase(benchmark::State& state, Shape s) {
  const Inputs& in = inputsFor(s, needOf(which));
  memoryBaseline();
  vcFrequencyBuffer out;
  op(in, out);  // untimed: the first call touches the output's fresh pages
  for (auto _ : state) {
    op(in, out);
    benchmark::DoNotOptimize(&out);
    benchmark::ClobberMemory();
  }
  reportMemory(state);
}

void inverseU8Case(benchmark::State& state, Shape s) {
  const Inputs& in = inputsFor(s, needOf(Op::inverseU8));
  memoryBaseline();
  {
    vcPelBuffer<unsigned char> first;  // untimed, as in the other cases
    inverseU8(in, first);
  }
  for (auto _ : state) {
    vcPelBuffer<unsigned char> out;
    inverseU8(in, out);
    benchmark::DoNotOptimize(out.pointToOffset());
    benchmark::ClobberMemory();
  }
  reportMemory(state);
}

template <bool gabor>
void pipelineCase(benchmark::State& state, Shape s) {
  const Inputs& in = inputsFor(s, needOf(gabor ? Op::gaborPipeline : Op::bandPassPipeline));
  const vcFrequencyFilter& filter = gabor ? static_cast<const vcFrequencyFilter&>(in.gabor) : in.bandPass;
  memoryBaseline();
  vcFrequencyBuffer work;
  {
    vcPelBuffer<unsigned char> first;  // untimed: sizes `work` and touches it
    pipeline(in, filter, work, first);
  }
  for (auto _ : state) {
    vcPelBuffer<unsigned char> out;
    pipeline(in, filter, work, out);
    benchmark::DoNotOptimize(out.pointToOffset());
    benchmark::ClobberMemory();
  }
  reportMemory(state);
}

std::vector<unsigned char> pixelsOf(const vcPelBuffer<unsigned char>& image) {
  std::vector<unsigned char> p(static_cast<std::size_t>(image.width() * image.height()));
  for (long y = 0; y < image.height(); ++y)
    for (long x = 0; x < image.width(); ++x)
      p[static_cast<std::size_t>(y * image.width() + x)] = image.pointToOffset()[y * image.rep().rowStride() + x];
  return p;
}

Reference compute(const Inputs& in, Op op) {
  Reference r;
  vcFrequencyBuffer buffer;
  vcPelBuffer<unsigned char> image;
  switch (op) {
    case Op::complexForward:
      complexForward(in, buffer);
      break;
    case Op::complexInverse:
      complexInverse(in, buffer);
      break;
    case Op::realForward:
      realForward(in, buffer);
      break;
    case Op::inverseU8:
      inverseU8(in, image);
      break;
    case Op::gaborPipeline:
      pipeline(in, in.gabor, buffer, image);
      break;
    case Op::bandPassPipeline:
      pipeline(in, in.bandPass, buffer, image);
      break;
  }
  if (producesPixels(op))
    r.pixels = pixelsOf(image);
  else
    r.values = valuesOf(buffer);
  return r;
}

}  // namespace

CaseFn vexfiltCase(Op op) {
  // In the order of Op.
  static constexpr CaseFn kCases[] = {bufferCase<complexForward, Op::complexForward>,
                                      bufferCase<complexInverse, Op::complexInverse>,
                                      bufferCase<realForward, Op::realForward>,
                                      inverseU8Case,
                                      pipelineCase<true>,
                                      pipelineCase<false>};
  return kCases[static_cast<std::size_t>(op)];
}

const Reference& vexfiltReference(Shape shape, Op op) {
  static Shape cachedShape{0, 0};
  static Reference cached[std::size(kOps)];
  static bool made[std::size(kOps)] = {};
  if (!(cachedShape == shape)) {
    for (std::size_t i = 0; i < std::size(kOps); ++i) {
      cached[i] = Reference();
      made[i] = false;
    }
    cachedShape = shape;
  }
  const auto i = static_cast<std::size_t>(op);
  if (!made[i]) {
    cached[i] = compute(inputsFor(shape, needOf(op)), op);
    made[i] = true;
  }
  return cached[i];
}

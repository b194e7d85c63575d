// vexfilt-bench: the matrix of cases.h for six shapes, registered shape by
// shape and, within an operation, the three implementations one after the
// other, so that a drift in the machine's load hits them alike.
//
// Environment: VEXFILT_BENCH_WISDOM names an FFTW wisdom file read before and
// written after the run; VEXFILT_BENCH_MEMORY=1 turns on the memory counter
// (memory_probe.h). Everything else is Google Benchmark's command line.

#include <fftw3.h>
#include <filt/version.h>

#include <cstdlib>
#include <exception>
#include <opencv2/core.hpp>
#include <string>

#include "cases.h"

namespace {

constexpr Shape kShapes[] = {{256, 256}, {512, 512}, {1024, 1024}, {2048, 2048}, {2048, 512}, {512, 2048}};

struct Implementation {
  const char* name;
  CaseFn (*caseFor)(Op);
};

constexpr Implementation kImplementations[] = {{"vexfilt", vexfiltCase}, {"fftw", fftwCase}, {"opencv", opencvCase}};

void registerAll() {
  for (const Shape& shape : kShapes)
    for (Op op : kOps)
      for (const Implementation& impl : kImplementations) {
        const std::string name = std::string(impl.name) + "/" + opName(op) + "/" + std::to_string(shape.width) + "x" +
                                 std::to_string(shape.height);
        const CaseFn fn = impl.caseFor(op);
        benchmark::RegisterBenchmark(name.c_str(), [fn, shape](benchmark::State& state) {
          try {
            fn(state, shape);
          } catch (const std::exception& e) {
            state.SkipWithError(e.what());
          }
        })->Unit(benchmark::kMillisecond);
      }
}

}  // namespace

int main(int argc, char** argv) {
  cv::setNumThreads(1);
  const char* wisdom = std::getenv("VEXFILT_BENCH_WISDOM");
  const std::string wisdomPath = wisdom != nullptr ? wisdom : "";
  fftwLoadWisdom(wisdomPath);

  registerAll();
  benchmark::AddCustomContext("vexfilt", VEXFILT_VERSION_STRING);
  benchmark::AddCustomContext("fftw", fftwf_version);
  benchmark::AddCustomContext("opencv", CV_VERSION);
  benchmark::AddCustomContext("opencv_threads", std::to_string(cv::getNumThreads()));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  fftwSaveWisdom(wisdomPath);
  return 0;
}

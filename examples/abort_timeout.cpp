// Stopping long work. Transforms poll the platform's attention check; a host
// stops them with a process-wide abort request (from any thread) or a
// deadline for one thread, and they leave by an exception. Here a worker
// transforms images in a loop until the main thread asks it to abort; then
// the main thread sets itself a 50 ms deadline and transforms until it
// passes. Both stops must come, each as its own exception, and work must go
// on normally once the request and the deadline are cleared.
//
//   abort-timeout

#include <filt/fft.h>
#include <vexsys/attention.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

vcPelBuffer<unsigned char> testImage() {
  vcPelBuffer<unsigned char> image(1024, 1024);
  for (long y = 0; y < image.height(); ++y)
    for (long x = 0; x < image.width(); ++x) image.set(x, y, static_cast<unsigned char>((x ^ y) & 0xff));
  return image;
}

}  // namespace

int main() {
  try {
    const vcPelBuffer<unsigned char> image = testImage();

    // 1. Abort from another thread. The request stays pending until cleared,
    //    so the worker's next poll is sure to see it.
    std::atomic<long> transforms{0};
    bool aborted = false;
    std::thread worker([&] {
      vcFrequencyBuffer spectrum;
      try {
        for (;;) {
          vfForwardFFT<unsigned char>(image, spectrum);
          ++transforms;
        }
      } catch (const vcAbortRequested& e) {
        aborted = true;
        std::printf("worker: \"%s\" after %ld transforms\n", e.what(), transforms.load());
      } catch (const vcException& e) {
        std::printf("worker: unexpected \"%s\"\n", e.what());
      }
    });
    while (transforms.load() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    vsys_request_abort();
    worker.join();
    vsys_clear_abort();

    // 2. A deadline for this thread only.
    bool timedOut = false;
    long done = 0;
    vcFrequencyBuffer spectrum;
    vsys_set_timeout(0.05);
    try {
      for (;;) {
        vfForwardFFT<unsigned char>(image, spectrum);
        ++done;
      }
    } catch (const vcTimedOut& e) {
      timedOut = true;
      std::printf("main: \"%s\" after %ld transforms\n", e.what(), done);
    }
    vsys_set_timeout(0.0);

    // 3. Cleared: the buffer left half-transformed by the stop is simply
    //    transformed again.
    vfForwardFFT<unsigned char>(image, spectrum);
    const bool recovered = vsys_attention_check() == VSYS_OK && spectrum.getReal(0, 0, false) > 0.0;
    std::printf("after clearing: %s\n", recovered ? "transforms run normally" : "STILL STOPPED");
    return aborted && timedOut && recovered ? 0 : 1;
  } catch (const vcException& e) {
    std::fprintf(stderr, "abort-timeout: %s\n", e.what());
    return 2;
  }
}

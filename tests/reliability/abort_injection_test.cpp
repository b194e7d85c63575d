// Abort injection: every operation that polls the attention check is failed
// at each of its polls in turn (k = 1 .. n, n counted on a clean run). Each
// such run must leave by vcAbortRequested at exactly that poll, leave the
// caller's buffers and bound images in their documented state, and leak
// nothing (the sanitizer builds); a clean run afterwards must give the same
// results as before. Then the time-out and a cross-thread abort request on a
// 2048 x 2048 transform.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <iostream>
#include <thread>

#include "filt/freqfilt.h"
#include "support/images.h"
#include "vexsys/attention.h"

namespace {

// Runs one operation with the current fault: none, or an abort at poll k.
struct Injector {
  long k = 0;       // 0: no fault
  long polls = 0;   // polls the last call made
  bool aborted = false;

  bool call(const std::function<void()>& op) {
    const long before = vsys_attention_polls();
    if (k > 0) vsys_fail_poll_after(k, VSYS_ABORTED);
    aborted = false;
    try {
      op();
    } catch (const vcAbortRequested&) {
      aborted = true;
    }
    vsys_fail_poll_after(0, 0);
    polls = vsys_attention_polls() - before;
    return aborted;
  }
};

long gOperations = 0, gInjected = 0;

// Prints the totals at the end of the run.
struct Totals : testing::Environment {
  void TearDown() override {
    std::cout << "abort injection: " << gOperations << " operations, " << gInjected << " polls injected\n";
  }
};
const auto* const kTotals = testing::AddGlobalTestEnvironment(new Totals);

// Drives `body` (which makes fresh objects, calls inj.call once and checks
// the state it leaves) clean, then failing each poll, then clean again.
long everyPoll(const std::function<void(Injector&)>& body) {
  Injector inj;
  body(inj);
  EXPECT_FALSE(inj.aborted);
  const long n = inj.polls;
  EXPECT_GT(n, 0);
  for (inj.k = 1; inj.k <= n; ++inj.k) {
    SCOPED_TRACE(testing::Message() << "abort at poll " << inj.k << " of " << n);
    body(inj);
    EXPECT_TRUE(inj.aborted);
    EXPECT_EQ(inj.polls, inj.k);
  }
  inj.k = 0;
  body(inj);
  EXPECT_FALSE(inj.aborted);
  ++gOperations;
  gInjected += n;
  return n;
}

struct Size {
  long w, h;
};
const Size kSizes[] = {{40, 40}, {20, 33}, {1, 40}, {40, 1}};
const vcPair<long> kOffsets[] = {{0, 0}, {-3, 2}};

vc2XformCache someXform() {
  vc2XformCache x;
  x.xform(vc2XformLinear(vcMatrix<2>(vcRadian(0.2), vcRadian(0.0), 1.5, 2.0), vcVector<2>(4.0, -1.0)));
  return x;
}

template <class T>
vcPelBuffer<T> input(Size s, vcPair<long> offset, std::uint32_t salt) {
  vcPelBuffer<T> image = vftest::randomImage<T>(s.w, s.h, 200.0, salt);
  image.offset(offset);
  image.copyXforms(someXform());
  return image;
}

template <class T>
bool samePixels(const vcPelBuffer_const<T>& a, const vcPelBuffer_const<T>& b) {
  if (a.width() != b.width() || a.height() != b.height() || a.offset() != b.offset()) return false;
  for (long y = 0; y < a.height(); ++y)
    for (long x = 0; x < a.width(); ++x)
      if (!(a.get(x, y) == b.get(x, y))) return false;
  return true;
}

// Every field of a buffer, the band and image size included.
bool sameBuffer(const vcFrequencyBuffer& a, const vcFrequencyBuffer& b) {
  return a == b && a.maskedMiny() == b.maskedMiny() && a.maskedMaxy() == b.maskedMaxy();
}

// A bound caller image as a host would pass it: its own size, offset and
// transform, filled with a marker.
template <class T>
vcPelBuffer<T> boundImage() {
  vcPelBuffer<T> image(5, 3);
  image.offset(-1, 1);
  vfPelSet(image, T(7));
  return image;
}

// After an aborted forward the result holds the new size and the image's
// geometry (and a partly transformed array).
template <class T>
void expectResized(const vcFrequencyBuffer& b, const vcPelBuffer_const<T>& image) {
  EXPECT_EQ(b.imageWidth(), image.width());
  EXPECT_EQ(b.imageHeight(), image.height());
  EXPECT_GE(b.width(), image.width());
  EXPECT_LT(b.width(), 2 * image.width());
  EXPECT_EQ(b.offset(), image.offset());
  EXPECT_EQ(b.masked(), 0);
  EXPECT_FALSE(b.inverseComputed());
}

template <class T>
long forwardCases() {
  long injected = 0;
  for (Size s : kSizes)
    for (vcPair<long> offset : kOffsets) {
      SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " offset " << offset.x);
      const vcPelBuffer<T> re = input<T>(s, offset, 1), im = input<T>(s, offset, 2);
      const vcPelBuffer<T> reCopy = input<T>(s, offset, 1);
      vcFrequencyBuffer single, pair;
      vfForwardFFT(re, single);
      vfForwardFFT(re, im, pair);
      injected += everyPoll([&](Injector& inj) {
        vcFrequencyBuffer result(4, 4);
        if (inj.call([&] { vfForwardFFT(re, result); }))
          expectResized(result, re);
        else
          EXPECT_TRUE(sameBuffer(result, single));
        EXPECT_TRUE(samePixels<T>(re, reCopy));
      });
      injected += everyPoll([&](Injector& inj) {
        vcFrequencyBuffer result(4, 4);
        if (inj.call([&] { vfForwardFFT(re, im, result); }))
          expectResized(result, re);
        else
          EXPECT_TRUE(sameBuffer(result, pair));
      });
    }
  return injected;
}

TEST(AbortInjection, ForwardOfImagesAndPairs) {
  const long n = forwardCases<unsigned char>() + forwardCases<unsigned short>() + forwardCases<double>();
  RecordProperty("polls_injected", static_cast<int>(n));
}

// The spectra the inverse cases start from: every size and offset, and one
// carrying a row band (its inverse skips rows).
std::vector<vcFrequencyBuffer> spectra() {
  std::vector<vcFrequencyBuffer> out;
  for (Size s : kSizes)
    for (vcPair<long> offset : kOffsets) {
      out.emplace_back();
      vfForwardFFT(input<unsigned char>(s, offset, 3), out.back());
    }
  vcFrequencyBuffer banded = out.front();
  vcFrequencyFilterGabor({0.05, 0.05}, {0.0, 0.0}, vcRadian(0.4), 0.2, {64, 64}, 0).apply(banded);
  out.push_back(banded);
  return out;
}

// The state an aborted inverse leaves in its source: unchanged when it works
// on a copy; in place, still a spectrum while the abort came from inside the
// engine (k <= enginePolls, array partly transformed), else marked and
// holding the whole spatial result.
void expectSourceAfterAbort(const vcFrequencyBuffer& source, const vcFrequencyBuffer& spectrum, bool inPlace, long k,
                            long enginePolls, const vcFrequencyBuffer& spatial) {
  if (!inPlace)
    EXPECT_TRUE(sameBuffer(source, spectrum));
  else if (k <= enginePolls)
    EXPECT_FALSE(source.inverseComputed());
  else
    EXPECT_TRUE(sameBuffer(source, spatial));
}

long enginePollsOf(const vcFrequencyBuffer& spectrum, vcFrequencyBuffer& spatial) {
  spatial = spectrum;
  const long before = vsys_attention_polls();
  vcFrequencyBuffer ignored;
  vfInverseFFT(spatial, ignored, true);
  return vsys_attention_polls() - before;
}

TEST(AbortInjection, InverseToBuffers) {
  for (const vcFrequencyBuffer& spectrum : spectra()) {
    vcFrequencyBuffer spatial, expected;
    const long enginePolls = enginePollsOf(spectrum, spatial);
    vfInverseFFT(spectrum, expected);
    for (bool inPlace : {false, true}) {
      SCOPED_TRACE(testing::Message() << spectrum.width() << "x" << spectrum.height() << " in place " << inPlace);
      everyPoll([&](Injector& inj) {
        vcFrequencyBuffer source = spectrum, result(2, 2);
        const vcFrequencyBuffer resultBefore = result;
        if (inj.call([&] { vfInverseFFT(source, result, inPlace); })) {
          expectSourceAfterAbort(source, spectrum, inPlace, inj.k, enginePolls, spatial);
          if (inPlace) { EXPECT_TRUE(sameBuffer(result, resultBefore)); }  // assigned only at the end
        } else {
          EXPECT_TRUE(sameBuffer(result, expected));
        }
      });
    }
  }
}

TEST(AbortInjection, InverseToDoublePairs) {
  for (const vcFrequencyBuffer& spectrum : spectra())
    for (bool inPlace : {false, true})
      for (bool bound : {false, true}) {
        vcFrequencyBuffer spatial;
        const long enginePolls = enginePollsOf(spectrum, spatial);
        auto output = [&] { return bound ? boundImage<double>() : vcPelBuffer<double>(); };
        vcFrequencyBuffer reference = spectrum;
        vcPelBuffer<double> wantRe = output(), wantIm = output();
        vfInverseFFT(reference, wantRe, wantIm, false);
        everyPoll([&](Injector& inj) {
          vcFrequencyBuffer source = spectrum;
          vcPelBuffer<double> re = output(), im = output();
          if (inj.call([&] { vfInverseFFT(source, re, im, inPlace); })) {
            expectSourceAfterAbort(source, spectrum, inPlace, inj.k, enginePolls, spatial);
            if (bound) {  // untouched, transform included
              EXPECT_TRUE(samePixels<double>(re, boundImage<double>()));
              EXPECT_TRUE(samePixels<double>(im, boundImage<double>()));
              EXPECT_TRUE(re.xforms().isIdentity() && im.xforms().isIdentity());
            }
          } else {
            EXPECT_TRUE(samePixels<double>(re, wantRe));
            EXPECT_TRUE(samePixels<double>(im, wantIm));
          }
        });
      }
}

enum class Side { none, angle, quadrant };

// One image inverse: output type T, side output, stretch, in place; bound
// caller images or unbound ones.
template <class T>
void inverseImageCase(const vcFrequencyBuffer& spectrum, Side side, bool stretch, bool inPlace, bool bound) {
  vcFrequencyBuffer spatial;
  const long enginePolls = enginePollsOf(spectrum, spatial);
  auto run = [&](vcFrequencyBuffer& source, vcPelBuffer<T>& image, vcPelBuffer<double>& angle,
                 vcPelBuffer<unsigned char>& quadrant) {
    if (side == Side::none) vfInverseFFT(source, image, stretch, inPlace);
    if (side == Side::angle) vfInverseFFTAngle(source, image, angle, stretch, inPlace);
    if (side == Side::quadrant) vfInverseFFTQuadrant(source, image, quadrant, stretch, inPlace);
  };
  auto output = [&](auto pixel) {
    using P = decltype(pixel);
    return bound ? boundImage<P>() : vcPelBuffer<P>();
  };
  vcFrequencyBuffer reference = spectrum;
  vcPelBuffer<T> wantImage = output(T());
  vcPelBuffer<double> wantAngle = output(0.0);
  vcPelBuffer<unsigned char> wantQuadrant = output(static_cast<unsigned char>(0));
  run(reference, wantImage, wantAngle, wantQuadrant);
  everyPoll([&](Injector& inj) {
    vcFrequencyBuffer source = spectrum;
    vcPelBuffer<T> image = output(T());
    vcPelBuffer<double> angle = output(0.0);
    vcPelBuffer<unsigned char> quadrant = output(static_cast<unsigned char>(0));
    if (inj.call([&] { run(source, image, angle, quadrant); })) {
      expectSourceAfterAbort(source, spectrum, inPlace, inj.k, enginePolls, spatial);
      if (bound) {  // untouched, whichever poll failed
        EXPECT_TRUE(samePixels<T>(image, boundImage<T>()));
        EXPECT_TRUE(samePixels<double>(angle, boundImage<double>()));
        EXPECT_TRUE(samePixels<unsigned char>(quadrant, boundImage<unsigned char>()));
      }
    } else {
      EXPECT_TRUE(samePixels<T>(image, wantImage));
      if (side == Side::angle) { EXPECT_TRUE(samePixels<double>(angle, wantAngle)); }
      if (side == Side::quadrant) { EXPECT_TRUE(samePixels<unsigned char>(quadrant, wantQuadrant)); }
    }
  });
}

TEST(AbortInjection, InverseToImagesWithSideOutputs) {
  for (const vcFrequencyBuffer& spectrum : spectra())
    for (Side side : {Side::none, Side::angle, Side::quadrant})
      for (bool stretch : {false, true})
        for (bool inPlace : {false, true})
          for (bool bound : {false, true}) {
            SCOPED_TRACE(testing::Message() << spectrum.width() << "x" << spectrum.height() << " offset "
                                            << spectrum.offset().x << " side " << static_cast<int>(side)
                                            << " stretch " << stretch << " in place " << inPlace << " bound "
                                            << bound);
            inverseImageCase<unsigned char>(spectrum, side, stretch, inPlace, bound);
            inverseImageCase<unsigned short>(spectrum, side, stretch, inPlace, bound);
            inverseImageCase<double>(spectrum, side, stretch, inPlace, bound);
          }
}

// The other polling entry points: the buffer forward, the side outputs on
// their own and the two-image constructor.
TEST(AbortInjection, BufferForwardSideOutputsAndPairConstructor) {
  for (const vcFrequencyBuffer& spectrum : spectra()) {
    vcFrequencyBuffer expected;
    vfForwardFFT(spectrum, expected);
    everyPoll([&](Injector& inj) {
      vcFrequencyBuffer destination(2, 2);
      if (inj.call([&] { vfForwardFFT(spectrum, destination); })) {
        EXPECT_EQ(destination.width(), spectrum.width());
        EXPECT_EQ(destination.imageHeight(), spectrum.imageHeight());
        EXPECT_EQ(destination.masked(), 0);
      } else {
        EXPECT_TRUE(sameBuffer(destination, expected));
      }
    });
    everyPoll([&](Injector& inj) {
      vcPelBuffer<double> angle = boundImage<double>();
      vcPelBuffer<unsigned char> quadrant = boundImage<unsigned char>();
      const bool aborted = inj.call([&] {
        vf_ComputeAngleImage(spectrum, angle);
        vf_ComputeQuadrantImage(spectrum, quadrant);
      });
      if (aborted) { EXPECT_TRUE(samePixels<unsigned char>(quadrant, boundImage<unsigned char>())); }
      // Within the angle image's own polls (the first half) it is untouched.
      const bool inAngle = 2 * inj.k <= (spectrum.offset() == vcPair<long>(0, 0) ? 2 : 4);
      if (aborted && inAngle) { EXPECT_TRUE(samePixels<double>(angle, boundImage<double>())); }
    });
  }
  const vcPelBuffer<double> re = input<double>({40, 3}, {0, 0}, 5), im = input<double>({40, 3}, {0, 0}, 6);
  everyPoll([&](Injector& inj) { inj.call([&] { vcFrequencyBuffer made(re, im); }); });
}

// A deadline that has passed leaves a 2048 x 2048 forward by vcTimedOut with
// the result sized; it belongs to the calling thread only; cleared, the same
// call works.
TEST(AbortInjection, TimeOutOfALargeTransform) {
  const vcPelBuffer<unsigned char> image = vftest::randomImage<unsigned char>(2048, 2048, 255.0, 9);
  vcFrequencyBuffer result;
  vsys_set_timeout(1e-9);
  std::thread other([] {  // another thread's transform is not affected
    vcFrequencyBuffer small;
    EXPECT_NO_THROW(vfForwardFFT(vftest::randomImage<unsigned char>(64, 64, 255.0, 1), small));
  });
  other.join();
  EXPECT_THROW(vfForwardFFT(image, result), vcTimedOut);
  EXPECT_EQ(result.width(), 2048);
  vsys_set_timeout(0);
  vsys_set_timeout(3600);  // a distant deadline never fires
  EXPECT_NO_THROW(vfForwardFFT(image, result));
  vsys_set_timeout(0);
  vcPelBuffer<unsigned char> back;
  vfInverseFFT(result, back, false);
  EXPECT_TRUE(samePixels<unsigned char>(back, image));
}

// An abort requested from a second thread while a 2048 x 2048 transform runs
// stops it at its next poll. The handshake: the worker announces that it is
// about to transform, the main thread then requests the abort, which stays
// pending until cleared; should a transform have finished before the request,
// the worker's next one stops at its first poll. No timing is assumed.
TEST(AbortInjection, CrossThreadAbortOfALargeTransform) {
  const vcPelBuffer<double> image = vftest::randomImage<double>(2048, 2048, 1.0, 4);
  std::atomic<bool> started{false};
  bool aborted = false;
  vcFrequencyBuffer result;
  std::thread worker([&] {
    vcFrequencyBuffer local;
    started.store(true);
    while (!aborted) {
      try {
        vfForwardFFT(image, local);
      } catch (const vcAbortRequested&) {
        aborted = true;
      }
    }
    result = std::move(local);
  });
  while (!started.load()) std::this_thread::yield();
  vsys_request_abort();
  worker.join();
  vsys_clear_abort();
  EXPECT_TRUE(aborted);
  EXPECT_EQ(result.width(), 2048);
  EXPECT_NO_THROW(vfForwardFFT(image, result));
}

}  // namespace

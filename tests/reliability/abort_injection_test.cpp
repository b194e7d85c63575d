// Abort injection: every operation that polls the attention check is failed at each of
// its polls in turn (k = 1 .. n, n counted on a clean run). Each such run must leave by
// vcAbortRequested at exactly that poll, leave the caller's buffers and bound images in
// their documented state, and leak nothing (the sanitizer builds); a clean run
// afterwards must give the same results as before. Then the time-out and a
// cross-thread abort request on a 2048 x 2048 transform.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "filt/freqfilt.h"
#include "support/buffer_helpers.h"
#include "support/images.h"
#include "vexsys/attention.h"

namespace {

using vftest::sameBuffer;
using vftest::samePixels;

// Runs one operation with the current fault: none, or an abort at poll k.
struct Injector {
  long k = 0;      // 0: no fault
  long polls = 0;  // polls the last call made
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

// Drives `body` (which makes fresh objects, calls inj.call once and checks the state
// it leaves) clean, then failing each poll, then clean again; returns the polls.
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
  return n;
}

struct Size {
  long w, h;
};
const Size kSizes[] = {{40, 40}, {20, 33}, {1, 40}, {40, 1}};
const vcPair<long> kOffsets[] = {{0, 0}, {-3, 2}};

template <class T>
vcPelBuffer<T> input(Size s, vcPair<long> offset, std::uint32_t salt) {
  vcPelBuffer<T> image = vftest::randomImage<T>(s.w, s.h, 200.0, salt);
  image.offset(offset);
  vc2XformCache x;
  x.xform(vc2XformLinear(vcMatrix<2>(vcRadian(0.2), vcRadian(0.0), 1.5, 2.0), vcVector<2>(4.0, -1.0)));
  image.copyXforms(x);
  return image;
}

// A bound caller image as a host would pass it: its own size and offset, filled with
// a marker; or an unbound one.
template <class T>
vcPelBuffer<T> callerImage(bool bound) {
  vcPelBuffer<T> image;
  if (!bound) return image;
  image = vcPelBuffer<T>(5, 3);
  image.offset(-1, 1);
  vfPelSet(image, T(7));
  return image;
}

template <class T>
void forwardCases() {
  for (Size s : kSizes)
    for (vcPair<long> offset : kOffsets) {
      SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " offset " << offset.x);
      const vcPelBuffer<T> re = input<T>(s, offset, 1), im = input<T>(s, offset, 2), reCopy = input<T>(s, offset, 1);
      for (bool pair : {false, true}) {
        vcFrequencyBuffer want;
        pair ? vfForwardFFT(re, im, want) : vfForwardFFT(re, want);
        everyPoll([&](Injector& inj) {
          vcFrequencyBuffer result(4, 4);
          if (inj.call([&] { pair ? vfForwardFFT(re, im, result) : vfForwardFFT(re, result); })) {
            // The result holds the new size and the image's geometry (and a partly
            // transformed array).
            EXPECT_EQ(std::tuple(result.imageWidth(), result.imageHeight(), result.offset(), result.masked()),
                      std::tuple(re.width(), re.height(), re.offset(), 0L));
            EXPECT_TRUE(result.width() >= re.width() && result.width() < 2 * re.width());
            EXPECT_FALSE(result.inverseComputed());
          } else {
            EXPECT_TRUE(sameBuffer(result, want));
          }
          EXPECT_TRUE(samePixels<T>(re, reCopy));
        });
      }
    }
}

TEST(AbortInjection, ForwardOfImagesAndPairs) {
  forwardCases<unsigned char>();
  forwardCases<unsigned short>();
  forwardCases<double>();
}

// The spectra the inverse cases start from: every size and offset, and one carrying a
// row band (its inverse skips rows).
std::vector<vcFrequencyBuffer> spectra() {
  std::vector<vcFrequencyBuffer> out;
  for (Size s : kSizes)
    for (vcPair<long> offset : kOffsets) vfForwardFFT(input<unsigned char>(s, offset, 3), out.emplace_back());
  vcFrequencyBuffer banded = out.front();
  vcFrequencyFilterGabor({0.05, 0.05}, {0.0, 0.0}, vcRadian(0.4), 0.2, {64, 64}, 0).apply(banded);
  out.push_back(banded);
  return out;
}

// Everything an inverse can write: a buffer, a double pair, an image of type T with its
// angle or quadrant image; caller images bound or not.
template <class T>
struct Outputs {
  bool bound;
  vcFrequencyBuffer buffer{2, 2};
  vcPelBuffer<T> image = callerImage<T>(bound);
  vcPelBuffer<double> re = callerImage<double>(bound), im = callerImage<double>(bound),
                      angle = callerImage<double>(bound);
  vcPelBuffer<unsigned char> quadrant = callerImage<unsigned char>(bound);

  bool sameImages(const Outputs& o) const {
    return samePixels<T>(image, o.image) && samePixels<double>(re, o.re) && samePixels<double>(im, o.im) &&
           samePixels<double>(angle, o.angle) && samePixels<unsigned char>(quadrant, o.quadrant);
  }
};

enum class Form { buffer, pair, image, angle, quadrant };

template <class T>
void inverse(Form form, vcFrequencyBuffer& source, Outputs<T>& o, bool stretch, bool inPlace) {
  switch (form) {
    case Form::buffer:
      return vfInverseFFT(source, o.buffer, inPlace);
    case Form::pair:
      return vfInverseFFT(source, o.re, o.im, inPlace);
    case Form::image:
      return vfInverseFFT(source, o.image, stretch, inPlace);
    case Form::angle:
      return vfInverseFFTAngle(source, o.image, o.angle, stretch, inPlace);
    case Form::quadrant:
      return vfInverseFFTQuadrant(source, o.image, o.quadrant, stretch, inPlace);
  }
}

// One inverse of every spectrum, failed at each poll. After an abort the source is
// unchanged when the call works on a copy; in place, it is still a spectrum while the
// abort came from inside the engine (k <= its polls, the array partly transformed),
// else marked and holding the whole spatial result. A buffer result in place is
// assigned only at the end; bound caller images are untouched, transform included.
template <class T>
void inverseCases(Form form) {
  for (const vcFrequencyBuffer& spectrum : spectra())
    for (bool stretch : {false, true})
      for (bool inPlace : {false, true})
        for (bool bound : {false, true}) {
          if ((form == Form::buffer || form == Form::pair) && stretch) continue;
          if (form == Form::buffer && bound) continue;  // no caller images
          SCOPED_TRACE(testing::Message()
                       << spectrum.width() << "x" << spectrum.height() << " offset " << spectrum.offset().x << " form "
                       << int(form) << " stretch " << stretch << " in place " << inPlace << " bound " << bound);
          vcFrequencyBuffer spatial = spectrum, ignored, reference = spectrum;
          const long before = vsys_attention_polls();
          vfInverseFFT(spatial, ignored, true);
          const long enginePolls = vsys_attention_polls() - before;
          Outputs<T> want{bound};
          inverse(form, reference, want, stretch, false);
          everyPoll([&](Injector& inj) {
            vcFrequencyBuffer source = spectrum;
            Outputs<T> o{bound};
            if (!inj.call([&] { inverse(form, source, o, stretch, inPlace); })) {
              EXPECT_TRUE(sameBuffer(o.buffer, want.buffer) && o.sameImages(want));
              return;
            }
            if (!inPlace)
              EXPECT_TRUE(sameBuffer(source, spectrum));
            else if (inj.k <= enginePolls)
              EXPECT_FALSE(source.inverseComputed());
            else
              EXPECT_TRUE(sameBuffer(source, spatial));
            EXPECT_TRUE(form != Form::buffer || !inPlace || sameBuffer(o.buffer, vcFrequencyBuffer(2, 2)));
            if (bound) {
              EXPECT_TRUE(o.sameImages(Outputs<T>{true}));
              EXPECT_TRUE(o.image.xforms().isIdentity() && o.re.xforms().isIdentity() && o.im.xforms().isIdentity());
            }
          });
        }
}

TEST(AbortInjection, InverseToBuffersAndDoublePairs) {
  inverseCases<double>(Form::buffer);
  inverseCases<double>(Form::pair);
}

TEST(AbortInjection, InverseToImagesWithSideOutputs) {
  for (Form form : {Form::image, Form::angle, Form::quadrant}) {
    inverseCases<unsigned char>(form);
    inverseCases<unsigned short>(form);
    inverseCases<double>(form);
  }
}

// The other polling entry points: the buffer forward, the side outputs on their own
// and the two-image constructor.
TEST(AbortInjection, BufferForwardSideOutputsAndPairConstructor) {
  for (const vcFrequencyBuffer& spectrum : spectra()) {
    vcFrequencyBuffer expected;
    vfForwardFFT(spectrum, expected);
    everyPoll([&](Injector& inj) {
      vcFrequencyBuffer destination(2, 2);
      if (inj.call([&] { vfForwardFFT(spectrum, destination); }))
        EXPECT_EQ(std::tuple(destination.width(), destination.imageHeight(), destination.masked()),
                  std::tuple(spectrum.width(), spectrum.imageHeight(), 0L));
      else
        EXPECT_TRUE(sameBuffer(destination, expected));
    });
    everyPoll([&](Injector& inj) {
      vcPelBuffer<double> angle = callerImage<double>(true);
      vcPelBuffer<unsigned char> quadrant = callerImage<unsigned char>(true);
      const bool aborted = inj.call([&] {
        vf_ComputeAngleImage(spectrum, angle);
        vf_ComputeQuadrantImage(spectrum, quadrant);
      });
      EXPECT_TRUE(!aborted || samePixels<unsigned char>(quadrant, callerImage<unsigned char>(true)));
      // Within the angle image's own polls (the first half) it is untouched.
      const bool inAngle = 2 * inj.k <= (spectrum.offset() == vcPair<long>(0, 0) ? 2 : 4);
      EXPECT_TRUE(!aborted || !inAngle || samePixels<double>(angle, callerImage<double>(true)));
    });
  }
  const vcPelBuffer<double> re = input<double>({40, 3}, {0, 0}, 5), im = input<double>({40, 3}, {0, 0}, 6);
  const long polls = everyPoll([&](Injector& inj) { inj.call([&] { vcFrequencyBuffer made(re, im); }); });
  EXPECT_EQ(polls, 1);  // the zero padding
}

// A deadline that has passed leaves a 2048 x 2048 forward by vcTimedOut with the
// result sized; it belongs to the calling thread only; cleared, the same call works.
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

// An abort requested from a second thread while a 2048 x 2048 transform runs stops it
// at its next poll. The handshake: the worker announces that it is about to transform,
// the main thread then requests the abort, which stays pending until cleared; should a
// transform have finished before the request, the worker's next one stops at its first
// poll. No timing is assumed.
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

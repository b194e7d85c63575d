// The demo end to end on small images: every filter and every filter option, judged by
// what the pictures must show -- which grating survives, where the response is bright
// -- rather than by exact pixels.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "demo_support.h"

namespace {

using demo::GreyImage;
using demotest::fs::path;
using Args = std::vector<std::string>;

// Two gratings over 128 x 128 pixels: A at 0.125 cycles per pixel along x (0 degrees),
// B at 0.25 along y (90 degrees); each spectrum peak sits on a cell.
constexpr double kAx = 0.125, kBy = 0.25;
GreyImage twoGratings() {
  return demotest::gratings(128, 128, 8, 128, {{kAx, 0, 50}, {0, kBy, 50}});
}

// Runs the demo on `input` (written to dir/in.pgm unless empty), checks that it
// succeeded and wrote six pictures, and returns the one named.
GreyImage runOn(const path& dir, const GreyImage& input, Args args, const char* picture = "response.png") {
  args.insert(args.begin(), {"-o", (dir / "out").string()});
  if (input.width > 0) {
    demo::writeImageFile(dir / "in.pgm", input);
    args.push_back((dir / "in.pgm").string());
  }
  const demotest::Run run = demotest::runDemo(args, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* name :
       {"input.png", "spectrum.png", "response.png", "filtered-spectrum.png", "filtered.png", "filtered-magnitude.png"})
    EXPECT_TRUE(demotest::fs::exists(dir / "out" / name)) << name;
  return demotest::picture(dir, picture);
}

// Response pixels at or above half gain: how many, and the width and height of the box
// around them.
std::tuple<long, long, long> bright(const GreyImage& r) {
  long n = 0, x0 = r.width, x1 = -1, y0 = r.height, y1 = -1;
  for (long y = 0; y < r.height; ++y)
    for (long x = 0; x < r.width; ++x)
      if (r.at(x, y) >= 128)
        ++n, x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
  return {n, x1 - x0 + 1, y1 - y0 + 1};
}

TEST(DemoFilters, EachFilterKeepsTheGratingItSelects) {
  const struct {
    const char* name;
    Args args;
    bool keepsA;
    bool symmetric = true;  // moves nothing: the kept grating keeps its phase
  } cases[] = {
      {"gabor", {"--filter", "gabor", "--frequency", "0.125", "--angle", "0"}, true},
      {"gabor, radians", {"-f", "gabor", "--frequency", "0.25", "--angle", "1.5707963rad"}, false},
      {"gabor, mirrored", {"--filter=gabor", "--frequency", "0.25", "--angle", "90deg", "--mirror"}, false},
      {"gabor-reject, mirrored", {"-f", "gabor-reject", "--frequency", "0.125", "--angle", "0", "--mirror"}, false},
      {"band-pass", {"--filter", "band-pass", "--frequency", "0.125", "--sigma", "0.02"}, true},
      {"band-reject", {"--filter", "band-reject", "--frequency", "0.125", "--sigma", "0.02"}, false},
      {"gaussian kernel", {"--filter", "image", "--kernel", "gauss:2"}, true},
      {"box kernel", {"--filter", "image", "--kernel", "box:4"}, true, false},  // nulls period 4; half a pixel off
  };
  const path dir = demotest::scratchDir("selection");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const GreyImage filtered = runOn(dir, twoGratings(), c.args, "filtered.png");
    ASSERT_EQ(filtered.width, 128);
    const double a = demotest::amplitude(filtered, kAx, 0), b = demotest::amplitude(filtered, 0, kBy);
    EXPECT_GT(c.keepsA ? a / b : b / a, 10.0) << "A " << a << ", B " << b;
    const double fx = c.keepsA ? kAx : 0, fy = c.keepsA ? 0 : kBy;
    if (c.symmetric) {
      EXPECT_NEAR(std::arg(demotest::coefficient(filtered, fx, fy) / demotest::coefficient(twoGratings(), fx, fy)), 0.0,
                  0.05);
    }
  }
}

// One bright pixel in a 64 x 48 image (padded to 64 x 64): the filtered picture is the
// kernel itself, centred on that pixel, sized in pixels.
TEST(DemoFilters, KernelsSpreadAPointWithoutMovingIt) {
  const path dir = demotest::scratchDir("kernels");
  GreyImage point(64, 48, 8);
  point.at(20, 15) = 255;
  const GreyImage gauss = runOn(dir, point, {"--filter", "image", "--kernel", "gauss:2"}, "filtered.png");
  EXPECT_EQ(gauss.at(20, 15), 255);
  EXPECT_NEAR(gauss.at(22, 15), 255 * std::exp(-0.5), 3);  // two pixels: one sigma
  EXPECT_NEAR(gauss.at(20, 11), 255 * std::exp(-2.0), 3);
  EXPECT_EQ(gauss.at(21, 16), gauss.at(19, 14));
  const GreyImage box = runOn(dir, point, {"--filter", "image", "--kernel", "box:3"}, "filtered.png");
  for (long y = 13; y <= 17; ++y)
    for (long x = 18; x <= 22; ++x)
      EXPECT_NEAR(box.at(x, y), std::abs(x - 20) <= 1 && std::abs(y - 15) <= 1 ? 255 : 0, 1) << x << ", " << y;
}

// Zero frequency at (64, 64): A's peaks at columns 80 and 48. One peak rejected leaves
// half of A's amplitude; the mirror rejects both.
TEST(DemoFilters, MirrorAlsoRejectsTheSecondPeakOfARealGrating) {
  const path dir = demotest::scratchDir("mirror");
  for (bool mirror : {false, true}) {
    Args args = {"--filter", "gabor-reject", "--frequency", "0.125", "--angle", "0"};
    if (mirror) args.push_back("--mirror");
    const GreyImage response = runOn(dir, twoGratings(), args);
    EXPECT_EQ(response.at(80, 64), 0);
    EXPECT_EQ(response.at(48, 64), mirror ? 0 : 255);
    const GreyImage filtered = demotest::picture(dir, "filtered.png");
    EXPECT_NEAR(demotest::amplitude(filtered, kAx, 0) / demotest::amplitude(filtered, 0, kBy), mirror ? 0.0 : 0.5,
                0.05);
  }
}

// Sigma and plateau widen the band-pass ring; the across values stretch the Gabor patch
// across its angle.
TEST(DemoFilters, WidthOptions) {
  const path dir = demotest::scratchDir("widths");
  const auto ring = [&](Args more) {
    Args args = {"--filter", "band-pass", "--frequency", "0.2"};
    args.insert(args.end(), more.begin(), more.end());
    return std::get<0>(bright(runOn(dir, twoGratings(), args)));
  };
  const long narrow = ring({"--sigma", "0.005"});
  EXPECT_GT(narrow, 0);
  EXPECT_GT(ring({"--sigma", "0.02"}), 3 * narrow);
  EXPECT_GT(ring({"--sigma", "0.005", "--plateau", "0.03"}), 3 * narrow);

  const auto patch = [&](Args more) {
    Args args = {"--filter", "gabor", "--frequency", "0.25", "--angle", "0", "--sigma", "0.01"};
    args.insert(args.end(), more.begin(), more.end());
    const auto [n, w, h] = bright(runOn(dir, twoGratings(), args));
    return std::pair(w, h);
  };
  const auto [w0, h0] = patch({});
  EXPECT_LE(std::abs(w0 - h0), 1);
  const auto [w1, h1] = patch({"--sigma-across", "0.04"});
  EXPECT_GT(h1, 3 * w1);
  const auto [w2, h2] = patch({"--plateau-across", "0.05"});
  EXPECT_GT(h2, 3 * w2);
  EXPECT_EQ(w2, w0);
}

// Band-pass at frequency 0 passes the zero frequency unless the radius clears the
// (2R-1)^2 square around it; band-reject removes it unless the radius protects it.
TEST(DemoFilters, DcRadiusClearsOrProtectsTheSquareAroundZeroFrequency) {
  const path dir = demotest::scratchDir("dc");
  const auto response = [&](const char* filter, const char* radius) {
    return runOn(dir, twoGratings(), {"-f", filter, "--frequency", "0", "--sigma", "0.05", "--dc-radius", radius});
  };
  EXPECT_EQ(response("band-pass", "0").at(64, 64), 255);
  const GreyImage cleared = response("band-pass", "3");
  EXPECT_EQ(cleared.at(64, 64) + cleared.at(66, 62), 0);
  EXPECT_GT(cleared.at(67, 64), 200);
  EXPECT_EQ(response("band-reject", "0").at(64, 64), 0);
  const GreyImage kept = response("band-reject", "2");
  EXPECT_EQ(kept.at(65, 63), 255);
  EXPECT_LT(kept.at(66, 64), 50);
}

TEST(DemoFilters, SixteenBitPngIsPaddedForTheTransformAndCroppedBack) {
  const path dir = demotest::scratchDir("png16");
  const GreyImage input = demotest::gratings(100, 60, 16, 30000, {{0.1, 0, 20000}});
  demo::writeImageFile(dir / "in.png", input);
  const GreyImage copy =
      runOn(dir, GreyImage(), {(dir / "in.png").string(), "--filter", "band-pass", "--frequency", "0.1"}, "input.png");
  EXPECT_EQ(copy.depth, 16);
  EXPECT_EQ(copy.samples, input.samples);
  for (const char* name :
       {"spectrum.png", "response.png", "filtered-spectrum.png", "filtered.png", "filtered-magnitude.png"}) {
    const GreyImage p = demotest::picture(dir, name);
    const bool spectral = std::string(name).find("spectrum") != std::string::npos || name[0] == 'r';
    EXPECT_EQ(std::pair(p.width, p.height), spectral ? std::pair(128L, 64L) : std::pair(100L, 60L)) << name;
  }
}

TEST(DemoFilters, DefaultRunFindsTheFlawsInTheBuiltInScene) {
  const path dir = demotest::scratchDir("default");
  const GreyImage strength = runOn(dir, GreyImage(), {}, "filtered-magnitude.png");
  ASSERT_EQ(strength.width, 512);
  EXPECT_GT(strength.at(50, 50), 200);   // the selected texture
  EXPECT_LT(strength.at(154, 154), 60);  // the patch where it is missing
  EXPECT_LT(strength.at(348, 317), 60);  // the disc of the other grating
  const demotest::Run small = demotest::runDemo({"--output=" + (dir / "small").string(), "--scene-size", "64"}, dir);
  ASSERT_EQ(small.status, 0) << small.err;
  EXPECT_NE(small.out.find("wrote " + (dir / "small" / "filtered.png").string()), std::string::npos);
  EXPECT_EQ(demo::readImageFile(dir / "small" / "input.png").width, 64);
}

// A frame wider than one buffer goes through a tiled plan: the demo says so in
// one line, filters the whole frame (the selected grating survives everywhere,
// its phase unmoved), and its spectrum pictures are those of one tile.
TEST(DemoFilters, FramesAboveOneBufferGoThroughATiledPlan) {
  const path dir = demotest::scratchDir("frame");
  const GreyImage wide = demotest::gratings(2600, 48, 8, 128, {{kAx, 0, 50}, {0, kBy, 50}});
  demo::writeImageFile(dir / "wide.pgm", wide);
  const demotest::Run run = demotest::runDemo(
      {"-o", (dir / "out").string(), "--frequency", "0.125", "--angle", "0", (dir / "wide.pgm").string()}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("larger than one buffer (2048 a side): filtered through a tiled plan"), std::string::npos)
      << run.out;
  const GreyImage filtered = demotest::picture(dir, "filtered.png");
  ASSERT_EQ(filtered.width, 2600);
  ASSERT_EQ(filtered.height, 48);
  const double a = demotest::amplitude(filtered, kAx, 0), b = demotest::amplitude(filtered, 0, kBy);
  EXPECT_GT(a / b, 10.0) << "A " << a << ", B " << b;
  EXPECT_NEAR(std::arg(demotest::coefficient(filtered, kAx, 0) / demotest::coefficient(wide, kAx, 0)), 0.0, 0.05);
  EXPECT_LE(demotest::picture(dir, "spectrum.png").width, 2048);
}

}  // namespace

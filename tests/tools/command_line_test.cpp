// The demo as a program: help and version, and how it fails -- bad command lines and
// unreadable images end with one line and status 2, refusals of the library and output
// failures with one line and status 1, and no picture is written on any failure.

#include <gtest/gtest.h>

#include <filt/version.h>

#include <string>
#include <vector>

#include "demo_support.h"
#include "png_codec.h"

namespace {

using demotest::runDemo;
using demotest::fs::path;

// One line on stderr, starting with the program's name, nothing on stdout and no
// output directory.
void expectOneLineFailure(const demotest::Run& run, int status, const path& dir, const std::string& part) {
  EXPECT_EQ(run.status, status) << run.err;
  EXPECT_EQ(run.err.rfind("vexfilt-demo: ", 0), 0u) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  EXPECT_NE(run.err.find(part), std::string::npos) << run.err;
  EXPECT_FALSE(demotest::fs::exists(dir / "out" / "input.png"));
}

TEST(DemoCommandLine, HelpAndVersion) {
  const path dir = demotest::scratchDir("help");
  for (const char* flag : {"--help", "-h"}) {
    const demotest::Run run = runDemo({"--frequency", "bad", flag}, dir);  // help wins over the rest
    EXPECT_EQ(run.status, 0);
    for (const char* text :
         {"--output",       "--filter",  "band-pass",        "band-reject", "gabor-reject", "--frequency", "--sigma",
          "--sigma-across", "--plateau", "--plateau-across", "--angle",     "--dc-radius",  "--mirror",    "--kernel",
          "--scene-size",   "--version", "cycles per pixel", "Nyquist",     "rad",          "Exit status"})
      EXPECT_NE(run.out.find(text), std::string::npos) << text;
  }
  const demotest::Run run = runDemo({"--version"}, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("vexfilt-demo ") + VEXFILT_VERSION_STRING + "\n");
}

TEST(DemoCommandLine, BadCommandLinesFailWithStatus2) {
  const path dir = demotest::scratchDir("bad_command_lines");
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"-x"},
      {"--frequency"},
      {"--frequency", "abc"},
      {"--frequency", "0.1x"},
      {"--frequency=nan"},
      {"--dc-radius", "1.5"},
      {"--angle", "30degrees"},
      {"--filter", "lowpass"},
      {"--kernel", "gauss:2"},
      {"--filter", "band-pass", "--angle", "30"},
      {"--filter", "band-reject", "--mirror"},
      {"--filter", "image", "--sigma", "0.1"},
      {"--filter", "image", "--kernel", "triangle:3"},
      {"--filter", "image", "--kernel", "box:0"},
      {"--filter", "image", "--kernel", "gauss:-1"},
      {"--mirror=yes"},
      {"--sigma", "0.1", "--sigma", "0.2"},
      {"--scene-size", "8"},
      {"a.pgm", "b.pgm"},
      {"a.pgm", "--scene-size", "64"},
  };
  for (std::vector<std::string> args : cases) {
    SCOPED_TRACE(args.front());
    args.insert(args.begin(), {"-o", (dir / "out").string()});
    expectOneLineFailure(runDemo(args, dir), 2, dir, "");
  }
  // Unreadable images: the message names the file.
  const std::vector<unsigned char> png = demo::encodePng(demotest::gratings(16, 16, 8, 100, {}));
  std::ofstream(dir / "truncated.png", std::ios::binary)
      .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size() - 10));
  std::ofstream(dir / "truncated.pgm", std::ios::binary) << "P5\n16 16\n255\n" << std::string(100, 'x');
  std::ofstream(dir / "notes.txt") << "not an image\n";
  for (const char* name : {"missing.png", "truncated.png", "truncated.pgm", "notes.txt"}) {
    SCOPED_TRACE(name);
    expectOneLineFailure(runDemo({"-o", (dir / "out").string(), (dir / name).string()}, dir), 2, dir, name);
  }
}

TEST(DemoCommandLine, LibraryRefusalsAndOutputFailuresFailWithStatus1) {
  const path dir = demotest::scratchDir("refusals");
  const std::string out = (dir / "out").string();
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--frequency", "0.7"}, "Frequency must be between 0.0 and 0.5."},
      {{"--sigma", "0"}, "Sigma values must be positive."},
      {{"--filter", "band-pass", "--dc-radius", "-1"}, "DC Removal Radius cannot be negative."},
      {{"--filter", "image", "--kernel", "box:65"}, "box"},
  };
  for (auto [args, message] : cases) {
    args.insert(args.begin(), {"-o", out, "--scene-size", "64"});
    expectOneLineFailure(runDemo(args, dir), 1, dir, message);
  }
  std::ofstream(dir / "file").close();  // an output "directory" below a file
  expectOneLineFailure(runDemo({"-o", (dir / "file" / "out").string(), "--scene-size", "64"}, dir), 1, dir,
                       "output directory");
}

}  // namespace

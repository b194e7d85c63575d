// vexfilt-demo: one frequency-domain filter end to end on a grey image or on
// a built-in scene, with a picture of every step. See --help.

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "args.h"
#include "bank.h"
#include "errors.h"
#include "image_file.h"
#include "pipeline.h"
#include "scene.h"

namespace {

// Every failure is one line: newlines in a message would break that.
void printError(const std::string& message) {
  std::string line = message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  std::cerr << "vexfilt-demo: " << line << '\n';
}

int run(const std::vector<std::string>& args) {
  const demo::Options options = demo::parseArgs(args);
  if (options.help) {
    std::cout << demo::helpText();
    return 0;
  }
  if (options.version) {
    std::cout << "vexfilt-demo " << VEXFILT_VERSION_STRING << '\n';
    return 0;
  }

  demo::GreyImage input;
  if (options.input.empty()) {
    input = demo::makeScene(options.sceneSize);
    std::cout << "input: built-in scene, " << input.width << "x" << input.height << " 8-bit\n";
  } else {
    input = demo::readImageFile(options.input);
    std::cout << "input: " << options.input << ", " << input.width << "x" << input.height << " " << input.depth
              << "-bit\n";
  }
  if (options.bank) return demo::runBank(options, input, options.input.empty());
  std::cout << "filter: " << demo::describeFilter(options) << '\n';

  const std::vector<demo::Picture> pictures = demo::runPipeline(options, input);

  const std::filesystem::path dir(options.outputDir);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw demo::RunError("cannot create the output directory " + dir.string() + ": " + ec.message());
  for (const demo::Picture& picture : pictures) {
    demo::writeImageFile(dir / picture.name, picture.image);
    std::cout << "wrote " << (dir / picture.name).string() << '\n';
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const demo::Error& e) {
    printError(e.what());
    return e.status();
  } catch (const vcException& e) {
    printError(demo::describe(e));
    return demo::kExitFailure;
  } catch (const std::bad_alloc&) {
    printError("out of memory");
    return demo::kExitFailure;
  } catch (const std::exception& e) {
    printError(e.what());
    return demo::kExitFailure;
  }
}
